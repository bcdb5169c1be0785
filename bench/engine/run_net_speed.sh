#!/usr/bin/env bash
# Times the engine's refinement network against the same network run by
# oneDNN, both on one thread; installs libdnnl-dev for it if missing (the
# engine itself does not need it).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh <(echo libdnnl-dev)
build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target engine_net_speed_bench
OMP_NUM_THREADS=1 "$build/bin/engine_net_speed_bench"
