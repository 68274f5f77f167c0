#!/usr/bin/env bash
# The demo: the reference server on its demo database, the host, the screen.
# Without a display the host runs under Xvfb and saves a screenshot of the screen.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh release
bin=build/release/bin
db=build/demo.db
port="${QLX_DEMO_PORT:-21102}"
"$bin/qlx02600-server" --init-demo "$db" >/dev/null
"$bin/qlx02600-server" --db "$db" --listen "127.0.0.1:$port" &
server=$!
trap 'kill $server 2>/dev/null' EXIT
sleep 0.5
host_args=(--open --server "127.0.0.1:$port")
if [ -z "${DISPLAY:-}" ]; then
  shot="$PWD/build/demo-screen.png"
  xvfb-run -a -s "-screen 0 1024x768x24" "$bin/qlxhost" --screenshot "$shot" "${host_args[@]}"
  exit 0
fi
"$bin/qlxhost" "${host_args[@]}"
