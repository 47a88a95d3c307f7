#!/usr/bin/env bash
# Builds and runs the extraction benchmark in a build tree (default: build/), generating its
# 190 MiB payload first, and prints the figures. Usage: bench/run.sh [build-dir]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$build" extract_bench >/dev/null
prefix="$build/wineprefix"
if [ ! -f "$prefix/system.reg" ]; then "$root/tests/harness/make-prefix.sh" "$prefix" >/dev/null; fi
OKU_WINE_TIMEOUT=600 WINEPREFIX="$prefix" "$build/wine-run.sh" "$build/bench/extract_bench.exe"
