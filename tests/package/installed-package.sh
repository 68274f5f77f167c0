#!/usr/bin/env bash
# The Debian package, unpacked into a throw-away root: its files are in place, and
# the installed server, generator and host run from there, on their own libraries.
# Usage: installed-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
limit=60 # seconds any one step may take
work=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && timeout $limit cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack"
deb=$(ls "$work"/package/qlx02600_*.deb)
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/qlxhost ./usr/bin/qlx02600-server ./usr/bin/qlx02600-gen \
            ./usr/lib/qlx02600/libqlx02600.so ./usr/lib/qlx02600/libqlxroutines.so ./usr/lib/qlx02600/libqlxruntime.so \
            ./usr/lib/qlx02600/libqlxroutinescore.so ./usr/lib/qlx02600/libqlxruntimecore.so \
            ./usr/share/qlx02600/schema.sql ./usr/share/qlx02600/schema-postgresql.sql \
            ./usr/share/man/man1/qlxhost.1.gz ./usr/share/man/man1/qlx02600-server.1.gz ./usr/share/man/man1/qlx02600-gen.1.gz \
            ./usr/share/doc/qlx02600/copyright ./usr/share/doc/qlx02600/changelog.gz \
            ./usr/lib/systemd/system/qlx02600-server.service ./etc/qlx02600-server.conf \
            ./usr/share/applications/qlxhost.desktop; do
  grep -q " $file\( ->.*\)\?$" <<<"$contents" || fail "the package lacks $file"
done
dpkg-deb -f "$deb" Depends | grep -q libqt6sql6-psql || fail "the package does not depend on the PostgreSQL driver"
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
grep -q conffiles <<<"$control" || fail "no conffiles"
grep -q prerm <<<"$control" || fail "no prerm: the service would run on after removal"

# Debian's checks: no error at all; the warnings that remain are listed in docs/deploying.md.
command -v lintian >/dev/null || fail "lintian is missing: run tools/install-deps.sh"
lintian --fail-on error --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1 \
  || fail "lintian found errors: $(cat "$work/lintian.log")"
cat "$work/lintian.log"

# cmake --install under another prefix: the same files, the unit naming that prefix.
timeout $limit cmake --install "$build" --prefix "$work/prefix/usr" >/dev/null || fail "cmake --install"
installed=$(cd "$work/prefix" && find . \( -type f -o -type l \) | sort)
packaged=$(grep -v '/$' <<<"$contents" | awk '{print $6}' | sort)
[ "$installed" = "$packaged" ] || fail "cmake --install and the package differ: $(diff <(echo "$installed") <(echo "$packaged"))"
grep -qx "ExecStart=$work/prefix/usr/bin/qlx02600-server --db \${QLX_DB} --listen \${QLX_LISTEN} --tls-cert \${QLX_TLS_CERT} --tls-key \${QLX_TLS_KEY} --tls-client-ca \${QLX_TLS_CLIENT_CA} \$QLX_OPTIONS" \
  "$work/prefix/usr/lib/systemd/system/qlx02600-server.service" || fail "the unit does not name the installed prefix"

[ "$(stat -c %a "$work/prefix/etc/qlx02600-server.conf")" = 640 ] || fail "cmake --install leaves the settings readable by all"

root="$work/root"
dpkg -x "$deb" "$root"
# Purging drops the link `systemctl enable` made and says what it keeps.
dpkg-deb --ctrl-tarfile "$deb" | tar -x -C "$work" ./postrm
mkdir -p "$work/purged/etc/systemd/system/multi-user.target.wants"
ln -s /usr/lib/systemd/system/qlx02600-server.service "$work/purged/etc/systemd/system/multi-user.target.wants/"
said=$(DPKG_ROOT="$work/purged" sh "$work/postrm" purge) || fail "postrm purge failed"
[ ! -e "$work/purged/etc/systemd/system/multi-user.target.wants/qlx02600-server.service" ] \
  && [ ! -L "$work/purged/etc/systemd/system/multi-user.target.wants/qlx02600-server.service" ] || fail "purge left the enable link"
