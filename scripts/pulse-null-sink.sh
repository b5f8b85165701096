#!/usr/bin/env bash
# Starts a private PulseAudio sound server with one null sink ("nul", 48 kHz
# stereo) for the device tests, touching nothing of the machine's own audio.
# Usage: eval "$(scripts/pulse-null-sink.sh start)"   exports XDG_RUNTIME_DIR
#        scripts/pulse-null-sink.sh stop               ends that server
set -euo pipefail
case "${1:-}" in
  start)
    dir=$(mktemp -d /tmp/playsrv-pulse.XXXXXX)
    chmod 700 "$dir"
    XDG_RUNTIME_DIR=$dir HOME=$dir pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
      --use-pid-file=yes --system=false --log-target=file:"$dir/pulse.log" \
      --load="module-null-sink sink_name=nul rate=48000" --load=module-native-protocol-unix \
      >/dev/null 2>&1 || { echo "echo 'pulseaudio did not start' >&2"; exit 0; }
    for _ in $(seq 50); do
      XDG_RUNTIME_DIR=$dir pactl info >/dev/null 2>&1 && break
      sleep 0.1
    done
    echo "export XDG_RUNTIME_DIR=$dir"
    ;;
  stop)
    dir=${XDG_RUNTIME_DIR:?}
    pid=$(cat "$dir/pulse/pid" 2>/dev/null || true)
    [[ -n $pid ]] && kill "$pid" 2>/dev/null || true
    ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
