#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
set -euo pipefail
pkgs=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev
      nlohmann-json3-dev libcli11-dev pkg-config libpulse-dev libsoxr-dev
      libsamplerate0-dev pulseaudio pulseaudio-utils libsndfile1-dev dpkg-dev clang libclang-rt-dev
      lintian python3 python3-pytest)
missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# The sound systems: their headers for the build (the libraries are loaded at
# run time), and servers for the device tests. Without recommends: jackd2's
# pull in a desktop's worth of packages.
sound=(libjack-jackd2-dev libasound2-dev libpipewire-0.3-dev libasound2-plugins jackd2 pipewire pipewire-bin
       wireplumber pipewire-pulse dbus-daemon dbus-bin python3-dbus)
sound_missing=()
for p in "${sound[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || sound_missing+=("$p")
done
if ((${#missing[@]} + ${#sound_missing[@]})); then
  echo "installing: ${missing[*]} ${sound_missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  if ((${#missing[@]})); then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
  fi
  if ((${#sound_missing[@]})); then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${sound_missing[@]}"
  fi
fi
