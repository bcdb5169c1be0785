#!/bin/bash
# Shows each help topic in the viewer on a virtual X screen and saves a
# screenshot of each once the viewer's window carries the page's title:
#   hh_screenshots.sh <hh> <grab_screen> <help.chm> <output folder>
set -euo pipefail
hh=$1 grab=$2 chm=$3 out=$4
rm -rf "$out"
mkdir -p "$out/help folder"

# The server picks a free display itself and names it once it is ready, so
# that runs side by side never race for a display number. Without -noreset
# the server resets whenever its last client leaves (the window poll below
# is such a client), and a viewer that connects during the reset cannot start.
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$out/display" 2>"$out/xvfb.log" &
xvfb=$!
trap 'kill $xvfb' EXIT
for _ in $(seq 100); do
  [ -s "$out/display" ] && break
  sleep 0.1
done
[ -s "$out/display" ] || { echo "Xvfb did not start" >&2; cat "$out/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$out/display")" QT_QPA_PLATFORM=xcb
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
