#!/usr/bin/env bash
# Starts private sound servers for the device tests and benchmarks, touching
# nothing of the machine's own audio: each in a folder of its own made with
# mktemp, under a name of its own, ended by its process id.
#   PulseAudio  a null sink "nul" (48 kHz stereo, no rewinds, so that a new
#               stream is taken up at once), suspended after 1 s of idleness;
#               its main thread real-time like its sink thread
#   PipeWire    a desktop of its own: session bus, pipewire, wireplumber and
#               pipewire-pulse, with a null sink "nul" (suspended after 1 s
#               of idleness)
#   JACK        jackdbus on a session bus of its own (jack_control with
#               DBUS_SESSION_BUS_ADDRESS=unix:path=$PLAY_JACK_DIR/bus), its
#               dummy driver at 48 kHz, 256-frame periods (real-time
#               scheduling when run as root)
#   ALSA        a configuration of its own: pcm "nul" plays through alsa-lib's
#               pulse plugin into the PulseAudio sink, pcm "take" also writes
#               every frame to take.raw in that folder
# Usage: eval "$(scripts/sound-servers.sh start)"   exports PLAY_PULSE_DIR,
#          PLAY_PIPEWIRE_DIR, PLAY_JACK_SERVER, PLAY_ALSA_CONFIG (and
#          XDG_RUNTIME_DIR, the PulseAudio one, for what plays on `device`)
#        scripts/sound-servers.sh stop              ends them all
#        scripts/sound-servers.sh pipewire DIR      a PipeWire desktop in DIR
#          (process ids in DIR/pids), for a test that kills its own
# A server that does not start is reported on stderr and left out; the
# device tests then fail, saying which.
set -uo pipefail

