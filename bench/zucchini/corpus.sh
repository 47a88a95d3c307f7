#!/usr/bin/env bash
# Patch sizes on real release pairs: fetches pinned consecutive versions of Windows x64 binaries
# from npm (Go, Rust and MSVC C++ builds) plus the demo product's two archives (7z -mx0, as the
# update package diffs them), and for each pair measures our patch as shipped (LZMA2 7z -mx9 of
# the raw patch, as make-update-package.sh packs it), Debian's bsdiff and xdelta3 -9 -S djw;
# generation time and peak memory (native), apply time and peak memory of zucchini.exe under Wine.
# Every output is checked byte for byte. The table goes into docs/performance.md.
# Usage: bench/zucchini/corpus.sh [windows-build-dir]
#   ZUCCHINI_CORPUS_DIR: download cache and scratch (default: ~/.cache/oku-zucchini-corpus)
#   ZUCCHINI_CORPUS_ONLY: run only the pairs whose name contains this text
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
build=$(cd "$build" && pwd)
cache=${ZUCCHINI_CORPUS_DIR:-$HOME/.cache/oku-zucchini-corpus}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# name | npm package | old version | new version | file inside the package | compiler
pairs=(
  "esbuild|@esbuild/win32-x64|0.25.0|0.25.1|package/esbuild.exe|Go"
  "buf-lint|@bufbuild/buf-win32-x64|1.68.3|1.68.4|package/bin/protoc-gen-buf-lint.exe|Go"
  "rollup|@rollup/rollup-win32-x64-msvc|4.68.8|4.68.9|package/rollup.win32-x64-msvc.node|Rust (MSVC)"
  "dprint|@dprint/win32-x64|0.50.1|0.50.2|package/dprint.exe|Rust (MSVC)"
  "parcel-watcher|@parcel/watcher-win32-x64|2.5.0|2.5.1|package/watcher.node|C++ (MSVC)"
)

# Tools: bsdiff is the bench's own dependency.
if ! command -v bsdiff >/dev/null; then apt-get install -y bsdiff >/dev/null || { apt-get update >/dev/null && apt-get install -y bsdiff >/dev/null; }; fi
command -v xdelta3 >/dev/null || apt-get install -y xdelta3 >/dev/null
# The Linux build of the pinned 7zip-bin (same 7-Zip as the package's 7za.exe); npm leaves it
# without the execute bit, so a copy in the cache runs.
[ -f "$root/node_modules/7zip-bin/linux/x64/7za" ] || { echo "corpus: 7zip-bin missing (scripts/bootstrap.sh)" >&2; exit 1; }
sevenzip=$cache/7za
install -m 755 "$root/node_modules/7zip-bin/linux/x64/7za" "$sevenzip"
native=$cache/native-build
if [ ! -f "$native/build.ninja" ]; then
  cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOKU_SANITIZE=OFF >/dev/null
fi
ninja -C "$native" zucchini_native >/dev/null
z_native=$native/tests/native/zucchini_native
z_exe=$build/bin/tools/zucchini.exe
[ -f "$z_exe" ] || { echo "corpus: $z_exe missing: build the zucchini target first" >&2; exit 1; }
prefix=$cache/wineprefix
[ -f "$prefix/system.reg" ] || "$root/tests/harness/make-prefix.sh" "$prefix" >/dev/null

