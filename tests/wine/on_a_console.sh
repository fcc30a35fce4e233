#!/usr/bin/env bash
# on_a_console.sh SCENARIO EMULATOR CONSOLE_TOOL FLASH: cvm6-flash.exe on a console window
# of its own (CONSOLE_TOOL, cvm6-console-event.exe), 80 columns shown of 160.
#   closed  the console is closed in the middle of the download, the way Windows does it.
#           Passes when the program's handler returned before Windows would have ended
#           the program and its log tells the whole story after the interrupt: the
#           unit's flash incomplete, then the run interrupted with status 130 last.
#   width   a small image is written whole. Passes when no live line reaches the 80th
#           column (one that wraps is not rewritten in place) and the last one shows its
#           status, percent and time left with nothing of an earlier one after them.
set -uo pipefail
scenario=$1 emulator=$2 tool=$3 flash=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Under Wine the build machine's root is drive Z:.
windows() { printf 'Z:%s' "${1//\//\\}"; }
log=$(windows "$work/flash.log")

case $scenario in
  closed)
    timeout 300 "$emulator" "$tool" --close-when "$log" "Updating Digital Board." -- \
      "$flash" --simulate --erase-ms 0 --write-ms 20 --yes --log "$log" >"$work/out" 2>&1 ;;
  width)
    # 4 KiB at 0x2000 in one hex file.
    for ((a = 0; a < 4096; a += 16)); do
      printf -v line '10%04X00' $((0x2000 + a))
      sum=$((16 + ((0x2000 + a) >> 8) + (a & 255)))
      for ((i = 0; i < 16; i++)); do
        printf -v byte '%02X' $(((a + i) & 255))
        line+=$byte sum=$((sum + ((a + i) & 255)))
      done
      printf ':%s%02X\r\n' "$line" $(((256 - sum % 256) % 256))
    done >"$work/fw.hex"
    printf ':00000001FF\r\n' >>"$work/fw.hex"
    timeout 300 "$emulator" "$tool" --columns 80 -- "$flash" --simulate --erase-ms 0 --image "$(windows "$work/fw.hex")" \
      --log "$log" >"$work/out" 2>&1 ;;
  *) echo "unknown scenario $scenario" >&2; exit 2 ;;
esac
status=$?
tr -d '\r' <"$work/out" | tee "$work/screen"
tr -d '\r' <"$work/flash.log" >"$work/log" 2>/dev/null
echo "--- the log's last lines:"
tail -n 8 "$work/log"
fail() { echo "$*" >&2; exit 1; }

if [ "$scenario" = width ]; then
  [ $status -eq 0 ] || fail "cvm6-flash.exe ended with status $status"
  grep -q '^console: 80 columns shown of 160$' "$work/screen" || fail "not a console of 80 columns"
  long=$(grep '^|.*%' "$work/screen" | awk 'length($0) > 81')
  [ -z "$long" ] || fail "live lines that reach the console's last column: $long"
  # Its last drawing, shorter or not, covers every earlier one.
  grep -Eq '^\|Updating Digital Board\..* 100% .* ETA [0-9]+s\|$' "$work/screen" ||
    fail "no live line with its status, percent and time left alone"
  echo "passed"
  exit 0
fi
[ $status -eq 0 ] || fail "the console's handler did not return in time (status $status)"
after=$(sed -n '/ interrupt (.*): stopping every unit$/,$p' "$work/log")
[ -n "$after" ] || fail "no interrupt line in the log"
grep -q "The unit's flash is incomplete: run the update again before using the unit\.$" <<<"$after" ||
  fail "the log does not say after the interrupt that the unit's flash is incomplete"
tail -n 1 <<<"$after" | grep -Eq " run interrupted \(.*\): exit status 130$" || fail "the log does not end with the interrupted run"
echo "passed"
