#!/usr/bin/env bash
# Runs a command on a private virtual display (Xvfb, 1920 × 1080), where the application's window
# is a real X11 window; sound and the Secret Service stay out of reach, as in the other suites.
set -euo pipefail
export QT_QPA_PLATFORM=xcb
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/brisklet-test-bus
export PULSE_SERVER=unix:/nonexistent/brisklet-test-pulse
exec xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" "$@"
