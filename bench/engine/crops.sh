#!/usr/bin/env bash
# Shows what the engine does to JPEG photographs by eye: 400 % enlargements of
# three skimage photographs saved as JPEG quality 75, cropped where they have
# texture, side by side: this engine, an earlier libampliscale.so given as the
# argument, FreeImage's Lanczos3 and the photograph itself.
# Usage: bench/engine/crops.sh previous/libampliscale.so [out.png] [factor kind noise]
#   factor, kind and noise as the quality bench takes them (default 4 75 0):
#   e.g. 2 0 6 for twofold enlargements of noisy pictures that were never JPEGs.
set -euo pipefail
cd "$(dirname "$0")/../.."
previous=$(realpath "$1")
result=$(realpath -m "${2:-engine_crops.png}")
factor=${3:-4} kind=${4:-75} noise=${5:-0}
build=${BUILD_DIR:-build/release}
cmake --build "$build" -j"$(nproc)" --target engine_quality_bench >/dev/null
data=/usr/lib/python3/dist-packages/skimage/data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/engine_quality_bench" --factors "$factor" --kinds "$kind" --noise "$noise" --previous "$previous" --save "$work" \
  "$data/chelsea.png" "$data/coffee.png" "$data/astronaut.png" >/dev/null
label() { convert "$1" -crop "$2" +repage -scale 200% -gravity north -background white \
  -splice 0x18 -pointsize 14 -annotate +0+2 "$3" "$4"; }
tag=$kind
[ "$kind" = 0 ] && tag=clean
rows=()
for crop in chelsea:150x120+170+40 coffee:150x120+60+100 astronaut:150x120+180+60; do
  name=${crop%%:*}
  area=${crop#*:}
  for method in engine previous Lanczos3; do
    label "$work/${name}_${tag}_x${factor}_$method.png" "$area" "$name $method" "$work/c_$method.png"
  done
  label "$data/$name.png" "$area" "$name truth" "$work/c_truth.png"
  convert "$work"/c_{engine,previous,Lanczos3,truth}.png +append "$work/row_$name.png"
  rows+=("$work/row_$name.png")
done
convert "${rows[@]}" -append "$result"
echo "$result"
