#!/usr/bin/env bash
# Builds a release configuration with the benchmarks and runs each; every
# benchmark prints its own figures.
# Usage: scripts/bench.sh [BENCHMARK...]
set -euo pipefail
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The window benchmarks paint on a display; without one, the run gets a virtual one.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" bash "${BASH_SOURCE[0]}" "$@"
fi
build_dir="$repo_dir/build/bench"

bash "$repo_dir/scripts/setup-deps.sh"
cmake -S "$repo_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVEXILO_BUILD_BENCHMARKS=ON -DVEXILO_BUILD_TESTS=OFF
cmake --build "$build_dir" --parallel "$(nproc)"

# These place their own processes on cores (the worker alone on one), or time what the user waits
# for with every core the machine gives; pinning the whole run would put all of it on one core.
self_placed=" bench_cached_reopen bench_stepping bench_picture_pass "

mapfile -t benchmarks < <(find "$build_dir" -type f -executable -name 'bench_*' -printf '%f\n' | sort)
[ "$#" -gt 0 ] && benchmarks=("$@")
for name in "${benchmarks[@]}"; do
  binary=$(find "$build_dir" -type f -executable -name "$name" | head -n 1)
  echo "== $name"
  if [[ "$self_placed" == *" $name "* ]]; then
    (cd "$build_dir" && "$binary")
  else
    (cd "$build_dir" && taskset -c 0 "$binary")
  fi
done
