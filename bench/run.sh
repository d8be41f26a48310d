#!/usr/bin/env bash
# Runs the benchmarks of an existing build; builds nothing.
#   bench/run.sh BUILD_DIR [discovery|print]...
# Without names every benchmark found in BUILD_DIR/bin runs.  Extra options
# reach a benchmark through DISCOVERY_BENCH_ARGS and PRINT_BENCH_ARGS, e.g.
#   PRINT_BENCH_ARGS="--size 268435456 --rounds 5" bench/run.sh build/host64 print
set -uo pipefail
if [ $# -lt 1 ] || [ ! -d "$1/bin" ]; then
  echo "usage: bench/run.sh BUILD_DIR [discovery|print]..." >&2
  exit 2
fi
bin=$(cd "$1/bin" && pwd)
shift
names=("$@")
[ ${#names[@]} -eq 0 ] && names=(discovery print)
export DORVE_LIBPATH="$bin/../lib"
status=0
for name in "${names[@]}"; do
  case "$name" in
    discovery) prog="$bin/discovery_bench"; args=${DISCOVERY_BENCH_ARGS:-} ;;
    print)     prog="$bin/print_bench";     args=${PRINT_BENCH_ARGS:-} ;;
    *) echo "bench/run.sh: unknown benchmark '$name'" >&2; exit 2 ;;
  esac
  if [ ! -x "$prog" ]; then
    echo "--- $name: $prog is not built, skipped"
    continue
  fi
  echo "--- $name"
  # shellcheck disable=SC2086
  "$prog" $args || status=1
done
exit $status
