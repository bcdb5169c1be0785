#!/usr/bin/env bash
# Measures the engine's enlargement quality and speed against FreeImage's
# filters on the photographs of python3-skimage (none of which the engine's
# filters were trained on). Extra arguments go to the tool (e.g. --factors 2,3).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh <(echo python3-skimage)
build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target engine_quality_bench
data=/usr/lib/python3/dist-packages/skimage/data
photos=()
for name in astronaut.png camera.png chelsea.png coffee.png motorcycle_left.png rocket.jpg brick.png \
            grass.png gravel.png coins.png moon.png hubble_deep_field.jpg; do
  photos+=("$data/$name")
done
"$build/bin/engine_quality_bench" "$@" "${photos[@]}"
