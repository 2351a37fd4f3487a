#!/usr/bin/env bash
# Runs a command beside a private PulseAudio server, so the sound tests record and play real sound
# without hardware and never touch the sound of whoever runs them. The default output is the null
# sink "out" (record "out.monitor" to hear what was played); the default input "micsrc" hears the
# null sink "mic" (play into "mic" and the command records it).
set -euo pipefail

scratch=$(mktemp -d)
mkdir -m 700 "$scratch/runtime"
export XDG_RUNTIME_DIR="$scratch/runtime" HOME="$scratch"
unset PULSE_SERVER

# `pulseaudio --kill` only signals the daemon, which still writes into the runtime folder as it
# goes; the folder is removed once the daemon is gone, and the command's own status is kept.
stop_server() {
  local status=$? pid
  pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null || true)
  pulseaudio --kill >/dev/null 2>&1 || true
  for _ in $(seq 100); do
    [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  rm -rf "$scratch" || true
  exit "$status"
}
trap stop_server EXIT

cat > "$scratch/rig.pa" <<'RIG'
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=out
load-module module-null-sink sink_name=mic
load-module module-remap-source master=mic.monitor source_name=micsrc
set-default-sink out
set-default-source micsrc
RIG
pulseaudio -n -F "$scratch/rig.pa" --daemonize=yes --exit-idle-time=-1 --log-target=stderr \
  --log-level=error
for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.05
done
"$@"
