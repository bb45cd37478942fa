#!/usr/bin/env bash
# Builds every libFuzzer target with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for the given number of seconds
# (default 600). Seed corpora live in <module>/fuzz/corpus/<target>/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$repo_dir/build/fuzz"
seconds=${1:-600}
shift || true

bash "$repo_dir/scripts/setup-deps.sh"
CC=clang CXX=clang++ cmake -S "$repo_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXILO_SANITIZE=ON -DVEXILO_BUILD_FUZZERS=ON -DVEXILO_BUILD_TESTS=OFF
cmake --build "$build_dir" --parallel "$(nproc)" --target fuzzers

mapfile -t targets < <(find "$build_dir" -type f -executable -name 'fuzz_*' -printf '%f\n' | sort)
[ "$#" -gt 0 ] && targets=("$@")
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for target in "${targets[@]}"; do
  binary=$(find "$build_dir" -type f -executable -name "$target" | head -n 1)
  seeds=$(find "$repo_dir" -path "*/fuzz/corpus/$target" -type d | head -n 1)
  work="$build_dir/corpus/$target"
  mkdir -p "$work"
  echo "== $target for ${seconds}s"
  "$binary" -max_total_time="$seconds" -print_final_stats=1 "$work" ${seeds:+"$seeds"}
done
