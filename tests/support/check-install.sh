#!/usr/bin/env bash
# `make install` in small. Staged (DESTDIR=…): the programs, a valid desktop entry, the icon, a
# metainfo file that validates and both manual pages are there. Live (no DESTDIR, into a private
# prefix): the desktop's caches are updated, so the file manager offers Brisklet for videos.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage/staged" cmake --install "$build" --prefix /usr >/dev/null
staged="$stage/staged/usr"
for file in bin/brisklet bin/brisklet-cli; do
  [ -x "$staged/$file" ] || { echo "missing or not executable: $file" >&2; exit 1; }
done
entry="$staged/share/applications/com.kettlewick.Brisklet.desktop"
[ -f "$staged/share/icons/hicolor/scalable/apps/com.kettlewick.Brisklet.svg" ] ||
  { echo "missing icon" >&2; exit 1; }
desktop-file-validate "$entry"
grep -q '^MimeType=.*video/quicktime' "$entry" || { echo "the entry opens no QuickTime movies" >&2; exit 1; }
grep -q '^Icon=com.kettlewick.Brisklet$' "$entry" || { echo "the entry names another icon" >&2; exit 1; }
appstreamcli validate --no-net "$staged/share/metainfo/com.kettlewick.Brisklet.metainfo.xml"
for page in brisklet brisklet-cli; do
  manual="$staged/share/man/man1/$page.1"
  [ -f "$manual" ] || { echo "missing manual page: $page" >&2; exit 1; }
  warnings=$(groff -man -ww -z "$manual" 2>&1)
  [ -z "$warnings" ] || { echo "$page.1: $warnings" >&2; exit 1; }
done
[ ! -e "$staged/share/applications/mimeinfo.cache" ] ||
  { echo "a staged install touched the caches (the package's scripts do that)" >&2; exit 1; }

live="$stage/live"
cmake --install "$build" --prefix "$live" >/dev/null
mkdir -p "$stage/home"
# GIO lists an application only when its program is on the PATH, and only from the caches.
handlers=$(HOME="$stage/home" PATH="$live/bin:$PATH" XDG_DATA_HOME="$stage/home" \
  XDG_DATA_DIRS="$live/share:/usr/share" XDG_CONFIG_DIRS="$stage/home" gio mime video/mp4)
grep -q 'com.kettlewick.Brisklet.desktop' <<<"$handlers" ||
  { echo "after a live install, video/mp4 is not offered to Brisklet: $handlers" >&2; exit 1; }
echo "installed: $(cd "$stage/staged" && find . -type f | sort | tr '\n' ' ')"