# Waits up to 5 s for the command to succeed.
await() {
  for _ in $(seq 50); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

start_pulse() {
  local dir; dir=$(mktemp -d /tmp/playsrv-pulse.XXXXXX); chmod 700 "$dir"
  XDG_RUNTIME_DIR=$dir HOME=$dir pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
    --use-pid-file=yes --system=false --disable-shm=yes --log-target=file:"$dir/pulse.log" \
    --load="module-null-sink sink_name=nul rate=48000 norewinds=1" --load=module-native-protocol-unix \
    --load="module-suspend-on-idle timeout=1" >/dev/null 2>&1
  if XDG_RUNTIME_DIR=$dir await pactl info; then
    cp "$dir/pulse/pid" "$dir/pids"
    # The daemon's main thread passes every request of a stream between its
    # real-time sink thread and the client; at its usual nice -11 it is late
    # by more than a 15-ms queue now and then beside two busy processes,
    # which no client can make up. Real-time here, as the sink thread is.
    chrt -f -p 3 "$(cat "$dir/pids")" 2>/dev/null || echo "sound-servers: PulseAudio runs without real-time scheduling" >&2
    echo "export PLAY_PULSE_DIR=$dir XDG_RUNTIME_DIR=$dir"
  else
    echo "sound-servers: PulseAudio did not start (see $dir/pulse.log)" >&2
  fi
}

# A PipeWire desktop in folder $1: session bus, pipewire, wireplumber and
# pipewire-pulse, stock apart from the null sink (which suspends after 1 s
# idle instead of 5, to keep the tests short); process ids in $1/pids.
run_pipewire() {
  local dir=$1
  mkdir -p "$dir/config/pipewire/pipewire.conf.d"
  cat >"$dir/config/pipewire/pipewire.conf.d/nul.conf" <<'CONF'
context.objects = [
  { factory = adapter
    args = {
      factory.name = support.null-audio-sink
      node.name = nul
      media.class = Audio/Sink
      audio.position = [ FL FR ]
      audio.rate = 48000
      session.suspend-timeout-seconds = 1
    }
  }
]
CONF
  echo "autospawn = no" >"$dir/client.conf"
  (
    export XDG_RUNTIME_DIR=$dir HOME=$dir XDG_CONFIG_HOME=$dir/config PIPEWIRE_RUNTIME_DIR=$dir
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus PULSE_SERVER=unix:$dir/pulse/native
    export PULSE_CLIENTCONFIG=$dir/client.conf
    rm -f "$dir/bus" "$dir/pipewire-0"
    dbus-daemon --session --address="unix:path=$dir/bus" --nofork --nopidfile >>"$dir/dbus.log" 2>&1 &
    echo $! >>"$dir/pids"
    await test -S "$dir/bus"
    pipewire >>"$dir/pipewire.log" 2>&1 &
    echo $! >>"$dir/pids"
    await test -S "$dir/pipewire-0"
    wireplumber >>"$dir/wireplumber.log" 2>&1 &
    echo $! >>"$dir/pids"
    pipewire-pulse >>"$dir/pipewire-pulse.log" 2>&1 &
    echo $! >>"$dir/pids"
    await sh -c 'pactl list sinks short | grep -q nul'
  )
}

start_pipewire() {
  local dir; dir=$(mktemp -d /tmp/playsrv-pipewire.XXXXXX); chmod 700 "$dir"
  run_pipewire "$dir"
  if PULSE_SERVER=unix:$dir/pulse/native PULSE_CLIENTCONFIG=$dir/client.conf await sh -c 'pactl list sinks short | grep -q nul'; then
    echo "export PLAY_PIPEWIRE_DIR=$dir"
  else
    echo "sound-servers: PipeWire did not start (see the logs in $dir)" >&2
  fi
}

# jackdbus rather than jackd: the same server, driven through D-Bus
# (jack_control) on a session bus of its own, so that a test can change its
# rate while it runs (a new rate of the driver, then a switch of master).
start_jack() {
  local dir; dir=$(mktemp -d /tmp/playsrv-jack.XXXXXX); chmod 700 "$dir"
  local name; name=playsrv-${dir##*.}
  # Real-time scheduling where it is allowed (as root, as CI runs), so that
  # the dummy card keeps time on a busy machine; without it otherwise.
  local rt=False
  [[ $(id -u) -eq 0 ]] && rt=True
  (
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus HOME=$dir XDG_CONFIG_HOME=$dir/config
    dbus-daemon --session --address="unix:path=$dir/bus" --nofork --nopidfile >>"$dir/dbus.log" 2>&1 &
    echo $! >>"$dir/pids"
    await test -S "$dir/bus"
    # Started here, not by the bus on first call, so that its process id is known.
    jackdbus auto >>"$dir/jackdbus.log" 2>&1 &
    echo $! >>"$dir/pids"
    await sh -c 'dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.jackaudio.service | grep -q true'
    jack_control eps name "$name" && jack_control eps realtime "$rt" && jack_control ds dummy &&
      jack_control dps rate 48000 && jack_control dps period 256 && jack_control start
  ) >>"$dir/jack_control.log" 2>&1
  if JACK_DEFAULT_SERVER=$name await jack_lsp; then
    echo "export PLAY_JACK_SERVER=$name PLAY_JACK_DIR=$dir"
  else
    echo "sound-servers: jackdbus did not start (see the logs in $dir)" >&2
  fi
}

write_alsa() {
  local dir; dir=$(mktemp -d /tmp/playsrv-alsa.XXXXXX)
  cat >"$dir/asound.conf" <<CONF
pcm.nul { type pulse device nul }
pcm.take { type file slave.pcm nul file "$dir/take.raw" format raw }
pcm.!default { type pulse device nul }
CONF
  echo "export PLAY_ALSA_CONFIG=$dir/asound.conf"
}

case "${1:-}" in
  start)
    start_pulse
    start_pipewire
    start_jack
    write_alsa
    ;;
  stop)
    # jackdbus stops its server cleanly only when told: killed, it leaves the
    # server in JACK's registry of servers, which holds eight.
    if [[ -n ${PLAY_JACK_DIR:-} && -S ${PLAY_JACK_DIR}/bus ]]; then
      DBUS_SESSION_BUS_ADDRESS=unix:path=$PLAY_JACK_DIR/bus timeout 10 jack_control exit >/dev/null 2>&1
    fi
    for dir in "${PLAY_PIPEWIRE_DIR:-}" "${PLAY_JACK_DIR:-}" "${PLAY_PULSE_DIR:-}"; do
      [[ -n $dir && -f $dir/pids ]] || continue
      tac "$dir/pids" | while read -r pid; do kill "$pid" 2>/dev/null; done
    done
    sleep 0.3
    for dir in "${PLAY_PIPEWIRE_DIR:-}" "${PLAY_JACK_DIR:-}" "${PLAY_PULSE_DIR:-}" "$(dirname "${PLAY_ALSA_CONFIG:-/nonexistent/x}")"; do
      [[ -n $dir && -d $dir && $dir == /tmp/playsrv-* ]] && rm -rf "$dir"
    done
    ;;
  pipewire)
    run_pipewire "$2"
    ;;
  *) echo "usage: $0 start|stop|pipewire DIR" >&2; exit 2 ;;
esac
exit 0
