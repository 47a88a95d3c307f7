#!/usr/bin/env bash
# Configures and builds both programs, everything they carry, and the tests (build/).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${OKU_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build"
