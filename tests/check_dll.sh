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
    case " $* " in *" $dll "*) ;; *) echo "unexpected import $dll"; return 1 ;; esac
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
resources_of() {  # "LANGUAGE KIND" a line for each resource, from the decompiled script
  i686-w64-mingw32-windres -i "$1" -O rc 2>/dev/null | awk '
    /^LANGUAGE/ {lang = $2 $3; next}
    /^STRINGTABLE/ {print lang, "STRINGTABLE"; next}
    /^[0-9]+ DIALOG/ {print lang, "DIALOG" $1; next}
    /RT_MESSAGETABLE/ {print lang, "MESSAGETABLE"}'
}
res=$(resources_of "$mon")
has_resource() { grep -qx "$1" <<<"$res"; }
check "DORVEMON.DLL has the message table in English" has_resource "9,1 MESSAGETABLE"
check "DORVEMON.DLL has the string table in Japanese" has_resource "17,1 STRINGTABLE"
for id in 100 200 300; do
  check "DORVEMON.DLL has dialog $id in Japanese" has_resource "17,1 DIALOG$id"
done

# ZUVUTIL: the six exports under their plain names and ordinals, each
# removing its own arguments (stdcall: 12 bytes for three, 4 for one).
util="$dir/ZUVUTIL.dll"
export_rva() {  # export_rva FILE ORDINAL
  $objdump -p "$1" | sed -n -E "s/.*\+base\[ *$2\] ([0-9a-f]+) Export RVA.*/\1/p"
}
ordinal_of() {  # ordinal_of FILE NAME: ordinal from the name table
  local idx
  idx=$($objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n -E "s/^\s*\[ *([0-9]+)\] $2\$/\1/p" | head -n 1)
  [ -n "$idx" ] && echo $((idx + 1))
}
pops_bytes() {  # pops_bytes FILE NAME BYTES: the export's first return is "ret $BYTES"
  local base rva start
  base=$($objdump -p "$1" | awk '$1 == "ImageBase" {print $2}')
  rva=$(export_rva "$1" "$(ordinal_of "$1" "$2")")
  start=$(printf '0x%x' $((0x$base + 0x$rva)))
  local code
  code=$($objdump -d --start-address="$start" --stop-address=$((start + 4096)) "$1")
  grep -m1 -E '\sret' <<<"$code" | grep -q -E "ret +\\\$0x$(printf '%x' "$3")\b"
}
check "ZUVUTIL.dll exists" test -f "$util"
check "ZUVUTIL.dll is PE32 for i386" sh -c "$objdump -f '$util' | grep -q 'file format pei-i386'"
check "ZUVUTIL.dll module name" sh -c "$objdump -p '$util' | grep -q -E '^Name .* ZUVUTIL.dll$'"
check "ZUVUTIL.dll exports exactly the six entries" \
  test "$(exports_of "$util" | tr '\n' ' ')" = "Add95Monitor AddNTMonitor AddZUVPort DeleteZUVMonitor IsZUVMonitorRunning KillZUVMonitor "
n=1
for name in Add95Monitor AddZUVPort DeleteZUVMonitor IsZUVMonitorRunning KillZUVMonitor AddNTMonitor; do
  check "ZUVUTIL.dll $name has ordinal $n" test "$(ordinal_of "$util" $name)" = $n
  n=$((n + 1))
done
for name in Add95Monitor AddZUVPort DeleteZUVMonitor AddNTMonitor; do
  check "ZUVUTIL.dll $name removes 12 bytes of arguments" pops_bytes "$util" $name 12
done
for name in IsZUVMonitorRunning KillZUVMonitor; do
  check "ZUVUTIL.dll $name removes 4 bytes of arguments" pops_bytes "$util" $name 4
done
check "ZUVUTIL.dll subsystem version 4" test "$(header_field "$util" MajorSubsystemVersion)" = 4
check "ZUVUTIL.dll OS version 4" test "$(header_field "$util" MajorOSystemVersion)" = 4
check "ZUVUTIL.dll imports only winspool, advapi32, kernel32 and the C runtime" only_imports "$util" \
  kernel32.dll advapi32.dll winspool.drv msvcrt.dll

echo "check_dll: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
