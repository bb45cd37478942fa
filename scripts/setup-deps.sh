#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Vexilo need,
# and only those that are missing, so that a second run costs nothing.
set -euo pipefail

VEXILO_PACKAGES=(
  build-essential cmake ninja-build pkg-config mold
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libflatbuffers-dev flatbuffers-compiler
  libgtest-dev googletest
  ffmpeg x265
  xvfb xauth xdotool x11-utils imagemagick
  clang libclang-rt-dev
  libde265-dev
)

missing=()
for package in "${VEXILO_PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
