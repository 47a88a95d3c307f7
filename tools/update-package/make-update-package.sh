#!/usr/bin/env bash
# make-update-package.sh: the resources of an update package (resources/update_package.list)
# that turns an installed older version of the product into a newer one.
#
#   make-update-package.sh --old <Chrome-bin> --new <Chrome-bin> --out <dir> --helper <package_helper.exe>
#                          --zucchini <zucchini.exe> --7za <7za.exe> [--setup <setup.exe>]
#                          [--prefix <wine prefix>] [--no-file-list] [--keep-work]
#
# <Chrome-bin> is a version's archive tree: oku.compass.exe, chrome_proxy.exe and the version
# folder, the same layout as an installation directory. Steps:
#   1. the older version is staged as installed and its chrome.7z rebuilt by the installer's own
#      RepackBaseArchive (package_helper.exe, same file list, same 7za.exe and options) under Wine;
#      a second rebuild from a copy written in another order must give the same bytes;
#   2. the newer version's chrome.7z is built the same way; both hashes are checked against
#      sha256sum;
#   3. zucchini.exe -gen makes the patch, which must apply back to the newer archive byte for byte;
#   4. the patch is packed as LZMA2 7z holding "chrome_7z.patch.raw";
#   5. manifest.json is written (with "file_list" unless --no-file-list: then the installer copies
#      the installation recursively, and the base hash comes from that same copy);
#   6. <out>/update_package.rc lists those resources for the installer build (the unpacked
#      patch stays beside them as chrome_7z.patch.raw).
# Prints the sizes of both archives and of the patch, also kept in <out>/report.txt.
set -euo pipefail

die() { echo "make-update-package: $*" >&2; exit 1; }

old="" new="" out="" helper="" zucchini="" sevenzip="" setup="" prefix="" file_list=1 keep_work=0
while [ $# -gt 0 ]; do
  case "$1" in
    --old) old="$2"; shift 2 ;;
    --new) new="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --helper) helper="$2"; shift 2 ;;
    --zucchini) zucchini="$2"; shift 2 ;;
    --7za) sevenzip="$2"; shift 2 ;;
    --setup) setup="$2"; shift 2 ;;
    --prefix) prefix="$2"; shift 2 ;;
    --no-file-list) file_list=0; shift ;;
    --keep-work) keep_work=1; shift ;;
    *) die "unknown argument '$1'" ;;
  esac
done
for v in old new out helper zucchini sevenzip; do [ -n "${!v}" ] || die "--${v/sevenzip/7za} is required"; done
for d in "$old" "$new"; do [ -d "$d" ] || die "not a directory: $d"; done
for f in "$helper" "$zucchini" "$sevenzip"; do [ -f "$f" ] || die "missing file: $f"; done
old=$(cd "$old" && pwd); new=$(cd "$new" && pwd)
mkdir -p "$out"; out=$(cd "$out" && pwd)
prefix=${prefix:-$out/../wineprefix}
mkdir -p "$prefix"; prefix=$(cd "$prefix" && pwd)
case "$prefix" in "$HOME/.wine"|"$HOME/.wine/") die "refusing the user's own Wine prefix" ;; esac

# The version folder: the first directory whose name starts with a digit (as the installer picks it).
version_of() {
  local d
  for d in "$1"/*/; do
    d=${d%/}; d=${d##*/}
    case "$d" in [0-9]*) echo "$d"; return 0 ;; esac
  done
  return 1
}
old_version=$(version_of "$old") || die "no version folder in $old"
new_version=$(version_of "$new") || die "no version folder in $new"
[ -n "$setup" ] || setup="$new/$new_version/Installer/setup.exe"
[ -f "$setup" ] || die "missing setup program: $setup"

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
winpath() { echo "Z:$(echo "$1" | sed 's#/#\\#g')"; }
# Every Wine run is bounded; its output goes to a file so that no wineserver keeps our pipes open.
wine_run() {
  local log="$work/wine.log"
  if ! timeout -k 10 600 wine "$@" >"$log.out" 2>"$log.err"; then
    cat "$log.out" "$log.err" >&2
    return 1
  fi
  tr -d '\r' <"$log.out"
}

work="$out/work"
rm -rf "$work"
mkdir -p "$work"
# One prefix serves every package of a build: made once, under a lock.
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    echo "make-update-package: preparing Wine prefix $prefix"
    timeout 300 wineboot -i >"$work/wineboot.log" 2>&1 || true
    timeout 60 wineserver -w || true
    [ -f "$prefix/system.reg" ] || die "wineboot failed (see $work/wineboot.log)"
  fi
) 9>"$prefix.lock"

# The archive's member files of a tree, "/"-separated and sorted; a "lantern" folder of the version
# folder is not part of the archive (the installer's recursive copy leaves it out too).
list_files() {
  (cd "$1" && find . -type f | sed 's#^\./##' | grep -v "^$2/lantern/" | LC_ALL=C sort)
}
check_names() {
  # The installer reads manifest.json as bytes without escapes: a name must not hold a quote, a
  # backslash, a closing bracket or a control character, or the list would read differently.
  if LC_ALL=C grep -n '["\\]\|\]\|[[:cntrl:]]' "$1" >&2; then die "file names the manifest cannot carry"; fi
}

# manifest <file> <base hash> <new hash> <list file or "">: written by the installer's own
# WriteDeltaManifest, which refuses what its reader would read differently.
manifest() {
  local list=()
  [ -n "$4" ] && list=("$(winpath "$4")")
  wine_run "$helper" manifest "$(winpath "$1")" "$old_version" "$new_version" "$2" "$3" "${list[@]}" >/dev/null ||
    die "writing $1 failed"
}

