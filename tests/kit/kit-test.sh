#!/usr/bin/env bash
# The update kit end to end: built twice from the same programs and payload it
# is the same bytes; unpacked, every Qt library and plugin its programs load
# resolves inside it; its command line updates two simulated units; a kit with
# a signed package and its key instead of a payload; its window starts under
# Xvfb with its title.
#   kit-test.sh BUILD_DIR UNIT_SIM MAKE_PAYLOAD
set -euo pipefail
build=$1 sim=$2 make_payload=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$make_payload" "$work/payload" >/dev/null
"$root/scripts/kit" --payload "$work/payload" --from-build "$build" --out "$work/a.tar.gz" >/dev/null
"$root/scripts/kit" --payload "$work/payload" --from-build "$build" --out "$work/b.tar.gz" >/dev/null
cmp "$work/a.tar.gz" "$work/b.tar.gz" || fail "two kits from the same input differ"
echo "ok: the kit is reproducible ($(stat -c %s "$work/a.tar.gz") bytes)"

# A payload the job would refuse is refused, with the job's message.
mkdir "$work/bad" && cp "$work/payload/settings.json" "$work/bad/"
if msg=$("$root/scripts/kit" --payload "$work/bad" --from-build "$build" --out "$work/c.tar.gz" 2>&1); then
  fail "a payload without fw1.bin was packed"
fi
grep -q "fw1.bin" <<<"$msg" || fail "the refusal does not name fw1.bin: $msg"
echo "ok: a payload without fw1.bin is refused"

mkdir "$work/unpacked"
tar -xzf "$work/a.tar.gz" -C "$work/unpacked"
kit=$(realpath "$(echo "$work"/unpacked/zq-update-kit-*)")
[ -x "$kit/zq-updater" ] && [ -x "$kit/zq-update" ] && [ -x "$kit/start-zq-updater" ] || fail "programs missing"
[ -f "$kit/fw1.bin" ] && [ -f "$kit/settings.json" ] && [ -f "$kit/README.txt" ] || fail "payload or text missing"
# inside: every libQt* in the list on stdin lies in the kit's lib/ or plugins/.
inside() {
  local seen=0 lib
  while read -r lib; do
    seen=1
    case "$(realpath -m "$lib")" in "$kit"/lib/* | "$kit"/plugins/*) ;; *) fail "$1 loads $lib" ;; esac
  done
  [ $seen = 1 ] || fail "$1 loads no Qt library"
}
for f in "$kit/zq-updater" "$kit/zq-update"; do
  ! ldd "$f" | grep -q "not found" || fail "$f: $(ldd "$f" | grep 'not found')"
  ldd "$f" | awk '/libQt[56]/ {print $3}' | inside "$f"
done
echo "ok: every Qt library the programs link resolves inside the kit"

# The command line from the kit against two simulated units.
exec 3< <("$sim" --units 2 --payload "$work/payload" --report "$work/report.json" --restart-ms 50)
pids+=($!)
read -r -t 20 p1 <&3 && read -r -t 20 p2 <&3 || fail "zq-unit-sim did not start"
status=0
(cd "$work" && ZQ_UPDATER_PORTS= timeout 300 "$kit/zq-update" --port "$p1" --port "$p2" --quiet) \
  >"$work/cli.out" 2>&1 || status=$?
[ $status -eq 0 ] || fail "zq-update from the kit exited $status: $(cat "$work/cli.out")"
kill "${pids[0]}"; wait "${pids[0]}" 2>/dev/null || true
for i in 0 1; do
  jq -e ".units[$i].flash.equal and .units[$i].imagesEqual and .units[$i].exitReceived" \
    "$work/report.json" >/dev/null || fail "unit $i not updated: $(jq -c ".units[$i]" "$work/report.json")"
done
echo "ok: zq-update from the kit updated two units"

# A kit carrying a signed update package and its public key instead of a loose
# payload: the programs in it trust the key in its keys/ folder; a package
# signed by another key is not packed.
if command -v minisign >/dev/null; then
  minisign -G -W -p "$work/kit.pub" -s "$work/kit.key" >/dev/null
  minisign -G -W -p "$work/other.pub" -s "$work/other.key" >/dev/null
  "$build/tools/package/zq-make-package" --sign "$work/kit.key" "$work/payload" "$work/update.zqpkg" >/dev/null
  "$build/tools/package/zq-make-package" --sign "$work/other.key" "$work/payload" "$work/other.zqpkg" >/dev/null
  "$root/scripts/kit" --package "$work/update.zqpkg" --key "$work/kit.pub" --from-build "$build" \
    --out "$work/p.tar.gz" >/dev/null
  mkdir "$work/punpacked"
  tar -xzf "$work/p.tar.gz" -C "$work/punpacked"
  pkit=$(realpath "$(echo "$work"/punpacked/zq-update-kit-*)")
  [ -f "$pkit/update.zqpkg" ] && [ -f "$pkit/keys/kit.pub" ] && [ ! -e "$pkit/fw1.bin" ] ||
    fail "the package kit does not hold the package and the key alone"
  id=$(head -1 "$work/kit.pub" | awk '{print $NF}')
  "$pkit/zq-update" verify "$pkit/update.zqpkg" | grep -q "Signed by:    key $id" ||
    fail "the kit's zq-update does not trust the kit's key"
  if msg=$("$root/scripts/kit" --package "$work/other.zqpkg" --key "$work/kit.pub" --from-build "$build" \
      --out "$work/q.tar.gz" 2>&1); then
    fail "a package signed by another key was packed"
  fi
  grep -q "not trusted" <<<"$msg" || fail "the refusal does not say the key is not trusted: $msg"
  echo "ok: a kit carries a signed package and its key; a package by another key is refused"
else
  echo "skip: minisign is not installed (apt install minisign): no package kit checked"
fi

# The window from the kit under Xvfb: its title shows.
# Xvfb picks a free display itself and names it once it takes connections: a
# display number drawn at random may be taken by another test's server, and a
# loaded machine may take more than a few seconds to start one. Without
# -noreset the server starts over whenever its last client leaves: the probes
# below connect and leave, and a window still starting on a loaded machine
# found the server resetting ("could not connect to display").
exec 4< <(exec Xvfb -displayfd 1 -noreset -nolisten tcp 2>/dev/null)
pids+=($!)
read -r -t 60 number <&4 || fail "Xvfb did not start"
display=:$number
(unset QT_QPA_PLATFORM; DISPLAY=$display ZQ_UPDATER_PORTS= exec "$kit/start-zq-updater") >"$work/window.out" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
  DISPLAY=$display xdotool search --name "Orvek Annealing ZQ bootlodaer" >/dev/null 2>&1 && break
  sleep 0.1
done
DISPLAY=$display xdotool search --name "Orvek Annealing ZQ bootlodaer" >/dev/null 2>&1 ||
  fail "the window did not show: $(cat "$work/window.out")"
echo "ok: the window from the kit shows its title"
# What the running window has loaded: its Qt libraries and the xcb platform plugin, from the kit.
window=$(pgrep -n -f "$kit/zq-updater" || pgrep -n -x zq-updater)
grep -q "$kit/plugins/platforms/libqxcb.so" "/proc/$window/maps" || fail "the xcb plugin is not the kit's"
awk '$6 ~ /libQt[56]|qt[56]\/plugins/ {print $6}' "/proc/$window/maps" | sort -u | inside "the window"
echo "ok: every Qt library and plugin the window loads comes from the kit"
