#!/usr/bin/env bash
# Update-package benchmark on a realistic pair of installations (~180 MiB, bench/delta/make_trees.py):
# the update-package builder repacks both under Wine exactly as the installer does; then
#   - patch size: our patch (raw and as the LZMA2 7z the package carries) against the full new
#     archive and against xdelta3's patch for the same pair (-S none, and xdelta3's own default
#     secondary compression);
#   - apply time: zucchini.exe -apply under Wine (as the installer runs it) against xdelta3 -d on
#     its own -S none patch; both outputs are checked byte for byte;
#   - ComputeFileSha256 (package_helper.exe sha256 under Wine) against sha256sum on the new archive.
# Times are the best of three runs. Usage: bench/delta/run.sh [windows-build-dir]
#   windows-build-dir: MinGW build tree (default build/); DELTA_BENCH_DIR: scratch (~1.5 GiB,
#   default /tmp/delta-bench).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=${DELTA_BENCH_DIR:-/tmp/delta-bench}
sevenzip=$(sed -n 's/^OKU_7ZA_EXE:FILEPATH=//p' "$build/CMakeCache.txt")
[ -f "$sevenzip" ] || { echo "bench/delta: no 7za.exe at '$sevenzip' (scripts/bootstrap.sh installs it)" >&2; exit 1; }
ninja -C "$build" package_helper zucchini >/dev/null
helper=$build/bin/tools/package_helper.exe
zucchini=$build/bin/tools/zucchini.exe
prefix=$build/update-package/wineprefix
old_version=147.0.7727.4985
new_version=147.0.7731.5020
mkdir -p "$work"
cd "$work"

if [ ! -f trees.done ]; then
  rm -rf old new
  python3 "$root/bench/delta/make_trees.py" old new "$old_version" "$new_version" >trees.txt
  touch trees.done
fi
cat trees.txt
printf 'placeholder setup.exe\r\n' >setup.exe
t0=$(date +%s.%N)
"$root/tools/update-package/make-update-package.sh" --old old --new new --out package --prefix "$prefix" \
  --helper "$helper" --zucchini "$zucchini" --7za "$sevenzip" --setup setup.exe --keep-work >builder.txt
t1=$(date +%s.%N)
sed 's/^/  /' builder.txt
base=package/work/base/chrome.7z
target=package/work/target/chrome.7z
ours=package/chrome_7z.patch.raw
packed=package/chrome_7z.patch

export WINEPREFIX="$prefix" WINEDEBUG=-all
winpath() { echo "Z:$(echo "$1" | sed 's#/#\\#g')"; }
best() {  # best wall time of three runs of the command, in seconds
  local best="" t0 t1 t i
  for i in 1 2 3; do
    sync
    t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
same() { cmp -s "$1" "$target" || { echo "MISMATCH: $1 differs from the new archive" >&2; exit 1; }; }

xdelta3 -e -f -S none -s "$base" "$target" xd_none.patch
xdelta3 -e -f -s "$base" "$target" xd_default.patch
timeout 600 wine "$zucchini" -apply x x x >/dev/null 2>&1 || true  # wineserver up before timing
apply_ours=$(best timeout 600 wine "$zucchini" -apply "$(winpath "$work/$base")" "$(winpath "$work/$ours")" \
  "$(winpath "$work/out_ours.7z")")
same out_ours.7z
apply_xd=$(best xdelta3 -d -f -s "$base" xd_none.patch out_xd.7z)
same out_xd.7z
wine_start=$(best timeout 60 wine "$helper")
sha_ours=$(best timeout 600 wine "$helper" sha256 "$(winpath "$work/$target")")
sha_native=$(best sha256sum "$target")
[ "$(timeout 600 wine "$helper" sha256 "$(winpath "$work/$target")" | tr -d '\r')" = \
  "$(sha256sum "$target" | cut -d' ' -f1)" ] || { echo "MISMATCH: ComputeFileSha256" >&2; exit 1; }
rm -f out_ours.7z out_xd.7z

size() { stat -c %s "$1"; }
r() { echo "scale=6; $1 / $2" | bc -l; }
new_size=$(size "$target")
mib() { echo "scale=3; $1 / 1048576" | bc -l; }
echo
printf 'base archive          %11d bytes (%.1f MiB)\n' "$(size "$base")" "$(mib "$(size "$base")")"
printf 'new archive           %11d bytes (%.1f MiB)\n' "$new_size" "$(mib "$new_size")"
printf 'our patch, raw        %11d bytes  %.4f of the new archive  %.3f x xdelta3 -S none (%d)\n' \
  "$(size "$ours")" "$(r "$(size "$ours")" "$new_size")" "$(r "$(size "$ours")" "$(size xd_none.patch)")" \
  "$(size xd_none.patch)"
printf 'our patch, LZMA2 7z   %11d bytes  %.4f of the new archive  %.3f x xdelta3 default (%d, secondary compression)\n' \
  "$(size "$packed")" "$(r "$(size "$packed")" "$new_size")" "$(r "$(size "$packed")" "$(size xd_default.patch)")" \
  "$(size xd_default.patch)"
printf 'apply: zucchini.exe under Wine %6.2f s, xdelta3 -d %6.2f s (its own -S none patch)   ratio %.2f\n' \
  "$apply_ours" "$apply_xd" "$(r "$apply_ours" "$apply_xd")"
sha_net=$(echo "$sha_ours - $wine_start" | bc -l)
printf 'sha256: ComputeFileSha256 under Wine %6.2f s (%.0f MiB/s; %.0f MiB/s without the %.2f s Wine start)\n' \
  "$sha_ours" "$(r "$(mib "$new_size")" "$sha_ours")" "$(r "$(mib "$new_size")" "$sha_net")" "$wine_start"
printf '        sha256sum %6.2f s (%.0f MiB/s)   throughput ratio %.2f (%.2f without the Wine start)\n' \
  "$sha_native" "$(r "$(mib "$new_size")" "$sha_native")" "$(r "$sha_native" "$sha_ours")" "$(r "$sha_native" "$sha_net")"
printf 'builder: whole package (2 x repack of the base, repack of the new, gen, check, pack) %.1f s\n' \
  "$(echo "$t1 - $t0" | bc -l)"
