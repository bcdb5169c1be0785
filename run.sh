#!/usr/bin/env bash
# Installs what is missing, builds a release build and starts Magnova.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh scripts/deps.txt
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DMAGNOVA_BUILD_BENCH=OFF
cmake --build build/release -j"$(nproc)"
exec build/release/bin/magnova
