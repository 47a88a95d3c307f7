#!/usr/bin/env bash
# Configures build/ and builds both programs, everything they carry, and the tests; given target
# names (scripts/build.sh OkuSetup), only those and what they need.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${OKU_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build "$build" "${targets[@]}"
