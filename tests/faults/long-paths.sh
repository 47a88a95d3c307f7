#!/usr/bin/env bash
# long-paths.sh: OkuSetup.exe /S /D<dir> with installation directories near and past 260
# characters, each from a clean prefix. Every run must end without a crash, and either install
# completely (exit 0, OkuInstallPath = the directory, oku.compass.exe inside) or fail with a
# non-zero exit code (the shell sees its low byte: 1002 shows as 234); never a working directory left behind. (The product records are written
# before the product installer runs, so a failed run may leave OkuInstallPath behind; it is
# listed, not failed.) OKU_LONG_LENGTHS="250 260" reruns chosen lengths.
set -u
template="${OKU_WINEPREFIX_TEMPLATE:?}"
root="${OKU_BUILD_DIR:?}/e2e-prefixes"
run="${OKU_WINE_RUN:?}"
failures=0
for length in ${OKU_LONG_LENGTHS:-100 180 200 220 240 250 259 260 261 300 400}; do
  export WINEPREFIX="$root/faults_long_$length"
  rm -rf "$WINEPREFIX" && cp -a "$template" "$WINEPREFIX"
  mkdir -p "$WINEPREFIX/drive_c/dl" && cp "$OKU_BIN_DIR/OkuSetup.exe" "$WINEPREFIX/drive_c/dl/"
  # C:\L\aaaa\aaaa... of exactly <length> characters (components of at most 60).
  dir='C:\L'
  while [ ${#dir} -lt "$length" ]; do
    left=$((length - ${#dir} - 1))
    [ $left -gt 60 ] && left=60
    [ $left -lt 1 ] && { dir+='a'; continue; }
    dir+='\'$(printf 'a%.0s' $(seq 1 $left))
  done
  output=$("$run" 'C:\dl\OkuSetup.exe' /S "/D$dir" 2>&1)
  status=$?
  recorded=$("$run" reg query 'HKCU\Software\Oku.compass' /v OkuInstallPath 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_SZ[[:space:]]*//p')
  unix_dir="$WINEPREFIX/drive_c/$(printf '%s' "${dir#C:\\}" | tr '\\' '/')"
  problems=""
  if printf '%s' "$output" | grep -q -E 'Unhandled|page fault|starting debugger|stack overflow'; then problems+=" crashed;"; fi
  if [ "$status" = 0 ]; then
    [ "$recorded" = "$dir" ] || problems+=" exit 0 but OkuInstallPath '${recorded:0:40}...';"
    [ -f "$unix_dir/oku.compass.exe" ] || problems+=" exit 0 but oku.compass.exe missing;"
  else
    [ -z "$recorded" ] || echo "     exit $status leaves OkuInstallPath recorded"
  fi
  stray=$(cd "$WINEPREFIX/drive_c" && ls -d users/root/Temp/OkuSetup_* users/root/AppData/Local/OkuSetup/Temp_* \
    dl/.OkuSetupTemp 2>/dev/null | tr '\n' ' ')
  [ -z "$stray" ] || problems+=" stray working directories: $stray;"
  files=$( [ -d "$unix_dir" ] && find "$unix_dir" -type f | wc -l || echo 0)
  if [ -n "$problems" ]; then
    echo "FAIL ${#dir} characters: exit $status, $files files in the directory:$problems"
    failures=$((failures + 1))
  else
    echo "ok   ${#dir} characters: exit $status, $files files in the directory"
  fi
  timeout 30 wineserver -k 2>/dev/null || true
  [ "${OKU_KEEP_PREFIX:-0}" = 1 ] || rm -rf "$WINEPREFIX"
done
exit $((failures > 0))
