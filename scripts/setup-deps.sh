#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Vexilo need,
# and only those that are missing, so that a second run costs nothing.
# Usage: scripts/setup-deps.sh [build]
#   build: only what configuring and compiling the GCC build and encoding the test media need,
#          so that the test command can compile while the rest is installed.
set -euo pipefail

BUILD_PACKAGES=(
  build-essential cmake ninja-build pkg-config mold
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libflatbuffers-dev flatbuffers-compiler
  libgtest-dev googletest
  ffmpeg x265
  libde265-dev
)
# The virtual displays and screenshot tools the tests use, and clang for the fuzz targets.
OTHER_PACKAGES=(
  xvfb xauth xdotool x11-utils imagemagick
  clang libclang-rt-dev
)

packages=("${BUILD_PACKAGES[@]}")
[ "${1:-}" = build ] || packages+=("${OTHER_PACKAGES[@]}")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  # The package lists are read once per run of the calling script.
  if [ -z "${VEXILO_PACKAGE_LISTS_UPDATED:-}" ]; then
    "${sudo_cmd[@]}" apt-get update -qq
  fi
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
