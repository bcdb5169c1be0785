#!/usr/bin/env bash
# The command-line tool on a batch of photographs, against ImageMagick's
# mogrify on the same files with the same number of cores:
#   1. 40 photographs of 1 to 12 megapixels at 200 % to PNG (goal: at most 2 x
#      ImageMagick's wall time), with the engine's share of the tool's time;
#   2. the same at 50 % (goal: at most 1 x);
#   3. peak memory with --jobs 2 on twenty 24-megapixel photographs at 200 %,
#      against the budget the tool's planner states (goal: within it);
#   4. how long Ctrl+C takes to stop a large enlargement.
# The photographs are made from python3-skimage's (tiled to size, JPEG 90);
# nothing is kept unless a work folder is given, where photographs already
# made are used again. PARTS chooses what runs (default "200 50 memory stop").
# Usage: [PARTS="50 memory"] bench/batch/run.sh [work folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh <(printf 'python3-skimage\nimagemagick\n')
build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target magnova-resize >/dev/null
tool=$PWD/$build/bin/magnova-resize
measure=$PWD/bench/batch/measure.py
work=${1:-$(mktemp -d)}
mkdir -p "$work"
[ -z "${1:-}" ] && trap 'rm -rf "$work"' EXIT
cores=$(nproc)
parts=${PARTS:-200 50 memory stop}
wanted() { [[ " $parts " == *" $1 "* ]]; }
data=/usr/lib/python3/dist-packages/skimage/data
photos=("$data"/{astronaut,chelsea,coffee,motorcycle_left,ihc,grass}.png)

# make FOLDER COUNT MIN_MP MAX_MP: photographs of MIN..MAX megapixels, 3:2.
make() {
  local folder=$1 count=$2 low=$3 high=$4
  mkdir -p "$folder"
  for ((i = 0; i < count; i++)); do
    [ -f "$folder/photo$(printf %02d "$i").jpg" ] && continue
    local size
    size=$(python3 -c "import math; mp=$low+($high-$low)*$i/max(1,$count-1); w=round(math.sqrt(mp*1e6*1.5)); print(f'{w}x{round(w/1.5)}')")
    local photo=${photos[$((i % ${#photos[@]}))]}
    convert -size "$size" "tile:$photo" -quality 90 "$folder/photo$(printf %02d "$i").jpg"
  done
}

# compare PERCENT: the tool and mogrify on the 40 photographs, to PNG.
compare() {
  local percent=$1 out_tool=$work/tool_$1 out_im=$work/im_$1
  rm -rf "$out_tool" "$out_im"
  mkdir -p "$out_tool" "$out_im"
  local t i
  t=$(nice -n 10 "$measure" peak -- "$tool" -v --percent "$percent" --format png -o "$out_tool" "$work"/photos/*.jpg 2>"$work/tool_$percent.log")
  i=$(nice -n 10 "$measure" peak -- env OMP_NUM_THREADS="$cores" mogrify -limit thread "$cores" -path "$out_im" -filter Lanczos -resize "$percent%" -format png "$work"/photos/*.jpg 2>/dev/null)
  local tw iw
  tw=$(sed 's/.*wall=\([0-9.]*\).*/\1/' <<<"$t")
  iw=$(sed 's/.*wall=\([0-9.]*\).*/\1/' <<<"$i")
  local times
  times=$(grep 'time over all jobs' "$work/tool_$percent.log" | sed 's/.*jobs: //')
  local share
  share=$(sed 's/decoding \([0-9.]*\) s, resizing \([0-9.]*\) s, saving \([0-9.]*\) s/\1 \2 \3/' <<<"$times" |
    awk '{printf "%.0f", 100 * $2 / ($1 + $2 + $3)}')
  printf '%s %%: magnova-resize %.1f s, mogrify %.1f s, ratio %.2f; resizing is %s %% of the tool'"'"'s job time (%s); %s files written\n' \
    "$percent" "$tw" "$iw" "$(awk "BEGIN{print $tw / $iw}")" "$share" "$times" "$(ls "$out_tool" | wc -l)"
}

echo "Making 40 photographs of 1 to 12 megapixels in $work/photos ..."
make "$work/photos" 40 1 12
echo "Cores: $cores"
if wanted 200; then compare 200; fi
if wanted 50; then compare 50; fi

if wanted memory || wanted stop; then
  echo "Making twenty 24-megapixel photographs ..."
  make "$work/big" 20 24 24
fi
if wanted memory; then
  rm -rf "$work/big_out" && mkdir -p "$work/big_out"
  m=$(nice -n 10 "$measure" peak -- "$tool" -v --jobs 2 --percent 200 --format png -o "$work/big_out" "$work"/big/*.jpg 2>"$work/big.log")
  budget=$(sed -n 's/.*memory budget .*(\([0-9]*\) bytes).*/\1/p' "$work/big.log")
  peak=$(sed 's/.*peak=\([0-9]*\).*/\1/' <<<"$m")
  printf 'Memory, --jobs 2, twenty 24 MP at 200 %%: peak %.2f GB, budget %.2f GB (%s), %s s; %s\n' \
    "$(awk "BEGIN{print $peak / 2^30}")" "$(awk "BEGIN{print $budget / 2^30}")" \
    "$(awk "BEGIN{print ($peak <= $budget) ? \"within\" : \"OVER\"}")" \
    "$(sed 's/.*wall=\([0-9.]*\).*/\1/' <<<"$m")" "$(tail -1 "$work/big.log")"
fi
if wanted stop; then
  rm -rf "$work/stop_out" && mkdir -p "$work/stop_out"
  s=$("$measure" stop 3 -- "$tool" --percent 400 -o "$work/stop_out" "$work/big/photo00.jpg")
  printf 'Ctrl+C 3 s into a 24 MP enlargement to 400 %%: %s; files left: %s\n' "$s" "$(ls -A "$work/stop_out" | wc -l)"
fi
