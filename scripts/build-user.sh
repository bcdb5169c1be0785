#!/usr/bin/env bash
# Builds what a user runs, as the user's first command builds it: the program,
# its command-line tool, its decoder, the help viewer and the help file,
# optimised, warnings shown but never fatal. The build folder is the first
# argument.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/user}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DMAGNOVA_BUILD_TESTS=OFF -DMAGNOVA_BUILD_BENCH=OFF
cmake --build "$dir" --target magnova magnova-resize -j"$(nproc)"
