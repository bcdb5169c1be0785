#!/usr/bin/env bash
# Installs what is missing, builds, runs every test, then runs them once more
# in an AddressSanitizer + UndefinedBehaviorSanitizer build. First it builds
# the program exactly as run.sh does and starts it once.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh scripts/deps.txt scripts/deps-test.txt
scripts/check-format.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

# The user's first command must not be able to fail where every test passes.
scripts/build-user.sh build/user
scripts/start-once.sh build/user/bin/magnova

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAGNOVA_WERROR=ON
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs"

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DMAGNOVA_SANITIZE=ON -DMAGNOVA_BUILD_BENCH=OFF \
  -DMAGNOVA_WERROR=ON
cmake --build build/asan -j"$jobs"
(
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  ctest --test-dir build/asan --output-on-failure -j"$jobs"
)
