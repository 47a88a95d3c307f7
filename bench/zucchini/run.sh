#!/usr/bin/env bash
# Patcher benchmark: on a generated ~180 MiB archive-like old/new pair, compares our patch with
# the new file and with xdelta3's (-S none), and our apply time with xdelta3 -d on its own patch,
# natively and for zucchini.exe under Wine; zucchini also applies xdelta3's patch (VCDIFF).
# Every output is checked byte for byte. Real release pairs: bench/zucchini/corpus.sh.
# Usage: bench/zucchini/run.sh [windows-build-dir] [MiB]
#   windows-build-dir: MinGW build tree holding bin/tools/zucchini.exe (default: build/)
#   ZUCCHINI_BENCH_DIR: scratch folder for the ~1 GiB of files (default: /tmp/zucchini-bench)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
mib=${2:-180}
work=${ZUCCHINI_BENCH_DIR:-/tmp/zucchini-bench}
native=$work/native-build
mkdir -p "$work"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$build" zucchini >/dev/null
build=$(cd "$build" && pwd)
if [ ! -f "$native/build.ninja" ]; then
  cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOKU_SANITIZE=OFF >/dev/null
fi
ninja -C "$native" zucchini_native >/dev/null
z_native=$native/tests/native/zucchini_native
z_exe=$build/bin/tools/zucchini.exe
prefix="$build/wineprefix"
if [ ! -f "$prefix/system.reg" ]; then "$root/tests/harness/make-prefix.sh" "$prefix" >/dev/null; fi

cd "$work"
if [ ! -f old.bin ] || [ ! -f new.bin ] || [ "$(cat pair.mib 2>/dev/null)" != "$mib" ]; then
  python3 "$root/bench/zucchini/make_pair.py" old.bin new.bin "$mib"
  echo "$mib" > pair.mib
fi
rm -f out.* *.patch

# seconds(cmd...): wall time of one run; its peak RSS (KiB) is left in rss.txt.
seconds() {
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f %M -o rss.txt "$@" >/dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
rss() { tail -1 rss.txt; }
same() { cmp -s "$1" new.bin || { echo "MISMATCH: $1 differs from new.bin" >&2; exit 1; }; }
winpath() { echo "Z:$(echo "$1" | sed 's#/#\\#g')"; }
sync

gen_ours=$(seconds "$z_native" -gen old.bin new.bin ours.patch); gen_rss=$(rss)
gen_xd=$(seconds xdelta3 -e -f -S none -s old.bin new.bin xd.patch)
apply_ours=$(seconds "$z_native" -apply old.bin ours.patch out.ours); apply_rss=$(rss); same out.ours
apply_xd=$(seconds xdelta3 -d -f -s old.bin xd.patch out.xd); same out.xd
apply_ours_on_xd=$(seconds "$z_native" -apply old.bin xd.patch out.ours_xd); same out.ours_xd
export WINEPREFIX="$prefix" OKU_WINE_TIMEOUT=900
"$build/wine-run.sh" "$(winpath "$z_exe")" -apply x x x >/dev/null 2>&1 || true  # warm up wineserver
apply_wine=$(seconds "$build/wine-run.sh" "$(winpath "$z_exe")" -apply "$(winpath "$work/old.bin")" \
  "$(winpath "$work/ours.patch")" "$(winpath "$work/out.wine")"); same out.wine

new_size=$(stat -c %s new.bin)
ours_size=$(stat -c %s ours.patch)
xd_size=$(stat -c %s xd.patch)
r() { echo "scale=4; $1 / $2" | bc -l; }
printf 'new file            %12d bytes\n' "$new_size"
printf 'our patch           %12d bytes   %.4f of new file   %.3f x xdelta3 -S none (%d bytes)\n' \
  "$ours_size" "$(r "$ours_size" "$new_size")" "$(r "$ours_size" "$xd_size")" "$xd_size"
printf 'gen   ours %6.2f s (peak %d MiB)   xdelta3 -e %6.2f s   ratio %.2f\n' \
  "$gen_ours" $((gen_rss / 1024)) "$gen_xd" "$(r "$gen_ours" "$gen_xd")"
printf 'apply ours %6.2f s (peak %d MiB)   xdelta3 -d %6.2f s   ratio %.2f (native)\n' \
  "$apply_ours" $((apply_rss / 1024)) "$apply_xd" "$(r "$apply_ours" "$apply_xd")"
printf 'apply zucchini.exe under Wine %6.2f s   ratio %.2f vs xdelta3 -d\n' "$apply_wine" "$(r "$apply_wine" "$apply_xd")"
printf 'cross: ours on xdelta3 patch %6.2f s (output identical)\n' "$apply_ours_on_xd"
rm -f out.*
