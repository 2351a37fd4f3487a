#!/usr/bin/env bash
# Installs the Debian 12 packages Brisklet builds, runs and tests with.
# Idempotent: packages that dpkg already knows as installed are skipped, and
# nothing is asked of apt when everything is there.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config make
  # media (the ffmpeg command is used by tests only)
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  ffmpeg
  # vision; opencv-data holds the face detector's model
  libopencv-dev opencv-data
  # loudness of the final mix; the voice detector that tells speech from noise
  libebur128-dev libwebrtc-audio-processing-dev
  # HTTP, JSON, hashing, identities
  libcurl4-openssl-dev nlohmann-json3-dev libssl-dev uuid-dev
  # secrets; gnome-keyring and dbus serve the tests' private Secret Service
  libsecret-1-dev gnome-keyring dbus
  # UI and app loop; the platform plugins give the window a screen (xcb, wayland)
  # and the tests an offscreen one
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev qcoro-qt6-dev qt6-qpa-plugins
  # tests; a private PulseAudio server (with pactl and pacat) plays the microphone and speakers
  libgtest-dev libgmock-dev libcpp-httplib-dev pulseaudio pulseaudio-utils
  # the whole app on a virtual display, the desktop entry checked, a local HTTPS feed
  xvfb xauth desktop-file-utils openssl
  # the install checks: the metainfo validated, the manual pages read, the MIME handlers listed
  appstream groff-base libglib2.0-bin
  # a second reader of our exports beside ffmpeg (gst-launch-1.0, qtdemux, h264parse, avdec_h264)
  gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing: ${missing[*]}" >&2
  echo "install-deps: run this script as root (or with sudo) to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