# repack <tree> <working dir> <list file or ""> -> prints the archive's SHA-256
repack() {
  mkdir -p "$2"
  cp "$sevenzip" "$2/7za.exe"
  manifest "$2/manifest.json" "$(printf '0%.0s' {1..64})" "$(printf '0%.0s' {1..64})" "$3"
  wine_run "$helper" repack "$(winpath "$1")" "$(winpath "$2")" || die "repack of $1 failed (log: $2/repack.log)"
}

# Copies a tree file by file in reverse order, so that its directories list differently.
copy_reversed() {
  mkdir -p "$2"
  (cd "$1" && find . -type f | LC_ALL=C sort -r) | while IFS= read -r f; do
    mkdir -p "$2/$(dirname "$f")"
    cp "$1/$f" "$2/$f"
  done
}

list_files "$old" "$old_version" >"$work/old_files.txt"
list_files "$new" "$new_version" >"$work/new_files.txt"
check_names "$work/old_files.txt"
base_list=""
[ "$file_list" = 1 ] && base_list="$work/old_files.txt"

# 1. The older version as installed, repacked twice.
copy_reversed "$old" "$work/installed"
base_hash=$(repack "$work/installed" "$work/base" "$base_list")
again_hash=$(repack "$old" "$work/base-again" "$base_list")
if [ "$base_hash" != "$again_hash" ] || ! cmp -s "$work/base/chrome.7z" "$work/base-again/chrome.7z"; then
  die "the repack is not deterministic: $base_hash from the installed copy, $again_hash from $old"
fi
[ "$(sha256sum <"$work/base/chrome.7z" | cut -d' ' -f1)" = "$base_hash" ] || die "ComputeFileSha256 disagrees with sha256sum"

# 2. The newer version's archive.
new_hash=$(repack "$new" "$work/target" "$work/new_files.txt")
[ "$(sha256sum <"$work/target/chrome.7z" | cut -d' ' -f1)" = "$new_hash" ] || die "ComputeFileSha256 disagrees with sha256sum"
[ "$base_hash" != "$new_hash" ] || die "both versions give the same archive"

# 3. The patch, checked by applying it.
raw="$work/chrome_7z.patch.raw"
wine_run "$zucchini" -gen "$(winpath "$work/base/chrome.7z")" "$(winpath "$work/target/chrome.7z")" \
  "$(winpath "$raw")" >/dev/null || die "zucchini -gen failed"
wine_run "$zucchini" -apply "$(winpath "$work/base/chrome.7z")" "$(winpath "$raw")" \
  "$(winpath "$work/check.7z")" >/dev/null || die "zucchini -apply of the new patch failed"
cmp -s "$work/check.7z" "$work/target/chrome.7z" || die "the patch does not rebuild the newer archive"

# 4. Packed as LZMA2 7z.
rm -f "$work/patch.7z"
wine_run "$sevenzip" a -t7z -m0=lzma2 -mx=9 -mtm=off -mtc=off -mta=off "$(winpath "$work/patch.7z")" \
  "$(winpath "$raw")" >/dev/null || die "packing the patch failed"

# 5, 6. The package's resources.
cp "$work/patch.7z" "$out/chrome_7z.patch"
cp "$raw" "$out/chrome_7z.patch.raw"  # not a resource: kept for inspection and derived packages
cp "$setup" "$out/setup.exe"
cp "$zucchini" "$out/zucchini.exe"
cp "$sevenzip" "$out/7za.exe"
manifest "$out/manifest.json" "$base_hash" "$new_hash" "$base_list"
{
  echo "// Update package $old_version -> $new_version; written by make-update-package.sh."
  # The ids come from the list the installer's build reads too.
  while read -r id name _; do
    case "$id" in ''|'#'*) continue ;; esac
    [ -f "$out/$name" ] || die "update_package.list names $name, which this script does not make"
    echo "$id RCDATA \"$out/$name\""
  done <"$(dirname "$0")/../../resources/update_package.list"
} >"$out/update_package.rc.new"
mv "$out/update_package.rc.new" "$out/update_package.rc"

size() { stat -c %s "$1"; }
# part as a percentage of whole with two decimals ("2.81"), rounded half up, in integer arithmetic.
percent_of() {
  local part=$1 whole=$2 hundredths
  if [ "$whole" -le 0 ]; then echo "0.00"; return; fi
  hundredths=$(( (part * 10000 + whole / 2) / whole ))
  printf '%d.%02d' $((hundredths / 100)) $((hundredths % 100))
}
{
  echo "update package $old_version -> $new_version ($( [ "$file_list" = 1 ] && echo "$(wc -l <"$work/old_files.txt") listed files" || echo "recursive copy"))"
  printf '  base chrome.7z  %12d bytes  sha256 %s\n' "$(size "$work/base/chrome.7z")" "$base_hash"
  printf '  new chrome.7z   %12d bytes  sha256 %s\n' "$(size "$work/target/chrome.7z")" "$new_hash"
  printf '  patch (VCDIFF)  %12d bytes\n' "$(size "$raw")"
  printf '  patch (LZMA2)   %12d bytes  %s%% of the new archive\n' "$(size "$out/chrome_7z.patch")" \
    "$(percent_of "$(size "$out/chrome_7z.patch")" "$(size "$work/target/chrome.7z")")"
  echo "  repack deterministic: two rebuilds of the installed version gave the same bytes"
} >"$out/report.txt"
cat "$out/report.txt"
if [ "$keep_work" = 0 ]; then rm -rf "$work"; fi
