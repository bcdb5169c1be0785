#!/usr/bin/env bash
# PNG saving against FreeImage's writer on a 7920 x 5940 enlargement of a
# photograph, and on a 24000 x 18000 one.
set -e
cd "$(dirname "$0")/../.."
scripts/install-deps.sh <(echo lomiri-wallpapers-16.04)
photo=/usr/share/backgrounds/picosdeeuropa_by_Aitzol_Berasategi.jpg
build=${BUILD:-build/release}
cmake --build "$build" --target png_save_bench >/dev/null
"$build/bin/png_save_bench" "$photo" 7920 5940
if [ "$1" = large ]; then "$build/bin/png_save_bench" "$photo" 24000 18000; fi
