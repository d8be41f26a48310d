#!/usr/bin/env bash
# Builds one configuration into build/NAME.
#   scripts/build.sh host64|host32|asan|tsan|win32|win64
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
name=$1
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$name" in
  host64) ;;
  host32) args+=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-i386.cmake") ;;
  asan)   args=(-DCMAKE_BUILD_TYPE=Debug -DDORVE_SANITIZE=ON) ;;
  tsan)   args=(-DCMAKE_BUILD_TYPE=Debug -DDORVE_TSAN=ON) ;;
  win32)  args+=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw-i686.cmake") ;;
  win64)  args+=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw-x86_64.cmake") ;;
  *) echo "build.sh: unknown configuration '$name'" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$top/build/$name" "${args[@]}" >/dev/null
cmake --build "$top/build/$name" -j"$(nproc)"
