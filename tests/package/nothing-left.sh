#!/usr/bin/env bash
# After the whole suite: no display, compositor or server that a test started is still
# running (each ends with its test; see tests/support/endswiththetest.h). What is found
# is named and fails the check.
set -uo pipefail
bin="$1"
patterns=(
  "Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp"   # the desktop tier's display
  "weston --backend=headless-backend.so"                    # the Wayland tier's compositor
  "^$bin/qlx02600-server --db /tmp/"                        # servers on a test's database
)
left=""
for pattern in "${patterns[@]}"; do
  found=$(pgrep -a -f -- "$pattern" || true)
  [ -z "$found" ] || left+="$found"$'\n'
done
if [ -n "$left" ]; then
  printf 'left running after the suite:\n%s' "$left" >&2
  exit 1
fi
echo "nothing the tests started is left running"
