#!/usr/bin/env bash
# release-update-package.sh --old <release folder> --new <release folder> --out <file.exe>
#                           [--build <dir>] [-D<cmake option>...]
# The update package from one release of the product to the next, in one command: configures a
# release build (default build-release-update/) with OKU_RELEASE_DIR=<new> and
# OKU_RELEASE_BASE_DIR=<old>, builds its target OkuSetup_release_update and copies the package to
# <file.exe>. A release folder holds the product's real payload files and Chrome-bin/, the
# browser archive tree (docs/release.md). With OKU_SIGN_CERT and OKU_SIGN_KEY in the environment
# (or -DOKU_SIGN_CERT=... -DOKU_SIGN_KEY=...), the package and the zucchini.exe it carries are
# signed. Needs only what scripts/bootstrap.sh installs.
set -euo pipefail
die() { echo "release-update-package: $*" >&2; exit 1; }
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
old="" new="" out="" build="$source_dir/build-release-update" defines=()
while [ $# -gt 0 ]; do
  case "$1" in
    --old) old="$2"; shift 2 ;;
    --new) new="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    -D*) defines+=("$1"); shift ;;
    *) die "unknown argument '$1'" ;;
  esac
done
[ -n "$old" ] && [ -n "$new" ] && [ -n "$out" ] || die "usage: --old <release folder> --new <release folder> --out <file.exe> [--build <dir>]"
for d in "$old" "$new"; do [ -d "$d" ] || die "not a directory: $d"; done
old=$(cd "$old" && pwd); new=$(cd "$new" && pwd)
# Signing options from the environment reach a build directory configured earlier too.
for v in OKU_SIGN_CERT OKU_SIGN_KEY OKU_SIGN_PASS_FILE; do
  [ -z "${!v:-}" ] || defines+=("-D$v=${!v}")
done
mkdir -p "$build"
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DOKU_BUILD_TESTS=OFF -DOKU_RELEASE_DIR="$new" -DOKU_RELEASE_BASE_DIR="$old" \
  "${defines[@]}" >"$build/release-configure.log" 2>&1 || { cat "$build/release-configure.log" >&2; die "configure failed"; }
cmake --build "$build" --target OkuSetup_release_update
mkdir -p "$(dirname "$out")"
cp "$build/bin/variants/OkuSetup_update.exe" "$out"
cat "$build/update-package/OkuSetup_release_update/report.txt"
echo "update package: $out"
