#!/usr/bin/env bash
# uninstall-obstacles.sh: a silent installation, then obstacles inside the installation
# directory, then the installed uninstaller (its recorded UninstallString), each case from a
# clean prefix:
#   readonly - every file of the installation read-only, the uninstaller's and the installer's
#              own log included: everything goes, the directory too (after the self-delete);
#   link     - a directory link inside the installation pointing at a folder outside it (made
#              from the Linux side, as Wine shows it: a reparse-point directory): the outside
#              folder and its files survive (the link is no product file and may stay, and with
#              it the installation directory);
#   locked   - a product file held open without delete sharing by another process: the
#              uninstaller ends normally (exit 0), the held file alone may stay, nothing
#              outside is touched.
set -u
template="${OKU_WINEPREFIX_TEMPLATE:?}"
root="${OKU_BUILD_DIR:?}/e2e-prefixes"
run="${OKU_WINE_RUN:?}"
failures=0
for case in ${OKU_UNINSTALL_CASES:-readonly link locked}; do
  export WINEPREFIX="$root/faults_uninstall_$case"
  rm -rf "$WINEPREFIX" && cp -a "$template" "$WINEPREFIX"
  mkdir -p "$WINEPREFIX/drive_c/dl" && cp "$OKU_BIN_DIR/OkuSetup.exe" "$WINEPREFIX/drive_c/dl/"
  problems=""
  "$run" 'C:\dl\OkuSetup.exe' /S
  status=$?
  [ "$status" = 0 ] || problems+=" install exit $status;"
  app="$WINEPREFIX/drive_c/users/root/AppData/Local/oku.compass/Application"
  outside="$WINEPREFIX/drive_c/outside"
  mkdir -p "$outside/sub" && echo keep > "$outside/keep.txt" && echo keep > "$outside/sub/keep2.txt"
  locker=""
  case $case in
    readonly)
      "$run" cmd /c attrib +r 'C:\users\root\AppData\Local\oku.compass\Application\*.*' /s >/dev/null 2>&1
      ;;
    link)
      ln -s "$outside" "$app/linked_outside"
      ;;
    locked)
      OKU_WINE_TIMEOUT=200 "$run" "$OKU_BIN_DIR/tools/lockfile.exe" --path \
        'C:\users\root\AppData\Local\oku.compass\Application\oku.compass.exe' --mode noshare --timeout 150000 &
      locker=$!
      sleep 2  # lockfile has no way to tell a Linux shell it holds the file; see the check below
      ;;
  esac
  uninstaller=$("$run" reg query 'HKCU\Software\Oku.compass' /v UninstallString 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_SZ[[:space:]]*//p')
  "$run" "$uninstaller"
  ustatus=$?
  [ "$ustatus" = 0 ] || problems+=" uninstall exit $ustatus;"
  # The self-delete script waits two seconds before it removes the rest.
  timeout 60 bash -c "while [ -d '$app/uninstall' ]; do sleep 0.5; done"
  [ -f "$outside/keep.txt" ] && [ -f "$outside/sub/keep2.txt" ] || problems+=" files outside the installation were deleted;"
  left=$( [ -e "$app" ] && (cd "$app" && find . -mindepth 1 | head -20 | tr '\n' ' ') )
  case $case in
    readonly)
      [ ! -e "$app/oku.compass.exe" ] || problems+=" read-only oku.compass.exe left;"
      ls -d "$app"/[0-9]*.*.*.* >/dev/null 2>&1 && problems+=" version folder left;"
      [ ! -e "$app" ] || problems+=" installation directory left: $left;"
      ;;
    link) [ "$(printf '%s' "$left" | tr ' ' '\n' | grep -v -x -E '\./linked_outside|\./uninstall.*|' )" = "" ] ||
        problems+=" left in the installation: $left;" ;;
    locked)
      [ -f "$app/oku.compass.exe" ] || echo "     (the held file was removed anyway: moved aside or deleted at restart)"
      ;;
  esac
  [ -n "$locker" ] && { kill "$(pgrep -P "$locker" | head -1)" 2>/dev/null; wait "$locker" 2>/dev/null; }
  if [ -n "$problems" ]; then
    echo "FAIL $case:$problems"
    failures=$((failures + 1))
  else
    echo "ok   $case: uninstall exit $ustatus, outside folder intact${left:+, left: $left}"
  fi
  timeout 30 wineserver -k 2>/dev/null || true
  [ "${OKU_KEEP_PREFIX:-0}" = 1 ] || rm -rf "$WINEPREFIX"
done
exit $((failures > 0))
