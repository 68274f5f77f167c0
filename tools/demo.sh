#!/usr/bin/env bash
# The demo: the reference server on its demo database, the host, the screen.
# Without a display the host runs under Xvfb and saves a screenshot of the screen.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh release
bin=build/release/bin
db=build/demo.db
log=build/demo-server.log
"$bin/qlx02600-server" --init-demo "$db" --force-demo >/dev/null
"$bin/qlx02600-server" --db "$db" --listen "127.0.0.1:${QLX_DEMO_PORT:-0}" >"$log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null' EXIT
for _ in $(seq 50); do
  grep -q '^listening on ' "$log" && break
  kill -0 $server 2>/dev/null || { cat "$log" >&2; exit 1; }
  sleep 0.1
done
address=$(sed -n 's/^listening on //p' "$log")
echo "application server: $address (demo database $db)"
host_args=(--open --server "$address")
if [ -z "${DISPLAY:-}" ]; then
  shot="$PWD/build/demo-screen.png"
  xvfb-run -a -s "-screen 0 1024x768x24" "$bin/qlxhost" --screenshot "$shot" "${host_args[@]}"
  exit 0
fi
"$bin/qlxhost" "${host_args[@]}"
