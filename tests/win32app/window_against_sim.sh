#!/usr/bin/env bash
# window_against_sim.sh SIM RUNNER UPDATER PROBE SCENARIO
#
# cvm6-updater.exe as a technician works it, by the keyboard alone (xdotool on the X
# display of DISPLAY), against the build machine's cvm6-sim on a pseudo-terminal linked
# to a COM port of the Wine prefix ($WINEPREFIX) and registered with the serial ports,
# so that the window lists it. RUNNER runs a Windows program (run-under-wine); PROBE
# (cvm6-window-probe.exe) reads the window's texts, which xdotool cannot.
#   complete   choose the port, Connect, Update, confirm the synthetic image; Escape and
#              Alt+F4 in the middle of the download are refused; "Update Complete!",
#              OK ends the program; the simulator's verdict is "identical"
#   unplugged  the simulator closes its end in the middle of the download: the failure
#              prompt, then Close is enabled and ends the program
set -uo pipefail
sim=$1 runner=$2 updater=$3 probe=$4 scenario=$5
title="M6 Corvane Updater "
caption=$(basename "$updater" .exe)

work=$(mktemp -d)
sim_pid= updater_pid= link=
cleanup() {
  if [ -n "$updater_pid" ] && kill -0 "$updater_pid" 2>/dev/null; then kill "$updater_pid" 2>/dev/null; wait "$updater_pid"; fi
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid"; fi
  if [ -n "$link" ]; then
    rm -f "$link"
    timeout 60 "$runner" reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v CVM6Test /f >/dev/null 2>&1
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
fail() {
  echo "FAILED: $*" >&2
  echo "--- cvm6-sim ---" >&2
  tail -n 12 "$work/sim.out" >&2
  exit 1
}
step() { echo "$(date +%T) $*"; }
# probe ARGS...: waits for a window (see cvm6-window-probe) and keeps what it printed.
# The console's line ends are Windows' own. Into a file, not a pipe: a process of the
# prefix that the probe starts (the desktop) inherits its output and may hold it open.
probe() {
  local status=0
  step "probe $*"
  timeout 300 "$runner" "$probe" "$@" >"$work/probe.raw" 2>&1 || status=$?
  tr -d '\r' <"$work/probe.raw" >"$work/probe.out"
  return $status
}
# key KEYS...: keys to the window that has the focus, the way a technician types them.
key() {
  step "keys $*"
  xdotool key --delay 150 "$@"
}
focus() {  # the X window captioned exactly $1
  local window
  window=$(timeout 30 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1)
  [ -n "$window" ] || fail "no window \"$1\" on the display"
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
}

case $scenario in
  complete) sim_options=(--updates 1 --expect-embedded --erase-ms 0) ;;
  unplugged) sim_options=(--expect-embedded --erase-ms 0 --close-after-block 400) ;;
  *) echo "unknown scenario $scenario" >&2; exit 2 ;;
esac

# The prefix is made (or brought up) with the display set by the first program run in it.
step "bringing up the Wine prefix"
timeout 120 "$runner" cmd /c exit >/dev/null 2>&1 || fail "the Wine prefix did not come up"
"$sim" "${sim_options[@]}" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 500); do
  [ -s "$work/sim.out" ] && break
  sleep 0.01
done
pty=$(head -n 1 "$work/sim.out")
[ -e "$pty" ] || fail "cvm6-sim did not start"

# COM5..COM9 sort after COM4 in the window's sorted list: End chooses the port.
port=
for n in 5 6 7 8 9; do
  if ln -s "$pty" "$WINEPREFIX/dosdevices/com$n" 2>/dev/null; then
    port=COM$n link=$WINEPREFIX/dosdevices/com$n
    break
  fi
done
[ -n "$port" ] || fail "no free COM port among COM5..COM9 in $WINEPREFIX/dosdevices"
timeout 60 "$runner" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v CVM6Test /t REG_SZ /d "$port" /f >/dev/null 2>&1 ||
  fail "could not register $port"

