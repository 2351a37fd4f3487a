#!/usr/bin/env bash
# `make install DESTDIR=…` in small: installs the build into a staging folder and checks that the
# programs, a valid desktop entry and the icon are there.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
for file in usr/bin/brisklet usr/bin/brisklet-cli; do
  [ -x "$stage/$file" ] || { echo "missing or not executable: $file" >&2; exit 1; }
done
entry="$stage/usr/share/applications/com.kettlewick.Brisklet.desktop"
icon="$stage/usr/share/icons/hicolor/scalable/apps/com.kettlewick.Brisklet.svg"
[ -f "$icon" ] || { echo "missing icon" >&2; exit 1; }
desktop-file-validate "$entry"
grep -q '^MimeType=.*video/quicktime' "$entry" || { echo "the entry opens no QuickTime movies" >&2; exit 1; }
grep -q '^Icon=com.kettlewick.Brisklet$' "$entry" || { echo "the entry names another icon" >&2; exit 1; }
echo "installed: $(cd "$stage" && find . -type f | sort | tr '\n' ' ')"
