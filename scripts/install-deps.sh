#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with, skipping those already present.
# Usage: install-deps.sh [--look]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libgtest-dev libgmock-dev libbenchmark-dev
  libtomlplusplus-dev libaubio-dev
  fonts-liberation2 fontconfig
  clang libclang-rt-dev
)

# With --look, also what it takes to look at the desktop program in a real window: a virtual display, a window
# manager, real input and screenshots.
if [ "${1:-}" = "--look" ]; then
  packages+=(xvfb openbox xdotool imagemagick)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
