#!/usr/bin/env bash
# Builds the resize worker's tests (worker, job messages and engine, no
# widgets) and the back-to-back Open, Resize, Save run of the whole frame with
# ThreadSanitizer, in release-like timing, and runs them.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/tsan}
flags="-fsanitize=thread -fno-omit-frame-pointer -g"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAGNOVA_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
cmake --build "$build" -j2 --target resize_worker_tests files_frame_tests
QT_QPA_PLATFORM=offscreen \
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/bench/resize/tsan.supp" \
  "$build/bin/resize_worker_tests"
QT_QPA_PLATFORM=offscreen \
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/bench/resize/tsan.supp" \
  "$build/bin/files_frame_tests" --gtest_filter='BackToBackTest.*'
