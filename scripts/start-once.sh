#!/usr/bin/env bash
# Starts the given Magnova executable on a virtual X display, waits for its
# main window to be mapped, then asks it to close as a session ending would
# (SIGTERM) and expects it to end by itself with status 0.
set -euo pipefail
program=$1
work=$(mktemp -d)
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "start-once: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb

"$program" >"$work/out.log" 2>&1 &
pid=$!
mapped=no
for _ in $(seq 300); do
  kill -0 "$pid" 2>/dev/null || break
  if xwininfo -root -tree 2>/dev/null | grep -q '"Magnova"'; then mapped=yes; break; fi
  sleep 0.1
done
if [ "$mapped" != yes ]; then
  echo "start-once: $program showed no window" >&2
  cat "$work/out.log" >&2
  kill -KILL "$pid" 2>/dev/null || true
  exit 1
fi

kill -TERM "$pid"
status=0
for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  echo "start-once: $program did not end within 30 s of SIGTERM" >&2
  kill -KILL "$pid"
  exit 1
fi
wait "$pid" || status=$?
if [ "$status" -ne 0 ]; then
  echo "start-once: $program ended with status $status" >&2
  cat "$work/out.log" >&2
  exit 1
fi
echo "start-once: $program came up and ended with status 0"
