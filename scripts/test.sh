#!/usr/bin/env bash
# Sets up a fresh machine, builds every configuration and runs every suite:
# the host suite 64-bit, 32-bit under qemu-i386 and 64-bit under ASan+UBSan,
# the checks of the Windows DLLs, and the x86-64 Windows build's suite and
# Win32 harness under wine64 (pictures of the dialogs in build/win64/shots).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/setup.sh

status=0
run_suite() {
  local name=$1; shift
  echo "=== $name: build"
  scripts/build.sh "$name"
  if [ "$name" != win32 ] && [ "$name" != win64 ]; then
    echo "=== $name: tests"
    (cd "build/$name" && ctest --output-on-failure -j2 --timeout 300 "$@") || status=1
  fi
}

run_suite win32
run_suite host64
DORVE_WIN32_DIR="$top/build/win32" tests/check_dll.sh || status=1
run_suite win64
echo "=== win64: tests and harness under wine64"
tests/wine/run.sh build/win64 build/host64/bin || status=1
run_suite host32
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_suite asan
# The document path, the status thread and the job services under
# ThreadSanitizer: the spooler thread and the status thread share a port.
TSAN_OPTIONS=halt_on_error=1 run_suite tsan \
  -R 'DocumentTest|NotReadyPrinter|JobTest|ReportStatus|CheckDuringTheWait|LeakTest|StatusChannel|TrapWait|PrintDriverTest|PrintEndToEndTest'

exit $status
