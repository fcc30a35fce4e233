#!/usr/bin/env bash
# with_display.sh DISPLAY COMMAND...: runs COMMAND with a virtual X display (Xvfb) of its
# own at DISPLAY (":47"), for the Win32 window under Wine. Afterwards the Wine prefix's
# server ($WINEPREFIX) is ended, so that no desktop process of the prefix outlives the
# display it drew on, and the display goes.
set -uo pipefail
display=$1
shift
number=${display#:}

if [ -e "/tmp/.X$number-lock" ] && kill -0 "$(tr -d ' ' <"/tmp/.X$number-lock")" 2>/dev/null; then
  echo "with_display: display $display is in use by another program (choose another with CVM6_TEST_DISPLAY)" >&2
  exit 1
fi
Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$! child=
stop_display() {
  if [ -n "$child" ] && kill -0 "$child" 2>/dev/null; then kill "$child" 2>/dev/null; wait "$child" 2>/dev/null; fi
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; fi
  kill $xvfb 2>/dev/null
  wait $xvfb 2>/dev/null
}
# Stopped (ctest's time limit): the display and the prefix's programs go all the same.
trap 'stop_display; exit 143' TERM
trap 'stop_display; exit 130' INT
export DISPLAY=$display
# Ready when it answers (a socket left by a killed server proves nothing).
for _ in $(seq 100); do
  kill -0 $xvfb 2>/dev/null || { echo "with_display: Xvfb did not start on $display" >&2; exit 1; }
  xdotool getdisplaygeometry >/dev/null 2>&1 && break
  sleep 0.05
done

status=0
# In the background, so that a signal to this script is handled at once.
"$@" &
child=$!
wait $child || status=$?
child=

stop_display
exit $status
