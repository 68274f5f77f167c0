#!/usr/bin/env bash
# Installs the Debian packages the build, the tests (the desktop tier's X server,
# window manager and input tools included) and the demo need.
set -euo pipefail
# postgresql: the PostgreSQL backend's tests start a throw-away cluster with its initdb and pg_ctl.
# clang, libclang-rt-14-dev: the fuzz targets (tools/fuzz.sh) build with clang's libFuzzer.
# openbox, xdotool, x11-utils: the desktop tier's window manager, input events and window queries.
# libxcb1-dev: the desktop tier pings the screen's window as a window manager does.
# openssl: the TLS tests make a throw-away certificate authority; the README's team recipe uses it too.
# qt6-translations-l10n: Qt's own dialogs (the directory dialog) in Portuguese.
# tesseract-ocr, tesseract-ocr-eng: the desktop tier reads the busy window's line count from its pixels.
# weston, qt6-wayland: the Wayland tier's headless compositor and screenshooter, and Qt's Wayland platform plugin.
# libsqlite3-dev, libpq-dev: the server reads script rows through SQLite's and PostgreSQL's client libraries.
# libssl-dev: the server at start, and a client before it connects, check that a TLS key is its certificate's (OpenSSL).
# dpkg-dev, lintian, systemd: the package's versioned dependencies (dpkg-shlibdeps), its check, and the
# service unit's exposure score (systemd-analyze).
packages=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql libgl-dev libsqlite3-dev libpq-dev libssl-dev sqlite3
          postgresql xvfb xauth fonts-liberation clang libclang-rt-14-dev openbox xdotool x11-utils
          qt6-translations-l10n openssl
          weston qt6-wayland tesseract-ocr tesseract-ocr-eng
          libxcb1-dev dpkg-dev lintian systemd)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
