#!/usr/bin/env bash
# Whole-job comparison of the server against cp and SoX, as ratios measured in
# one run: 1-, 10- and 60-minute stereo 44.1-kHz 16-bit WAVs are rendered by
# `playctl play --simulate --output wav:` forward and reverse, beside
# `cp in.wav out.wav`, `sox in.wav out.wav` and `sox in.wav out.wav reverse`.
# The reverse start is the time to the first second of reversed sound: the
# server looping its first reversed second (--loop --seconds 1, output null),
# SoX until the first byte of `sox in.wav -t raw - reverse` arrives.
# The null-out row renders forward to the null output, against cp.
# Each figure is the median of RUNS runs (default 3).
#
# Usage: bench/compare.sh BUILD_DIR [MINUTES...]   (default minutes: 1 10 60)
set -euo pipefail

build=${1:?usage: bench/compare.sh BUILD_DIR [MINUTES...]}
shift
minutes=("$@")
((${#minutes[@]})) || minutes=(1 10 60)
runs=${RUNS:-3}
playctl=$(cd "$build" && pwd)/playctl
[[ -x $playctl ]] || { echo "no playctl in $build (run make build-release)" >&2; exit 1; }

# Set-up: SoX from the Debian packages.
if ! dpkg -s sox >/dev/null 2>&1; then
  echo "installing: sox"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq sox
fi

# Files live on tmpfs when there is one, so disks do not decide the figures.
base=/tmp
[[ -d /dev/shm && -w /dev/shm ]] && base=/dev/shm
work=$(mktemp -d "$base/bench-compare-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Median wall time in milliseconds of running "$@" $runs times.
median_ms() {
  local times=() t0 t1
  for ((r = 0; r < runs; ++r)); do
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1000}'
}

first_reversed_byte() { { sox "$1" -t raw - reverse 2>/dev/null || true; } | head -c 1 >/dev/null; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }

printf '%-6s %-9s %10s %10s %10s %8s %8s\n' "min" "job" "playsrv ms" "cp ms" "sox ms" "x cp" "x sox"
for m in "${minutes[@]}"; do
  in=$work/in-$m.wav
  sox -n -r 44100 -c 2 -b 16 "$in" synth $((m * 60)) sine 440 sine 660 vol 0.5
  out=$work/out.wav
  cp_ms=$(median_ms cp "$in" "$out")
  for job in forward reverse; do
    if [[ $job == forward ]]; then
      srv=$(median_ms "$playctl" play "$in" --simulate --output "wav:$out")
      sx=$(median_ms sox "$in" "$out")
    else
      srv=$(median_ms "$playctl" play "$in" --reverse --simulate --output "wav:$out")
      sx=$(median_ms sox "$in" "$out" reverse)
    fi
    printf '%-6s %-9s %10s %10s %10s %8s %8s\n' "$m" "$job" "$srv" "$cp_ms" "$sx" "$(ratio "$srv" "$cp_ms")" "$(ratio "$srv" "$sx")"
  done
  srv=$(median_ms "$playctl" play "$in" --simulate --output null)
  printf '%-6s %-9s %10s %10s %10s %8s %8s\n' "$m" "null-out" "$srv" "$cp_ms" "-" "$(ratio "$srv" "$cp_ms")" "-"
  srv=$(median_ms "$playctl" play "$in" --reverse --loop --seconds 1 --simulate --output null)
  sx=$(median_ms first_reversed_byte "$in")
  printf '%-6s %-9s %10s %10s %10s %8s %8s\n' "$m" "rev-start" "$srv" "-" "$sx" "-" "$(ratio "$srv" "$sx")"
  rm -f "$in" "$out"
done
