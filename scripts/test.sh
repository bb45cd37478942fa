#!/usr/bin/env bash
# Sets everything up and runs every test: installs missing Debian packages,
# configures a sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer),
# builds it and runs the whole ctest suite under a virtual X display.
set -euo pipefail
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VEXILO_TEST_BUILD_DIR:-"$repo_dir/build/test"}

bash "$repo_dir/scripts/setup-deps.sh"

cmake -S "$repo_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DCMAKE_C_FLAGS_DEBUG="-O1 -g" \
  -DVEXILO_SANITIZE=ON -DVEXILO_BUILD_TESTS=ON
cmake --build "$build_dir" --parallel "$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-"detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-"print_stacktrace=1:halt_on_error=1"}
export LSAN_OPTIONS=${LSAN_OPTIONS:-"suppressions=$repo_dir/scripts/lsan-suppressions.txt"}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

# Widget tests that need OpenGL pick the xcb platform themselves; they find the display here.
cd "$build_dir"
xvfb-run -a -s "-screen 0 1920x1080x24" \
  ctest --output-on-failure --parallel "$(nproc)" --timeout 900 "$@"
