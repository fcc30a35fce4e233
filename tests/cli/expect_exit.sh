#!/usr/bin/env bash
# expect_exit.sh CODE PATTERN COMMAND...: runs COMMAND, passes when it exits with CODE
# and its output (stdout and stderr) matches the extended regular expression PATTERN.
expected=$1 pattern=$2
shift 2
output=$(timeout 120 "$@" 2>&1)
code=$?
printf '%s\n' "$output" | tail -n 20
if [ "$code" -ne "$expected" ]; then
  echo "exit status $code, expected $expected" >&2
  exit 1
fi
if ! printf '%s\n' "$output" | grep -Eq "$pattern"; then
  echo "output does not match: $pattern" >&2
  exit 1
fi
