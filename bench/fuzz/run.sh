#!/usr/bin/env bash
# Builds the fuzzers with clang's libFuzzer (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a while at low priority.
# Not part of the ordinary build or of CI: run it after changing the
# metadata code (files/XmpPacket, ExifBlock, FormatMetadata, PngProfile,
# ImageMetadata, decoder/TiffProfile) or the wire (files/ImageWire).
#   bench/fuzz/run.sh [seconds per fuzzer, default 180] [metadata|wire, default both]
# New inputs go to build/fuzz/corpus-*; the crashes it finds are left in
# build/fuzz. Copy the ones worth keeping into bench/fuzz/corpus/<fuzzer>,
# which the test run replays (files_fuzz_replay).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh <(printf 'clang\nlibfreeimage-dev\nlibpng-dev\n')
seconds=${1:-180}
out=build/fuzz
mkdir -p "$out"
sources=(bench/fuzz/FuzzTargets.cpp files/XmpPacket.cpp files/ExifBlock.cpp files/FormatMetadata.cpp
  files/ImageMetadata.cpp files/ImageFiles.cpp files/ExportBitmap.cpp files/SaveNames.cpp
  files/PngProfile.cpp files/ImageWire.cpp files/decoder/TiffFirstDirectory.cpp)
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
  -I. -I/usr/include/libpng16)
for fuzzer in Metadata Wire; do
  clang++ "${flags[@]}" "bench/fuzz/${fuzzer}Fuzzer.cpp" "${sources[@]}" -lfreeimage -lpng16 \
    -o "$out/${fuzzer,,}_fuzzer"
done
for fuzzer in ${2:-metadata wire}; do
  mkdir -p "$out/corpus-$fuzzer"
  (cd "$out" && nice -n 10 "./${fuzzer}_fuzzer" -max_total_time="$seconds" -max_len=70000 \
    -rss_limit_mb=2048 -print_final_stats=1 "corpus-$fuzzer" "../../bench/fuzz/corpus/$fuzzer")
done
