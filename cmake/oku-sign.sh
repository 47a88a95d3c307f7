#!/usr/bin/env bash
# oku-sign.sh <1|0> <file> <osslsigncode> <cert> <key> [<password file>]: when the flag is 1, signs
# the freshly linked <file> in place with an Authenticode SHA-256 signature.
# SOURCE_DATE_EPOCH, when set, is the signing time.
set -euo pipefail
enabled=$1 file=$2
[ "$enabled" = 1 ] || exit 0
tool=$3 cert=$4 key=$5 pass=${6:-}
args=(-certs "$cert" -key "$key" -h sha256 -n "Oku.compass")
[ -z "$pass" ] || args+=(-readpass "$pass")
[ -z "${SOURCE_DATE_EPOCH:-}" ] || args+=(-time "$SOURCE_DATE_EPOCH")
tmp="$file.signing"
rm -f "$tmp"
if ! "$tool" sign "${args[@]}" -in "$file" -out "$tmp" >"$tmp.log" 2>&1; then
  cat "$tmp.log" >&2
  rm -f "$tmp" "$tmp.log"
  echo "oku-sign: signing $file failed" >&2
  exit 1
fi
rm -f "$tmp.log"
mv -f "$tmp" "$file"