fetch() {  # fetch <package> <version> <file in package> <output>
  local dir="$cache/npm/$1@$2"
  if [ ! -f "$dir/done" ]; then
    rm -rf "$dir" && mkdir -p "$dir"
    (cd "$dir" && npm pack --silent "$1@$2" >/dev/null && tar -xzf ./*.tgz && touch done)
  fi
  cp "$dir/$3" "$4"
}

# seconds <cmd...>: wall time; peak RSS in KiB of the command's process tree is left in rss.txt.
seconds() {
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f %M -o "$work/rss.txt" "$@" >/dev/null 2>"$work/stderr.txt" || { cat "$work/stderr.txt" >&2; return 1; }
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
# wine_peak_mib <cmd...>: runs the command, polling the VmHWM of the zucchini.exe process it starts
# (found by this run's work folder in its command line); prints MiB.
wine_peak_mib() {
  local peak=0 kib pid
  "$@" >/dev/null 2>&1 &
  local launcher=$!
  while kill -0 "$launcher" 2>/dev/null; do
    for pid in $(pgrep -f "zucchini.exe.*$(basename "$work")" || true); do
      kib=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
      [ "${kib:-0}" -gt "$peak" ] && peak=$kib
    done
    sleep 0.05
  done
  wait "$launcher"
  echo $((peak / 1024))
}
rss_mib() { echo $(( $(tail -1 "$work/rss.txt") / 1024 )); }
winpath() { echo "Z:$(echo "$1" | sed 's#/#\\#g')"; }
same() { cmp -s "$1" "$2" || { echo "corpus: MISMATCH: $1 differs from $2" >&2; exit 1; }; }

results=$cache/results.tsv
: > "$results"
export WINEPREFIX="$prefix" OKU_WINE_TIMEOUT=900
"$build/wine-run.sh" "$(winpath "$z_exe")" -apply x x x >/dev/null 2>&1 || true  # start wineserver

measure() {  # measure <name> <description> <old> <new>
  local name=$1 what=$2 old=$3 new=$4
  work=$cache/work/$name
  rm -rf "$work" && mkdir -p "$work"
  echo "== $name ($what)" >&2
  local gen gen_mib apply apply_mib bsdiff_s
  gen=$(seconds "$z_native" -gen "$old" "$new" "$work/ours.raw"); gen_mib=$(rss_mib)
  "$z_native" -apply "$old" "$work/ours.raw" "$work/out.native" && same "$work/out.native" "$new"
  (cd "$work" && "$sevenzip" a -t7z -m0=lzma2 -mx=9 -mtm=off -mtc=off -mta=off ours.7z ours.raw >/dev/null)
  apply=$(seconds "$build/wine-run.sh" "$(winpath "$z_exe")" -apply "$(winpath "$old")" "$(winpath "$work/ours.raw")" \
    "$(winpath "$work/out.wine")")
  same "$work/out.wine" "$new"
  rm -f "$work/out.wine"
  # The Windows process is not a waited-for child of the launcher: its peak comes from /proc.
  apply_mib=$(wine_peak_mib "$build/wine-run.sh" "$(winpath "$z_exe")" -apply "$(winpath "$old")" \
    "$(winpath "$work/ours.raw")" "$(winpath "$work/out.wine")")
  same "$work/out.wine" "$new"
  bsdiff_s=$(seconds bsdiff "$old" "$new" "$work/bsdiff.patch")
  bspatch "$old" "$work/out.bs" "$work/bsdiff.patch" && same "$work/out.bs" "$new"
  xdelta3 -e -9 -S djw -f -s "$old" "$new" "$work/xd.patch"
  printf '%s\t%s\t%d\t%d\t%d\t%d\t%d\t%.2f\t%d\t%.2f\t%d\t%.2f\n' "$name" "$what" "$(stat -c %s "$new")" \
    "$(stat -c %s "$work/ours.raw")" "$(stat -c %s "$work/ours.7z")" "$(stat -c %s "$work/bsdiff.patch")" \
    "$(stat -c %s "$work/xd.patch")" "$gen" "$gen_mib" "$apply" "$apply_mib" "$bsdiff_s" >> "$results"
  rm -f "$work"/out.*
}

only=${ZUCCHINI_CORPUS_ONLY:-}
for entry in "${pairs[@]}"; do
  IFS='|' read -r name package v1 v2 file compiler <<<"$entry"
  [ -z "$only" ] || [[ "$name" == *"$only"* ]] || continue
  mkdir -p "$cache/pairs/$name"
  fetch "$package" "$v1" "$file" "$cache/pairs/$name/old"
  fetch "$package" "$v2" "$file" "$cache/pairs/$name/new"
  measure "$name" "$package $v1 → $v2, $(basename "$file"), $compiler" "$cache/pairs/$name/old" "$cache/pairs/$name/new"
done

# The demo product: its two versions' archive trees packed as the update package sees them.
if [ -z "$only" ] || [[ demo == *"$only"* ]]; then
  if [ -d "$build/product/old/Chrome-bin" ] && [ -d "$build/product/new/Chrome-bin" ]; then
    mkdir -p "$cache/pairs/demo"
    for v in old new; do
      rm -f "$cache/pairs/demo/$v.7z"
      (cd "$build/product/$v" && "$sevenzip" a -t7z -mx0 -mtm=off -mtc=off -mta=off "$cache/pairs/demo/$v.7z" Chrome-bin >/dev/null)
    done
    measure demo "demo product chrome.7z old → new (7z -mx0)" "$cache/pairs/demo/old.7z" "$cache/pairs/demo/new.7z"
  else
    echo "corpus: no demo product trees in $build/product (build the product_stage targets)" >&2
  fi
fi

python3 "$root/bench/zucchini/corpus_report.py" "$results" "$root/docs/performance.md"
