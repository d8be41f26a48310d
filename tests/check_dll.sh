#!/usr/bin/env bash
# Inspects the Windows deliverables built by the i686 cross build: PE32,
# marked for Windows 4.0, exactly the expected exports, only the allowed
# imports, and the resources the monitor loads.
set -uo pipefail
dir=${DORVE_WIN32_DIR:?set DORVE_WIN32_DIR to the win32 build folder}
objdump=i686-w64-mingw32-objdump
passed=0
failed=0

check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@" >/dev/null 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "check_dll: FAILED: $what"
  fi
}

exports_of() {  # the export names, one a line, sorted
  $objdump -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF==0 {on=0} on {print $NF}' | sort
}
imports_of() {  # the imported DLLs, lower-cased, sorted
  $objdump -p "$1" | awk '/DLL Name:/ {print tolower($3)}' | sort -u
}
only_imports() {  # only_imports FILE ALLOWED...
  local file=$1; shift
  local dll
  for dll in $(imports_of "$file"); do
    printf '%s\n' "$@" | grep -qx "$dll" || { echo "unexpected import $dll"; return 1; }
  done
}
header_field() { $objdump -p "$1" | awk -v f="$2" '$1 == f {print $2}'; }

mon="$dir/DORVEMON.DLL"
check "DORVEMON.DLL exists" test -f "$mon"
check "DORVEMON.DLL is PE32 for i386" sh -c "$objdump -f '$mon' | grep -q 'file format pei-i386'"
check "DORVEMON.DLL exports exactly DllMain and InitializeMonitorEx" \
  test "$(exports_of "$mon" | tr '\n' ' ')" = "DllMain InitializeMonitorEx "
check "DORVEMON.DLL subsystem version 4" test "$(header_field "$mon" MajorSubsystemVersion)" = 4
check "DORVEMON.DLL OS version 4" test "$(header_field "$mon" MajorOSystemVersion)" = 4
check "DORVEMON.DLL imports only the system DLLs and the C runtime" only_imports "$mon" \
  kernel32.dll user32.dll gdi32.dll advapi32.dll wsock32.dll winspool.drv msvcrt.dll
check "DORVEMON.DLL has a message table (English)" \
  sh -c "i686-w64-mingw32-windres -i '$mon' -O rc 2>/dev/null | grep -B3 MESSAGETABLE | grep -q 'LANGUAGE 9, 1'"
check "DORVEMON.DLL has the string table in Japanese" \
  sh -c "i686-w64-mingw32-windres -i '$mon' -O rc 2>/dev/null | grep -A2 'LANGUAGE 17, 1' | grep -q STRINGTABLE"

echo "check_dll: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
