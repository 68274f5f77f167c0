#!/usr/bin/env bash
# The accessibility tier: the real server and host on an X display (Xvfb, openbox) with
# a session bus and the AT-SPI bus, and the open screen read through AT-SPI
# (accessibility.py). Label "desktop".
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
"$bin/qlx02600-server" --db "$work/demo.db" --listen 127.0.0.1:0 >"$work/server.out" 2>"$work/server.log" &
pids+=($!)
for _ in $(seq 300); do
  grep -q '^listening on ' "$work/server.out" && break
  sleep 0.1
done
address=$(sed -n 's/^listening on //p' "$work/server.out")
[ -n "$address" ] || { echo "the server did not start: $(cat "$work/server.log")" >&2; exit 1; }
XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
  "$bin/qlxhost" --server "$address" --open >"$work/host.log" 2>&1 &
pids+=($!)
if ! /usr/bin/python3 "$here/accessibility.py" 30; then
  cat "$work/host.log" >&2
  exit 1
fi
echo "every control of the screen found by its name through AT-SPI"
