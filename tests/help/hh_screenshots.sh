#!/bin/bash
# Shows each help topic in the viewer on a virtual X screen and saves a
# screenshot of each once the viewer's window carries the page's title:
#   hh_screenshots.sh <hh> <grab_screen> <help.chm> <output folder>
set -euo pipefail
if [ -z "${MAGNOVA_IN_XVFB:-}" ]; then
  export MAGNOVA_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
hh=$1 grab=$2 chm=$3 out=$4
export QT_QPA_PLATFORM=xcb
rm -rf "$out"
mkdir -p "$out/help folder"
cp "$chm" "$out/help folder/help.chm"
help="$out/help folder/help.chm"

shoot() {  # <png> <viewer argument> <window title>
  "$hh" "$2" &
  local pid=$! found=
  for _ in $(seq 150); do
    if xwininfo -root -tree | grep -qF "\"$3\""; then found=1; break; fi
    sleep 0.1
  done
  if [ -n "$found" ]; then "$grab" "$1" 15000 || found=; fi
  kill "$pid"
  wait "$pid" || true
  [ -n "$found" ] || { echo "no screenshot of a window titled \"$3\"" >&2; return 1; }
}

shoot "$out/start.png" "$help" "Magnova Help"
shoot "$out/getting-started.png" "$help::/_GettingStarted.html" "Getting Started - Magnova Help"
shoot "$out/tech-support.png" "$help::/_TechSupp.html" "Technical Support - Magnova Help"
shoot "$out/missing-topic.png" "$help::/_NoSuchTopic.html" "Topic not found - Magnova Help"
