#!/bin/bash
# Aborts a long reduction in the real program on a virtual X display and
# measures how soon the frame answers: Abort, then Ctrl+O, until the open
# dialog is shown. Then opens another file and leaves by File > Exit.
#   abort_in_window.sh <magnova> <display> <big picture> <small picture> [percent] [log]
# Prints the times and the program's exit code; the program's own output
# goes to log (for a sanitizer's report).
set -u
magnova=$1 display=$2 big=$3 small=$4 percent=${5:-99} log=${6:-/dev/null}
export DISPLAY=$display
# Without -noreset the server resets whenever its last client leaves, and a
# program connecting meanwhile is refused: Qt then aborts at start-up.
Xvfb "$display" -noreset -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
sleep 1
"$magnova" >"$log" 2>&1 &
app=$!
xdotool search --sync --onlyvisible --name '^Magnova$' >/dev/null
window=$(xdotool search --onlyvisible --name '^Magnova$' | head -1)

# Types into the window named $1 once it holds the keyboard focus. The
# window is shown, and found, before the program has asked X for the focus;
# keys sent meanwhile go to the frame, which the dialog blocks, and are lost,
# so that a loaded machine would open a name with its first letters missing.
type_into() {
  local dialog
  dialog=$(xdotool search --sync --onlyvisible --name "^$1\$" | head -1)
  for _ in $(seq 1 500); do
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$dialog" ] && break
    sleep 0.01
  done
  xdotool type --delay 5 "$2"
}

open_file() {
  xdotool key --window "$window" ctrl+o
  type_into Open "$1"
  xdotool key Return
  sleep 0.5
  while xdotool search --onlyvisible --name '^Please wait$' >/dev/null; do sleep 0.1; done
}

open_file "$big"
# The percent box, then Enter starts Resize.
xdotool mousemove 185 34 click --repeat 3 1
xdotool key ctrl+a
xdotool type "$percent%"
xdotool key Return
xdotool search --sync --onlyvisible --name '^Resizing progress$' >/dev/null
sleep 1
# Abort: the focus is on "Work in background"; Abort is before it.
xdotool key shift+Tab space
t0=$(date +%s.%N)
xdotool key --window "$window" ctrl+o
xdotool search --sync --onlyvisible --name '^Open$' >/dev/null
t1=$(date +%s.%N)
echo "Abort -> frame answered Ctrl+O with its open dialog: $(echo "$t1 - $t0" | bc) s"
type_into Open "$small"
xdotool key Return
sleep 0.5
while xdotool search --onlyvisible --name '^Please wait$' >/dev/null; do sleep 0.1; done
# File > Exit with the mouse: without a window manager the keyboard focus
# may not come back to the frame by itself.
xdotool mousemove 20 8 click 1
sleep 0.5
xdotool mousemove 45 97 click 1
t2=$(date +%s.%N)
wait "$app"
code=$?
echo "File > Exit -> process ended after $(echo "$(date +%s.%N) - $t2" | bc) s with exit code $code"
kill "$xvfb"
wait "$xvfb" 2>/dev/null
