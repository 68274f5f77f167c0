#!/usr/bin/env bash
# Installs the Debian packages that are missing: `demo` for what the demo builds and
# runs, `all` (the default) for the tests, the fuzzing and the package as well.
set -euo pipefail
set_name="${1:-all}"
# What the server, the host and the screen module build with, and what the demo runs:
# libgl-dev: Qt's Gui package asks for OpenGL's headers at configure time.
# libsqlite3-dev, libpq-dev: the server reads script rows through SQLite's and PostgreSQL's client libraries.
# libsystemd-dev, pkgconf: the server tells systemd it is ready, reloading or stopping, and feeds its watchdog.
# libssl-dev: the server at start, and a client before it connects, check that a TLS key is its certificate's (OpenSSL).
# qt6-translations-l10n: Qt's own dialogs (the directory dialog) in Portuguese.
# xvfb, xauth, openbox, x11-utils, fonts-liberation: the demo without a display (Xvfb, a window
# manager, xprop to wait for it, a font); the desktop tier uses them too.
demo=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql libgl-dev
      libsqlite3-dev libpq-dev libssl-dev libsystemd-dev pkgconf qt6-translations-l10n
      xvfb xauth openbox x11-utils fonts-liberation)
# What the tests, the fuzzing and the package add:
# postgresql: the PostgreSQL backend's tests start a throw-away cluster with its initdb and pg_ctl.
# sqlite3: tests apply a generated script to a scratch database with the sqlite3 shell.
# clang, libclang-rt-14-dev: the fuzz targets (tools/fuzz.sh) build with clang's libFuzzer.
# xdotool, wmctrl: the desktop tier's input events and a taskbar's requests; libxcb1-dev: it pings the screen's
# window as a window manager does.
# openssl: the TLS tests make a throw-away certificate authority; the deploying recipe uses it too.
# tesseract-ocr, tesseract-ocr-eng: the desktop tier reads the busy window's line count from its pixels.
# weston, qt6-wayland: the Wayland tier's headless compositor and screenshooter, and Qt's Wayland platform plugin.
# python3-pyatspi, at-spi2-core, dbus: the accessibility tier reads the screen through AT-SPI on a session bus.
# dpkg-dev, lintian, systemd: the package's versioned dependencies (dpkg-shlibdeps), its check, and the
# service unit's exposure score (systemd-analyze).
# prometheus: promtool checks the server's metrics page as a Prometheus server would read it.
# haproxy: the team tier runs servers behind it with the shipped configuration.
rest=(postgresql sqlite3 clang libclang-rt-14-dev xdotool wmctrl libxcb1-dev openssl
      tesseract-ocr tesseract-ocr-eng weston qt6-wayland python3-pyatspi at-spi2-core dbus dpkg-dev lintian systemd
      prometheus haproxy)
case "$set_name" in
  demo) packages=("${demo[@]}") ;;
  all) packages=("${demo[@]}" "${rest[@]}") ;;
  *) echo "usage: $0 [demo|all]" >&2; exit 2 ;;
esac
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing ${#missing[@]} Debian packages: ${missing[*]}"
  $sudo apt-get update -qq
  # One line a package as it is fetched, unpacked and set up.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q -o Dpkg::Use-Pty=0 "${missing[@]}" \
    | grep --line-buffered -E '^(Get:|Unpacking |Setting up )' || true
  for package in "${missing[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
      || { echo "could not install $package" >&2; exit 1; }
  done
fi