"$runner" "$updater" >"$work/updater.out" 2>&1 &
updater_pid=$!
probe --title "$title" --control 1002 --text Offline || fail "the window did not open: $(cat "$work/probe.out")"
grep -Eq "^1000	enabled	COM1(	focused)?$" "$work/probe.out" || fail "the port list does not show COM1: $(cat "$work/probe.out")"
focus "$title"

# The focus starts on Close: Tab to the port list, End to the last port (ours), two
# Tabs to Connect (the online field is in between), Space presses it.
key Tab End
probe --title "$title" --control 1000 --text "$port" --timeout 5000 || fail "End did not choose $port"
key Tab Tab space
probe --title "$title" --control 1009 --text "Corvane M6" || fail "Connect did not identify the unit: $(cat "$work/probe.out")"
grep -Eq "^1002	enabled	Online(	focused)?$" "$work/probe.out" || fail "not online: $(cat "$work/probe.out")"
grep -Eq "^1	enabled	Update(	focused)?$" "$work/probe.out" || fail "Update is not enabled: $(cat "$work/probe.out")"

# Enter presses Update, the default button; the build's image is the synthetic one, so
# the window asks first (No is its default: Y answers yes).
key Return
probe --title "$caption" --text "synthetic test image" || fail "no question before the erase"
focus "$caption"
key y

if [ "$scenario" = complete ]; then
  probe --title "$title" --control 1005 --text "Updating Digital Board." || fail "the download did not start"
  grep -Eq "^2	disabled	Close(	focused)?$" "$work/probe.out" || fail "Close is enabled during the download"
  # Closing is refused while the download runs.
  focus "$title"
  key Escape alt+F4
  # A dialog that ends hides its window at once.
  probe --title "$title" --timeout 2000 || fail "the window closed in the middle of the download"
  probe --title "$caption" --text "Update Complete!" --timeout 240000 || fail "no final prompt: $(cat "$work/probe.out")"
  grep -q "You should now perform a hard reset" "$work/probe.out" || fail "not the final prompt: $(cat "$work/probe.out")"
  probe --title "$title" --control 1005 --text "Update Complete" --timeout 2000 || fail "status is not Update Complete"
  focus "$caption"
  key Return
else
  probe --title "$caption" --text "Error Sending Data." --timeout 120000 || fail "no failure prompt: $(cat "$work/probe.out")"
  focus "$caption"
  key Return
  probe --title "$title" --control 2 --text Close || fail "the window did not stay"
  grep -Eq "^2	enabled	Close(	focused)?$" "$work/probe.out" || fail "Close is not enabled after the failure: $(cat "$work/probe.out")"
  grep -Eq "^1	disabled	Update(	focused)?$" "$work/probe.out" || fail "Update is enabled after the failure"
  grep -Eq "^1004	disabled	Connect(	focused)?$" "$work/probe.out" || fail "Connect is enabled after the failure"
  # Tab to Close (the only button left) and press it.
  focus "$title"
  for _ in $(seq 8); do
    grep -q "^2	enabled	Close	focused$" "$work/probe.out" && break
    key Tab
    probe --title "$title" --timeout 2000
  done
  grep -q "^2	enabled	Close	focused$" "$work/probe.out" || fail "Tab never reached Close: $(cat "$work/probe.out")"
  key space
fi

# The program ends with the window.
for _ in $(seq 300); do
  kill -0 "$updater_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$updater_pid" 2>/dev/null && fail "the program did not end with its window"
wait "$updater_pid"
code=$?
updater_pid=
[ "$code" -eq 0 ] || fail "cvm6-updater.exe ended with status $code"

for _ in $(seq 300); do
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.01
done
kill -0 "$sim_pid" 2>/dev/null && kill -INT "$sim_pid"
wait "$sim_pid"
sim_pid=
echo "--- cvm6-sim on $port ($pty) ---"
tail -n 12 "$work/sim.out"
if [ "$scenario" = complete ]; then
  grep -q "verdict: identical" "$work/sim.out" || fail "the simulator's verdict is not identical"
else
  grep -q "verdict: identical" "$work/sim.out" && fail "an unplugged download cannot be complete"
fi
echo "PASSED: $scenario"
