#!/usr/bin/env bash
# Builds the release preset and makes the Debian package of it with CPack:
# build/release/qlx02600_<version>_<arch>.deb (programs, libraries, module, schemas,
# man pages, the systemd unit qlx02600-server.service and the host's menu entry).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh release
cd build/release
cpack -G DEB
ls "$PWD"/qlx02600_*.deb
