#!/usr/bin/env bash
# The demo: the reference server on its demo database, the host, the screen.
# Without a display the host runs under Xvfb and saves a screenshot of the screen.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh release
bin=build/release/bin
host_args=(--open)
if [ -z "${DISPLAY:-}" ]; then
  shot="$PWD/build/demo-screen.png"
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$bin/qlxhost" --screenshot "$shot" "${host_args[@]}"
fi
exec "$bin/qlxhost" "${host_args[@]}"
