#!/usr/bin/env bash
# Builds the desktop's application tests, the thread hand-over tests and the worker's threaded
# paths (the observer that parses beside the decoder, the collector, the pipeline, the worker
# process and the cache writer's picture encoders) with ThreadSanitizer in build/tsan and runs
# them there (or those matching the ctest regex given as $1). Any report, of the tests or of
# the worker processes they start, fails its test.
set -euo pipefail
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VEXILO_TSAN_BUILD_DIR:-"$repo_dir/build/tsan"}
tests=${1:-.}

cmake -S "$repo_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DCMAKE_C_FLAGS_DEBUG="-O1 -g" \
  -DVEXILO_THREAD_SANITIZER=ON -DVEXILO_BUILD_TESTS=ON
cmake --build "$build_dir" --parallel "${VEXILO_BUILD_JOBS:-3}" \
  --target application_tests threading_tests hevc_observer_tests analyzer_worker_tests analysis_tests vexilo-analyzer-worker

export TSAN_OPTIONS=${TSAN_OPTIONS:-"halt_on_error=1:second_deadlock_stack=1:suppressions=$repo_dir/scripts/tsan-suppressions.txt"}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
cd "$build_dir"
status=0
ctest --output-on-failure --parallel "${VEXILO_BUILD_JOBS:-3}" --timeout 900 -L 'application|threading' -R "$tests" ||
  status=$?
# The worker's threaded paths, when no regex narrows the run. Its memory-budget test is left
# out: ThreadSanitizer's own memory is far above the constant that test allows.
if [ "$tests" = . ]; then
  ctest --output-on-failure --parallel "${VEXILO_BUILD_JOBS:-3}" --timeout 900 -E 'WorkerMemoryBudget' \
    -R 'ObserverFront|DeliveryOnItsOwnThread|ObserverCollector|Pipeline|WorkerTask|WorkerProcess|WorkerSession|PicturesEncodedAhead' ||
    status=$?
fi
exit "$status"
