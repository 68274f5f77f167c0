#!/usr/bin/env bash
# The accessibility tier: the real server on an X display (Xvfb, openbox) with a session
# bus and the AT-SPI bus; accessibility.py starts the host and reads it through AT-SPI.
# The demo database gets 600 more lines, so that a slow fetch counts for a while.
# Label "desktop".
set -euo pipefail
bin="$1"
here="$(cd "$(dirname "$0")" && pwd)"
if [ "${2:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" dbus-run-session -- bash "$0" "$bin" --inside
fi
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
"$bin/qlx02600-server" --init-demo "$work/demo.db" >/dev/null
sqlite3 "$work/demo.db" "INSERT INTO TRADUCAO WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n
  WHERE i < 600) SELECT 'UNIDADE', 'K' || i, 'DSUNIDADE', 'ESP', 'Unidad ' || i, 46000 FROM n;"
mkdir "$work/saida" "$work/config"
"$bin/qlx02600-server" --db "$work/demo.db" --listen 127.0.0.1:0 >"$work/server.out" 2>"$work/server.log" &
pids+=($!)
for _ in $(seq 300); do
  grep -q '^listening on ' "$work/server.out" && break
  sleep 0.1
done
address=$(sed -n 's/^listening on //p' "$work/server.out")
[ -n "$address" ] || { echo "the server did not start: $(cat "$work/server.log")" >&2; exit 1; }
if ! timeout 100 /usr/bin/python3 "$here/accessibility.py" "$bin" "$address" "$work"; then
  cat "$work/host.log" >&2
  exit 1
fi
echo "the screen, the table picker, the message boxes and the busy window read through AT-SPI"
