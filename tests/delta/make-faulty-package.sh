#!/usr/bin/env bash
# make-faulty-package.sh <good package dir> <fault> <out dir> <wine prefix>
# Derives a damaged update package from a good one (the resources of make-update-package.sh):
#   corrupt_container  bytes of the LZMA2 7z holding the patch changed (7za cannot unpack it)
#   corrupt_patch      a valid 7z holding a truncated VCDIFF patch (the patcher fails)
#   wrong_new_hash     "new_chrome_7z_sha256" names another archive
#   no_hashes          the manifest lacks both hashes
#   upper_hashes       both hashes in upper case (valid)
#   unsafe_absolute, unsafe_drive, unsafe_parent
#                      one "file_list" entry leaves the installation directory
#   list_forms         the locales listed without "Chrome-bin/", one listed file missing (valid)
set -euo pipefail
good="$1" fault="$2" out="$3" prefix="$4"
rm -rf "$out"
mkdir -p "$out"
cp "$good"/chrome_7z.patch "$good"/setup.exe "$good"/zucchini.exe "$good"/7za.exe "$good"/manifest.json "$out"/
manifest="$out/manifest.json"
add_entry() { sed -i "s#^  \"file_list\": \[\$#&\n    \"$1\",#" "$manifest"; grep -qF "\"$1\"" "$manifest"; }

case "$fault" in
  corrupt_container)
    size=$(stat -c %s "$out/chrome_7z.patch")
    # Inside the packed stream, past the 32-byte signature header.
    printf '\xde\xad\xbe\xef\xde\xad\xbe\xef' | dd of="$out/chrome_7z.patch" bs=1 seek=$((size / 3)) conv=notrunc status=none
    ;;
  corrupt_patch)
    raw="$out/chrome_7z.patch.raw"
    cp "$good/chrome_7z.patch.raw" "$raw"
    truncate -s $(( $(stat -c %s "$raw") / 2 )) "$raw"
    rm -f "$out/chrome_7z.patch"
    winpath() { echo "Z:$(echo "$1" | sed 's#/#\\#g')"; }
    WINEPREFIX="$prefix" WINEDEBUG=-all timeout -k 10 300 wine "$out/7za.exe" a -t7z -m0=lzma2 -mx=9 \
      "$(winpath "$out/patch.7z")" "$(winpath "$raw")" >"$out/7za.log" 2>&1 || { cat "$out/7za.log" >&2; exit 1; }
    mv "$out/patch.7z" "$out/chrome_7z.patch"
    ;;
  wrong_new_hash)
    sed -i 's#\("new_chrome_7z_sha256": "\)[0-9a-f]*"#\1'"$(printf 'wrong' | sha256sum | cut -d' ' -f1)"'"#' "$manifest"
    ;;
  no_hashes)
    sed -i '/_chrome_7z_sha256/d' "$manifest"
    ;;
  upper_hashes)
    sed -i 's#\("[a-z_]*_chrome_7z_sha256": "\)\([0-9a-f]*\)"#\1\U\2"#' "$manifest"
    grep -q '"base_chrome_7z_sha256": "[0-9A-F]\{64\}"' "$manifest"
    ;;
  list_forms)
    sed -i 's#"Chrome-bin/\([^"]*/locales/[^"]*\)"#"\1"#' "$manifest"
    grep -q '^    "[0-9.]*/locales/' "$manifest"
    add_entry "Chrome-bin/no_such_file.dll"
    ;;
  unsafe_absolute) add_entry "/users/Public/secret.txt" ;;
  unsafe_drive) add_entry "C:/windows/win.ini" ;;
  unsafe_parent) add_entry "Chrome-bin/../secret.txt" ;;
  *) echo "make-faulty-package: unknown fault '$fault'" >&2; exit 1 ;;
esac
cmp -s "$good/manifest.json" "$manifest" && cmp -s "$good/chrome_7z.patch" "$out/chrome_7z.patch" &&
  { echo "make-faulty-package: $fault changed nothing" >&2; exit 1; }
{
  echo "// Damaged update package ($fault) derived from $good."
  while read -r id name _; do
    case "$id" in ''|'#'*) continue ;; esac
    echo "$id RCDATA \"$out/$name\""
  done <"$(dirname "$0")/../../resources/update_package.list"
} >"$out/update_package.rc"
