#!/usr/bin/env bash
# Runs a command inside a private D-Bus session that holds an unlocked GNOME Keyring, so the
# secret-store tests talk to a real Secret Service and never to the keyring of whoever runs them.
set -euo pipefail

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/data" "$scratch/config" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config"
export XDG_RUNTIME_DIR="$scratch/runtime"

# The keyring daemon reads the throwaway password from stdin, creates the login keyring with
# it, unlocks it and serves org.freedesktop.secrets on the private bus before it returns.
exec dbus-run-session -- bash -c '
  printf throwaway | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  exec "$@"' keyring-session "$@"
