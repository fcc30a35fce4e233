#!/usr/bin/env bash
# console_closed.sh EMULATOR EVENT_TOOL FLASH: cvm6-flash.exe on a console of its own,
# whose console is closed in the middle of the download (by EVENT_TOOL, the way Windows
# does it). Passes when the program's handler returned before Windows would have ended
# the program and its log tells the whole story after the interrupt: the unit's flash
# incomplete, then the run interrupted with status 130 as the last line.
set -uo pipefail
emulator=$1 tool=$2 flash=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Under Wine the build machine's root is drive Z:.
log="Z:${work//\//\\}\\flash.log"

timeout 300 "$emulator" "$tool" --close-when "$log" "Updating Digital Board." -- \
  "$flash" --simulate --erase-ms 0 --write-ms 20 --yes --log "$log" >"$work/out" 2>&1
status=$?
tr -d '\r' <"$work/out"
tr -d '\r' <"$work/flash.log" >"$work/log" 2>/dev/null
echo "--- the log's last lines:"
tail -n 8 "$work/log"
[ $status -eq 0 ] || { echo "the console's handler did not return in time (status $status)" >&2; exit 1; }

after=$(sed -n '/ interrupt (.*): stopping every unit$/,$p' "$work/log")
[ -n "$after" ] || { echo "no interrupt line in the log" >&2; exit 1; }
grep -q "The unit's flash is incomplete: run the update again before using the unit\.$" <<<"$after" ||
  { echo "the log does not say after the interrupt that the unit's flash is incomplete" >&2; exit 1; }
tail -n 1 <<<"$after" | grep -Eq " run interrupted \(.*\): exit status 130$" ||
  { echo "the log does not end with the interrupted run" >&2; exit 1; }
echo "passed"
