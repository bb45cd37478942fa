#!/usr/bin/env bash
# Builds every libFuzzer target with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for the given number of seconds
# (default 600), all targets side by side, one core each. Seed corpora live in
# <module>/fuzz/corpus/<target>/.
# Usage: scripts/fuzz.sh [--build-only | --no-build] [SECONDS] [TARGET...]
#   --no-build: runs the targets already built in VEXILO_FUZZ_BUILD_DIR (the test command's tree).
set -euo pipefail
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VEXILO_FUZZ_BUILD_DIR:-"$repo_dir/build/fuzz"}
build=true
run=true
case "${1:-}" in
  --build-only) run=false; shift ;;
  --no-build) build=false; shift ;;
esac
seconds=${1:-600}
shift || true

if $build; then
  bash "$repo_dir/scripts/setup-deps.sh"
  # Line tables are all a crash report needs, and they compile in a fraction of the time full
  # debug information takes.
  optimise="-O2 -gline-tables-only -DNDEBUG"
  cmake -S "$repo_dir" -B "$build_dir" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$optimise" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$optimise" \
    -DVEXILO_SANITIZE=ON -DVEXILO_BUILD_FUZZERS=ON -DVEXILO_BUILD_TESTS=OFF -DVEXILO_FAST_LINKER=ON
  cmake --build "$build_dir" --parallel "$(nproc)" --target fuzzers
fi
if ! $run; then
  exit 0
fi

mapfile -t targets < <(find "$build_dir" -type f -executable -name 'fuzz_*' -printf '%f\n' | sort)
[ "$#" -gt 0 ] && targets=("$@")
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
log_dir="$build_dir/logs"
mkdir -p "$log_dir"
pids=()
for target in "${targets[@]}"; do
  binary=$(find "$build_dir" -type f -executable -name "$target" | head -n 1)
  seeds=$(find "$repo_dir" -path "*/fuzz/corpus/$target" -type d | head -n 1)
  work="$build_dir/corpus/$target"
  mkdir -p "$work"
  "$binary" -max_total_time="$seconds" -print_final_stats=1 "$work" ${seeds:+"$seeds"} \
    >"$log_dir/$target.log" 2>&1 &
  pids+=("$!")
done

# Each target's report is printed whole once it ends, so that reports never interleave.
failed=()
for index in "${!targets[@]}"; do
  target=${targets[$index]}
  status=0
  wait "${pids[$index]}" || status=$?
  echo "== $target for ${seconds}s"
  cat "$log_dir/$target.log"
  [ "$status" -eq 0 ] || failed+=("$target")
done
if [ "${#failed[@]}" -gt 0 ]; then
  echo "Fuzz targets that failed: ${failed[*]}" >&2
  exit 1
fi
