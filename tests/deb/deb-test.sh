#!/usr/bin/env bash
# The Debian package end to end, on this machine (as root; it installs and
# removes the package): scripts/deb builds it twice byte-equal and lintian
# finds nothing; it holds what docs/install.md says; its desktop entry and
# AppStream data validate; installed, zq-update takes no payload from /usr/bin,
# updates two simulated units and finds its manual page, and the window starts
# under Xvfb; removed, only the conffiles stay; purged, nothing.
#   deb-test.sh UNIT_SIM MAKE_PAYLOAD
# ZQ_DEB_FILE=path/to/zq-updater_....deb skips the two builds and lintian and
# checks that package.
# Run by CTest with -DZQ_TEST_DEB=ON (tst_deb), or by hand. What needs a real
# desktop and udev (the uaccess tag, the latency timer set on a real adapter):
# docs/install.md.
set -euo pipefail
sim=$1 make_payload=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "needs root: it installs the package"
export DEBIAN_FRONTEND=noninteractive

if [ -n "${ZQ_DEB_FILE:-}" ]; then
  # A package built already (by scripts/deb --twice): the checks after the build.
  cp "$ZQ_DEB_FILE" "$work/"
else
  "$root/scripts/deb" --out "$work" --twice
fi
deb=$(echo "$work"/zq-updater_*.deb)
version=$(sed -n 's/^project(zq-updater VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$(basename "$deb")" = "zq-updater_${version}_$(dpkg --print-architecture).deb" ] || fail "named $deb"
[ -n "${ZQ_DEB_FILE:-}" ] || echo "ok: built twice byte-equal, lintian clean"

# What the package holds.
dpkg -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
for f in /usr/bin/zq-updater /usr/bin/zq-update \
  /usr/lib/udev/rules.d/70-zq-updater.rules \
  /usr/share/applications/com.orvek.zq_updater.desktop \
  /usr/share/icons/hicolor/scalable/apps/zq-updater.svg \
  /usr/share/metainfo/com.orvek.zq_updater.metainfo.xml \
  /usr/share/mime/packages/zq-updater.xml \
  /usr/share/man/man1/zq-update.1.gz /usr/share/man/man1/zq-updater.1.gz \
  /usr/share/bash-completion/completions/zq-update \
  /etc/zq-updater/keys/README \
  /usr/share/doc/zq-updater/copyright /usr/share/doc/zq-updater/install.md \
  /usr/share/doc/zq-updater/command-line.md; do
  grep -Eqx "$f(\.gz)?" "$work/contents" || fail "the package lacks $f"
done
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = /etc/zq-updater/keys/README ] ||
  fail "conffiles: $(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)"
depends=$(dpkg-deb -f "$deb" Depends)
grep -Eq 'libqt(6serialport6|5serialport5)' <<<"$depends" || fail "Depends: $depends"
echo "ok: dpkg -c lists the programs, rule, menu entry, icon, metainfo, MIME type, pages, completion, keys folder and docs"

dpkg-deb -x "$deb" "$work/x"
desktop-file-validate "$work/x/usr/share/applications/com.orvek.zq_updater.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$work/x/usr/share/metainfo/com.orvek.zq_updater.metainfo.xml" || fail "appstreamcli validate"
grep -q 'glob pattern="\*.zqpkg"' "$work/x/usr/share/mime/packages/zq-updater.xml" || fail "MIME glob"
echo "ok: desktop-file-validate, appstreamcli validate"

# Installed.
dpkg -s zq-updater >/dev/null 2>&1 && apt-get purge -y zq-updater >/dev/null
apt-get install -y "$deb" >"$work/install.log" 2>&1 || fail "apt-get install: $(tail "$work/install.log")"
[ "$(command -v zq-update)" = /usr/bin/zq-update ] || fail "zq-update is not /usr/bin/zq-update"
[ "$(zq-update --version)" = "zq-update $version" ] || fail "--version: $(zq-update --version)"
man -w zq-update >/dev/null && man -w zq-updater >/dev/null || fail "man finds no page"
out=$(cd "$work" && zq-update --check 2>&1) && fail "an installed zq-update took a payload from /usr/bin"
grep -q "no update given" <<<"$out" || fail "without --payload: $out"
echo "ok: installed, --version says $version, man finds both pages, no payload from /usr/bin"

"$make_payload" "$work/payload" >/dev/null
exec 3< <("$sim" --units 2 --payload "$work/payload" --report "$work/report.json" --restart-ms 50)
pids+=($!)
read -r -t 20 p1 <&3 && read -r -t 20 p2 <&3 || fail "zq-unit-sim did not start"
status=0
(cd "$work" && ZQ_UPDATER_PORTS= timeout 300 /usr/bin/zq-update --payload "$work/payload" \
  --port "$p1" --port "$p2" --quiet --report "$work/cli.json") >"$work/cli.out" 2>&1 || status=$?
[ $status -eq 0 ] || fail "the installed zq-update exited $status: $(cat "$work/cli.out")"
kill "${pids[0]}"; wait "${pids[0]}" 2>/dev/null || true
for i in 0 1; do
  jq -e ".units[$i].flash.equal and .units[$i].imagesEqual and .units[$i].exitReceived" \
    "$work/report.json" >/dev/null || fail "unit $i not updated: $(jq -c ".units[$i]" "$work/report.json")"
done
jq -e --arg v "$version" '.toolVersion == $v' "$work/cli.json" >/dev/null || fail "report's toolVersion"
echo "ok: the installed zq-update updated two simulated units (flash and images equal)"

exec 4< <(exec Xvfb -displayfd 1 -noreset -nolisten tcp 2>/dev/null)
pids+=($!)
read -r -t 60 number <&4 || fail "Xvfb did not start"
(unset QT_QPA_PLATFORM; cd "$work"; DISPLAY=:$number ZQ_UPDATER_PORTS= exec /usr/bin/zq-updater) >"$work/window.out" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
  DISPLAY=:$number xdotool search --name "Orvek Annealing ZQ bootlodaer" >/dev/null 2>&1 && break
  sleep 0.1
done
DISPLAY=:$number xdotool search --name "Orvek Annealing ZQ bootlodaer" >/dev/null 2>&1 ||
  fail "the installed window did not show: $(cat "$work/window.out")"
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
echo "ok: the installed zq-updater starts under Xvfb"

# Removed: only the conffiles stay; purged: nothing.
echo "# a key the administrator put here" >"/etc/zq-updater/keys/site.pub"
apt-get remove -y zq-updater >/dev/null 2>&1
[ "$(dpkg-query -W -f='${db:Status-Abbrev}' zq-updater)" = "rc " ] || fail "after remove: $(dpkg-query -W -f='${db:Status-Abbrev}' zq-updater)"
left=$(while read -r f; do if [ -f "$f" ]; then echo "$f"; fi; done <"$work/contents")
[ "$left" = /etc/zq-updater/keys/README ] || fail "after remove, left: $left"
[ -f /etc/zq-updater/keys/site.pub ] || fail "remove took the administrator's key"
rm /etc/zq-updater/keys/site.pub
apt-get purge -y zq-updater >/dev/null 2>&1
dpkg-query -W zq-updater >/dev/null 2>&1 && fail "still known to dpkg after purge"
left=$(while read -r f; do if [ -e "$f" ] && [ ! -d "$f" ]; then echo "$f"; fi; done <"$work/contents")
[ -z "$left" ] && [ ! -e /etc/zq-updater ] || fail "after purge, left: $left $(ls -d /etc/zq-updater 2>/dev/null)"
echo "ok: remove leaves only the conffile (and the administrator's keys), purge leaves nothing"
