#!/usr/bin/env bash
# Runs the x86-64 Windows test programs and the Win32 harness under wine64.
#
#   tests/wine/run.sh WIN64_BUILD_DIR [HOST_BIN_DIR]
#
# WIN64_BUILD_DIR is the build of scripts/build.sh win64; HOST_BIN_DIR holds
# the host build's dorve-printer (default: build/host64/bin beside it).  A
# fresh Wine prefix in a temporary directory, a Japanese locale (Wine's ANSI
# code page is then 932), "MS Gothic" served by IPAGothic, and an Xvfb
# display with a Wine virtual desktop, on which the harness saves its
# pictures into $DORVE_SHOTDIR (default WIN64_BUILD_DIR/shots).  The printer
# emulator runs as a host program on 127.0.0.71; nothing leaves loopback.
# Test cases listed in host-only.txt are left out.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "${1:?usage: run.sh WIN64_BUILD_DIR [HOST_BIN_DIR]}" && pwd)
hostbin=${2:-$top/build/host64/bin}
shots=${DORVE_SHOTDIR:-$build/shots}
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

work=$(mktemp -d "${TMPDIR:-/tmp}/dorve-wine-XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
xvfb_pid=""
printer_pid=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$printer_pid" ] && kill "$printer_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A display of its own: Xvfb picks a free number and reports it.
exec 9>"$work/display"
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
echo "wine: display $DISPLAY, prefix $WINEPREFIX"

start=$(date +%s)
"$wine" wineboot --init >"$work/wineboot.log" 2>&1
wineserver -w
reg() { "$wine" reg add "$@" /f >/dev/null 2>&1; }
# Debian's prefix has no fonts of its own: the caption buttons need Marlett.
[ -f /usr/share/wine/fonts/marlett.ttf ] && cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
# The dialogs' "MS Gothic" is served by IPAPGothic: with the fixed-pitch
# IPAGothic, Wine sets 8-point kana 12 pixels apart (11 on Windows), and the
# About box's "プリントモニター" no longer fits its 63 units.  DORVE_WINE_GOTHIC
# chooses another face.
gothic=${DORVE_WINE_GOTHIC:-IPAPGothic}
for face in "MS Gothic" "ＭＳ ゴシック"; do
  reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "$gothic"
done
for face in "MS UI Gothic" "MS PGothic" "ＭＳ Ｐゴシック" "MS Shell Dlg" "MS Shell Dlg 2"; do
  reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d IPAPGothic
done
# One virtual desktop, so that Wine draws the captions itself (there is no
# window manager on the display).
reg 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default
reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768
wineserver -w
echo "wine: prefix ready in $(( $(date +%s) - start )) s"

# The emulated printer of the transport tests, driven through its state file.
spool=$work/spool
mkdir -p "$spool"
: >"$work/printer.state"
if [ -x "$hostbin/dorve-printer" ]; then
  "$hostbin/dorve-printer" 127.0.0.71 --spool "$spool" --state-file "$work/printer.state" --quiet \
    >"$work/printer.log" 2>&1 &
  printer_pid=$!
  export DORVE_WINE_PRINTER=127.0.0.71 DORVE_WINE_SPOOL="Z:${spool//\//\\}" \
         DORVE_WINE_PRINTER_STATE="Z:${work//\//\\}\\printer.state"
else
  echo "wine: no $hostbin/dorve-printer: the transport tests will fail" >&2
fi

passed=0
failed=0
failures=()
run_program() {
  local exe=$1 name filter
  name=$(basename "$exe" .exe)
  # The cases of this program that only the host can run.
  filter=$(awk -v p="$name" '$1 == p { printf "%s%s", sep, $2; sep = ":" }' "$here/host-only.txt")
  echo "=== wine: $name${filter:+ (host-only left out: $filter)}"
  if timeout 180 "$wine" "$exe" ${filter:+--gtest_filter=-$filter} >"$work/$name.log" 2>&1; then
    passed=$((passed + 1))
    tail -n 3 "$work/$name.log"
  else
    failed=$((failed + 1))
    failures+=("$name")
    cat "$work/$name.log"
  fi
}
for exe in "$build"/wine/*_test.exe; do
  run_program "$exe"
done

echo "=== wine: harness (pictures in $shots)"
rm -rf "$shots"
mkdir -p "$shots"
if WINEDLLOVERRIDES="$WINEDLLOVERRIDES;spoolss=n,b" timeout 300 "$wine" "$build/wine/harness.exe" "$build/DORVEMON.DLL" "$shots" >"$work/harness.log" 2>&1; then
  passed=$((passed + 1))
  grep -v '^ok  ' "$work/harness.log"
else
  failed=$((failed + 1))
  failures+=(harness)
  cat "$work/harness.log"
fi

[ ${#failures[@]} -gt 0 ] && echo "wine: failed: ${failures[*]}"
echo "wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