grep -q "kept /var/lib/qlx02600" <<<"$said" || fail "purge does not say what it keeps: $said"
unit="$root/usr/lib/systemd/system/qlx02600-server.service"
grep -qx 'User=qlx02600' "$unit" || fail "the unit does not run as its own user"
grep -qx 'Type=notify' "$unit" && grep -q '^ExecReload=' "$unit" || fail "the unit neither waits for readiness nor reloads"
grep -qx 'EnvironmentFile=/etc/qlx02600-server.conf' "$unit" || fail "the unit does not read /etc/qlx02600-server.conf"
grep -q '^ExecStart=/usr/bin/qlx02600-server --db ${QLX_DB}' "$unit" || fail "the unit does not start the installed server"
grep -q '^Exec=qlxhost' "$root/usr/share/applications/qlxhost.desktop" || fail "the desktop entry does not start the host"
# The unit's exposure as systemd rates it: 3.0 or less is "OK".
# The unit as systemd reads it, its program taken from the unpacked package.
sed "s|/usr/bin/qlx02600-server|$root/usr/bin/qlx02600-server|" "$unit" >"$work/qlx02600-server.service"
verified=$(systemd-analyze verify --man=no "$work/qlx02600-server.service" 2>&1) || fail "systemd-analyze verify: $verified"
exposure=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1) || fail "systemd-analyze: $exposure"
score=$(sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p' <<<"$exposure")
[ -n "$score" ] || fail "no exposure level in: $exposure"
awk -v score="$score" 'BEGIN { exit !(score <= 2.0) }' || fail "the unit's exposure is $score, over 2.0: $exposure"
echo "unit exposure: $score"

# No display of any kind, and nothing of the build tree.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM LD_LIBRARY_PATH
for program in qlx02600-server qlx02600-gen qlxhost; do
  libraries=$(ldd "$root/usr/bin/$program")
  grep -q "libqlxruntimecore.so => $root/usr/bin/../lib/qlx02600/" <<<"$libraries" \
    || [ "$program" = qlx02600-server ] || fail "$program does not load the installed libraries"
  ! grep -q "$build" <<<"$libraries" || fail "$program loads a library of the build tree"
done
! grep -q "libQt6Widgets\|libQt6Gui" <<<"$(ldd "$root/usr/bin/qlx02600-gen")" || fail "qlx02600-gen links the widgets"

timeout $limit "$root/usr/bin/qlx02600-server" --init-demo "$work/demo.db" >/dev/null || fail "--init-demo"
"$root/usr/bin/qlx02600-server" --db "$work/demo.db" --listen 127.0.0.1:0 >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq $((limit * 10))); do
  grep -q '^listening on ' "$work/server.log" && break
  kill -0 "$server" 2>/dev/null || fail "the server stopped: $(cat "$work/server.log")"
  sleep 0.1
done
address=$(sed -n 's/^listening on //p' "$work/server.log")
[ -n "$address" ] || fail "the server did not listen"

mkdir "$work/out"
written=$(timeout $limit "$root/usr/bin/qlx02600-gen" --server "$address" --language ENG --since '2025-01-01 00:00' \
          --all --dir "$work/out") || fail "qlx02600-gen exited with $?"
[[ "$(basename "$written")" =~ ^TRD_[0-9]+\.sql$ ]] || fail "unexpected file $written"
head -c 20 "$written" | grep -q '^INSERT INTO TRADUCAO' || fail "the script does not start with an upsert"

shot=$(QT_QPA_PLATFORM=offscreen timeout $limit "$root/usr/bin/qlxhost" --open --server "$address" \
       --screenshot "$work/screen.png" 2>/dev/null) || fail "the installed host did not open its module"
grep -q '^screenshot: ' <<<"$shot" || fail "the installed host saved no screenshot"
echo "installed package: ok"
