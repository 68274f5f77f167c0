#!/usr/bin/env bash
# The demo: the reference server on its demo database, the host, the screen.
# Without a display the host runs under Xvfb with a window manager and saves a
# screenshot of the screen.
set -euo pipefail
cd "$(dirname "$0")/.."
step() { echo "== $*"; }

# Runs a command with its output in a log, printing the newest of its progress lines
# ("[n/N] ...") as it comes, and the elapsed time whenever ten seconds pass without one.
with_progress() {
  local log=$1; shift
  "$@" >"$log" 2>&1 &
  local pid=$! shown="" quiet=0 newest
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    newest=$(grep -E '^\[[0-9]+/[0-9]+\]' "$log" | tail -n 1 || true)
    if [ -n "$newest" ] && [ "$newest" != "$shown" ]; then
      shown=$newest; quiet=0
      echo "   ${newest:0:110}"
    elif [ $((++quiet % 10)) -eq 0 ]; then
      echo "   ... still building ($((SECONDS - start))s)"
    fi
  done
  wait "$pid"
}

step "checking the Debian packages the demo needs (tools/install-deps.sh demo)"
bash tools/install-deps.sh demo
step "building the server, the host and the screen module in build/release (a few minutes the first time)"
mkdir -p build
start=$SECONDS
if ! with_progress build/demo-build.log bash -c 'cmake --preset release && cmake --build --preset release --target qlx02600-server qlxhost qlx02600'; then
  tail -n 40 build/demo-build.log >&2
  echo "the build failed; its whole output is in build/demo-build.log" >&2
  exit 1
fi
echo "   built in $((SECONDS - start))s"
bin=build/release/bin
db=build/demo.db
log=build/demo-server.log

# Qt wants a private runtime directory; a session without one gets its own for the demo.
runtime=""
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  runtime=$(mktemp -d)
  export XDG_RUNTIME_DIR=$runtime
fi
server=""
cleanup() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  [ -z "$runtime" ] || rm -rf "$runtime"
}
trap cleanup EXIT

step "making the demo database $db"
"$bin/qlx02600-server" --init-demo "$db" --force-demo >/dev/null
step "starting the application server on loopback for this demo (it stops when the demo ends)"
"$bin/qlx02600-server" --db "$db" --listen "127.0.0.1:${QLX_DEMO_PORT:-0}" >"$log" 2>&1 &
server=$!
for _ in $(seq 300); do
  grep -q '^listening on ' "$log" && break
  kill -0 $server 2>/dev/null || { cat "$log" >&2; exit 1; }
  sleep 0.1
done
address=$(sed -n 's/^listening on //p' "$log")
[ -n "$address" ] || { echo "the server did not start; its log: $log" >&2; exit 1; }
host_args=(--open --server "$address")

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  step "opening the screen in qlxhost; the server at $address serves it until you close the host"
  "$bin/qlxhost" "${host_args[@]}"
  exit 0
fi

step "no display: running the host under Xvfb with the openbox window manager for a screenshot"
shot="$PWD/build/demo-screen.png"
# shellcheck disable=SC2016 # expanded by the inner shell
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  openbox --sm-disable >/dev/null 2>&1 &
  manager=$!
  for _ in $(seq 300); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.1
  done
  status=0
  "$@" || status=$?
  kill $manager 2>/dev/null || true
  exit $status' demo "$bin/qlxhost" --screenshot "$shot" "${host_args[@]}"
