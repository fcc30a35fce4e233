#!/usr/bin/env bash
# flash_against_sim.sh SIM EMULATOR "SIM OPTIONS" EXIT FLASH_PATTERN SIM_PATTERN COMMAND...
#
# The Windows cvm6-flash.exe against the build machine's cvm6-sim, over a real COM port
# of Wine: starts SIM with SIM OPTIONS on its pseudo-terminal, links that to a free COM
# port of the Wine prefix and runs COMMAND under EMULATOR with every "@PORT@" in it
# replaced by the port's name ("COM201"), in CVM6_PORTS too. Passes when COMMAND exits with EXIT, its output
# matches FLASH_PATTERN and the simulator's output (its summary and verdict, printed when
# it ends) matches SIM_PATTERN (extended regular expressions).
set -uo pipefail
sim=$1 emulator=$2 sim_options=$3 expected=$4 flash_pattern=$5 sim_pattern=$6
shift 6

work=$(mktemp -d)
sim_pid= link=
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid"; fi
  [ -n "$link" ] && rm -f "$link"
  rm -rf "$work"
}
trap cleanup EXIT

# The prefix is made by the first program run in it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then "$emulator" cmd /c exit >/dev/null 2>&1; fi

# shellcheck disable=SC2086  # the options are words
"$sim" $sim_options >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 500); do
  [ -s "$work/sim.out" ] && break
  sleep 0.01
done
pty=$(head -n 1 "$work/sim.out")
[ -e "$pty" ] || { echo "cvm6-sim did not start:"; cat "$work/sim.out"; exit 1; }

# A COM port nobody else in the prefix uses (the tests' own pseudo-terminals take 10..).
port=
for n in $(seq 200 250); do
  if ln -s "$pty" "$WINEPREFIX/dosdevices/com$n" 2>/dev/null; then
    port=COM$n link=$WINEPREFIX/dosdevices/com$n
    break
  fi
done
[ -n "$port" ] || { echo "no free COM port in $WINEPREFIX/dosdevices"; exit 1; }

command=()
for word in "$@"; do command+=("${word//@PORT@/$port}"); done
if [ -n "${CVM6_PORTS:-}" ]; then export CVM6_PORTS=${CVM6_PORTS//@PORT@/$port}; fi
flash_output=$(timeout 300 "$emulator" "${command[@]}" 2>&1)
code=$?

# cvm6-sim ends by itself after the updates it was told to wait for; else it is stopped
# here, and either way prints its summary and verdict as it ends.
for _ in $(seq 500); do
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.01
done
if kill -0 "$sim_pid" 2>/dev/null; then kill -INT "$sim_pid"; fi
wait "$sim_pid"
sim_pid=

printf '%s\n' "$flash_output" | tail -n 15
echo "--- cvm6-sim on $port ($pty) ---"
tail -n 12 "$work/sim.out"
if [ "$code" -ne "$expected" ]; then
  echo "cvm6-flash.exe: exit status $code, expected $expected" >&2
  exit 1
fi
if ! printf '%s\n' "$flash_output" | grep -Eq "$flash_pattern"; then
  echo "cvm6-flash.exe's output does not match: $flash_pattern" >&2
  exit 1
fi
if ! grep -Eq "$sim_pattern" "$work/sim.out"; then
  echo "cvm6-sim's output does not match: $sim_pattern" >&2
  exit 1
fi
