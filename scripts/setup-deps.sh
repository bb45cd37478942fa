#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Vexilo need,
# and only those that are missing, so that a second run costs nothing.
# Usage: scripts/setup-deps.sh [build]
#   build: only what configuring and compiling (GCC for the release build, clang for the test
#          build) and encoding the test media need, so that the test command can compile while
#          the rest is installed.
set -euo pipefail

BUILD_PACKAGES=(
  build-essential clang libclang-rt-dev cmake ninja-build pkg-config mold
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libflatbuffers-dev flatbuffers-compiler
  libgtest-dev googletest
  ffmpeg x265
  libde265-dev
)
# The virtual displays and screenshot tools the tests use.
OTHER_PACKAGES=(
  xvfb xauth xdotool x11-utils imagemagick
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
  # Packages are unpacked without an fsync per file: a machine that loses power mid-install
  # installs again anyway, and dpkg spends much of its time in those syncs.
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    -o Dpkg::Options::=--force-unsafe-io "${missing[@]}"
fi
