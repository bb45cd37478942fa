#!/usr/bin/env bash
# Sets everything up and starts Vexilo: installs missing Debian packages,
# builds a release configuration and starts the desktop program, passing this
# script's arguments on to it.
set -euo pipefail
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VEXILO_RUN_BUILD_DIR:-"$repo_dir/build/release"}

bash "$repo_dir/scripts/setup-deps.sh"

cmake -S "$repo_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXILO_BUILD_TESTS=OFF
cmake --build "$build_dir" --parallel "$(nproc)"

desktop="$build_dir/apps/desktop/ui/VexiloDesktop"
worker="$build_dir/apps/analyzer-worker/vexilo-analyzer-worker"
if [ -x "$desktop" ]; then
  exec "$desktop" "$@"
elif [ -x "$worker" ]; then
  exec "$worker" --ping
else
  echo "Nothing to start yet: neither VexiloDesktop nor vexilo-analyzer-worker was built." >&2
  exit 1
fi
