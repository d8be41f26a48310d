#!/usr/bin/env bash
# The main job: installs the monitor as a setup program does, adds a port
# for the bundled printer emulator on a loopback address, prints a sample
# document through the monitor showing the job's status, shows what the
# printer received, and uninstalls the monitor with its port.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/setup.sh
scripts/build.sh host64 >/dev/null

bin="$top/build/host64/bin"
work=$(mktemp -d)
printer=
trap 'kill "$printer" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
address=127.0.0.35
export DORVE_REGISTRY="$work/registry.reg"
export DORVE_LIBPATH="$top/build/host64/lib"

dorve="$bin/dorve"

# The spooler starts on a registry of its own; what it holds before the
# monitor is installed is kept to compare with at the end.
echo "--- is the monitor installed?"
"$dorve" is-installed || true
cp "$DORVE_REGISTRY" "$work/before.reg"

mkdir -p "$work/spool"
"$bin/dorve-printer" "$address" --spool "$work/spool" &
printer=$!
sleep 0.5

echo "--- installing the monitor, as a setup program does"
"$dorve" install
"$dorve" is-installed
echo "--- adding the port DEMO: for the printer at $address"
"$dorve" add-port DEMO: "$address"
echo "--- the spooler's ports"
"$dorve" ports --level 2
echo "--- printing samples/sample.ps on DEMO:"
"$dorve" print DEMO: samples/sample.ps --user demo --document "Sample page"
echo "--- what the printer received"
for job in "$work"/spool/*; do
  echo "$job:"
  head -c 200 "$job" | od -c | head -n 6
done
echo "--- uninstalling the monitor with its ports"
"$dorve" uninstall
"$dorve" is-installed || true
echo "--- the registry now, against before the install"
# The registration, the InstalledFiles value and the port are gone; what
# remains is the monitor's own settings key, which stays after an uninstall.
diff -u "$work/before.reg" "$DORVE_REGISTRY" || true
