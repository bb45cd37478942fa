#!/usr/bin/env bash
# Sets everything up and runs every test: installs missing Debian packages,
# configures a clang build with AddressSanitizer and UndefinedBehaviorSanitizer
# in which the benchmarks (compiled, not run) and the libFuzzer targets are built
# too, builds it and runs the whole ctest suite under a virtual X display, then
# runs each fuzz target for a few seconds, so that no benchmark or fuzz target can
# silently stop building. (GCC builds the release configuration, scripts/run.sh.)
set -euo pipefail
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VEXILO_TEST_BUILD_DIR:-"$repo_dir/build/test"}
media_dir="$build_dir/test-media"
fuzz_seconds=${VEXILO_FUZZ_SECONDS:-3}
cores=$(nproc)
# A failing step leaves nothing of this run working on in the background.
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT

# What compiling needs comes first; the displays are installed while the code compiles.
bash "$repo_dir/scripts/setup-deps.sh" build
export VEXILO_PACKAGE_LISTS_UPDATED=1

# The test streams are encoded while the code compiles; the ctest fixture then finds them made.
mkdir -p "$media_dir"
bash "$repo_dir/test-media/generate-streams.sh" "$media_dir" >"$build_dir/generate-test-media.log" 2>&1 &
media_job=$!

# One tree for the tests and the fuzz targets. clang compiles it a third faster than GCC does
# with the sanitizers; precompiled headers and test files compiled four at a time take off much
# of what is left. Line tables (-g1) are all that sanitizer reports need, and they compile and
# link far faster.
cmake -S "$repo_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" \
  -DVEXILO_SANITIZE=ON -DVEXILO_BUILD_TESTS=ON -DVEXILO_BUILD_BENCHMARKS=ON -DVEXILO_BUILD_FUZZERS=ON \
  -DVEXILO_PRECOMPILE_HEADERS=ON -DVEXILO_UNITY_TESTS=ON -DVEXILO_FAST_LINKER=ON -DVEXILO_BENCHMARKS_APART=ON \
  -DVEXILO_TEST_MEDIA_DIR="$media_dir"
cmake --build "$build_dir" --parallel "$cores" &
build_job=$!

bash "$repo_dir/scripts/setup-deps.sh"

wait "$build_job"
if ! wait "$media_job"; then
  cat "$build_dir/generate-test-media.log" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-"detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-"print_stacktrace=1:halt_on_error=1"}
export LSAN_OPTIONS=${LSAN_OPTIONS:-"suppressions=$repo_dir/scripts/lsan-suppressions.txt"}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

# ctest starts the entries it knows to be longest first, from the times of earlier runs; a fresh
# build has none, so it is given those of a run kept in the checkout (names it no longer has are
# ignored). Otherwise the window tests, registered last, would start last and finish alone.
cost_file="$build_dir/Testing/Temporary/CTestCostData.txt"
if [ ! -s "$cost_file" ]; then
  mkdir -p "$(dirname "$cost_file")"
  cp "$repo_dir/scripts/ctest-costs.txt" "$cost_file"
fi

# No test runs a benchmark: they compile while the tests run, at the lowest priority, on the
# cores that tests waiting on their workers and windows leave idle.
nice -n 19 cmake --build "$build_dir" --target vexilo_benchmarks --parallel "$cores" >"$build_dir/benchmarks-build.log" 2>&1 &
benchmarks_job=$!

# Widget tests that need OpenGL pick the xcb platform themselves; they find the display here.
(
  cd "$build_dir"
  xvfb-run -a -s "-screen 0 1920x1080x24" \
    ctest --output-on-failure --parallel "$cores" --timeout 900 "$@"
)

if ! wait "$benchmarks_job"; then
  cat "$build_dir/benchmarks-build.log" >&2
  exit 1
fi

VEXILO_FUZZ_BUILD_DIR="$build_dir" bash "$repo_dir/scripts/fuzz.sh" --no-build "$fuzz_seconds"
