#!/usr/bin/env bash
# The main job: prints a sample document through the monitor to the bundled
# printer emulator on a loopback address, showing the job's status, then
# shows what the printer received.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/setup.sh
scripts/build.sh host64 >/dev/null

bin="$top/build/host64/bin"
work=$(mktemp -d)
trap 'kill "$printer" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
address=127.0.0.35
export DORVE_REGISTRY="$work/registry.reg"
export DORVE_LIBPATH="$top/build/host64/lib"

# The monitor's registration with the spooler, and one port of the monitor.
cat > "$DORVE_REGISTRY" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Monitors\\Dorve Port]
"Driver"="DORVEMON.DLL"

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZUV Port\\Ports\\DEMO:]
"IPAddress"="$address"

REG

mkdir -p "$work/spool"
"$bin/dorve-printer" "$address" --spool "$work/spool" &
printer=$!
sleep 0.5

echo "--- the spooler's ports"
"$bin/dorve" ports --level 2
echo "--- printing samples/sample.ps on DEMO:"
"$bin/dorve" print DEMO: samples/sample.ps --user demo --document "Sample page"
echo "--- what the printer received"
for job in "$work"/spool/*; do
  echo "$job:"
  head -c 200 "$job" | od -c | head -n 6
done
