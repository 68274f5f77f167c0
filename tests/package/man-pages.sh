#!/usr/bin/env bash
# Each program's manual matches the program: every option its --help prints is
# in its page and every option the page describes is in --help; every page has
# its EXIT STATUS and ENVIRONMENT; --help, --version and a bad option need no
# display and exit as the pages say.
# Usage: man-pages.sh BIN_DIR MAN_DIR
set -euo pipefail
bin=$1
man=$2
limit=60 # seconds any one program may take
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
for program in qlx02600-server qlx02600-gen qlxhost; do
  page="$man/$program.1"
  # The page's text with roff's escaped dashes made plain.
  text=$(sed 's/\\-/-/g' "$page")
  help=$(timeout $limit "$bin/$program" --help) || fail "$program --help exited with $?"
  helped=$(grep -oE '^ +(-[[:alnum:]?], )?--[[:alnum:]][[:alnum:]-]*' <<<"$help" | grep -oE -- '--[[:alnum:]-]+' | sort -u)
  [ -n "$helped" ] || fail "$program --help lists no option"
  for option in $helped; do
    grep -qE -- "$option([^[:alnum:]-]|$)" <<<"$text" || fail "$program(1) lacks $option"
  done
  # Options the page describes: the first line of each .TP entry.
  described=$(awk '/^\.TP/ { getline; print }' "$page" | sed 's/\\-/-/g' | grep -oE -- '--[[:alnum:]][[:alnum:]-]*' | sort -u)
  for option in $described; do
    grep -qx -- "$option" <<<"$helped" || fail "$program(1) describes $option, which $program --help does not list"
  done
  for section in SYNOPSIS OPTIONS 'EXIT STATUS' ENVIRONMENT; do
    grep -q "^\.SH \"\?$section\"\?$" "$page" || fail "$program(1) has no $section section"
  done
  set +e
  said=$(timeout $limit "$bin/$program" --no-such-option 2>&1)
  status=$?
  set -e
  [ $status -eq 2 ] || fail "$program --no-such-option exited with $status, not 2: $said"
done
for program in qlx02600-server qlx02600-gen qlxhost; do
  version=$(timeout $limit "$bin/$program" --version) || fail "$program --version exited with $?"
  grep -qE "^$program [0-9]+\.[0-9]+\.[0-9]+$" <<<"$version" || fail "$program --version printed: $version"
done
[ $failures -eq 0 ] || exit 1
echo "man pages: ok"
