#!/usr/bin/env bash
# manpage_options.sh PROGRAM PAGE: passes when the options named in the OPTIONS section of
# the manual page PAGE are exactly those that PROGRAM --help names, long and short.
set -euo pipefail
program=$1 page=$2
options() {
  tee >(grep -oE -- '--[a-z][a-z0-9-]*') >(grep -oE -- '(^|[ ,(])-[a-zA-Z]([ ,]|$)' | tr -d ' ,(') >/dev/null | sort -u
}
from_help=$("$program" --help | options)
from_page=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page" | sed 's/\\-/-/g' | options)
if [ "$from_help" != "$from_page" ]; then
  echo "--help and the OPTIONS section of $page name different options:" >&2
  diff <(echo "$from_help") <(echo "$from_page") >&2 || true
  exit 1
fi
echo "$(echo "$from_help" | wc -l) options, the same in both"
