#!/usr/bin/env bash
# planted-dlls.sh <planted dir> <window-closer.exe> <planting-control.exe>
# Run in a fresh prefix (fresh-prefix.sh). Copies of OkuSetup.exe and OkuUninstall.exe sit in a
# Downloads folder (also the working directory) together with marker DLLs under system DLL names
# (tools/planted-dll); each marker leaves "<name>.dll.loaded" when any process maps it. The window
# mode, a silent installation and the uninstaller run from there; none may load a marker.
set -u
planted="$1"; closer="$2"; control="$3"
run="${OKU_WINE_RUN:?}"
downloads_unix="$WINEPREFIX/drive_c/users/Public/Downloads/planted"
downloads='C:\users\Public\Downloads\planted'
rm -rf "$downloads_unix" && mkdir -p "$downloads_unix"
cp "$OKU_BIN_DIR/OkuSetup.exe" "$OKU_BIN_DIR/OkuUninstall.exe" "$control" "$downloads_unix/"
cp "$planted"/*.dll "$downloads_unix/"
echo "planted $(ls "$planted" | wc -l) DLLs: $(cd "$planted" && echo *.dll)"
failures=0
check() {  # check <step> <expected exit> <actual exit>
  local loaded
  loaded=$(cd "$downloads_unix" && ls -- *.loaded 2>/dev/null | sed 's/\.loaded$//' | tr '\n' ' ')
  if [ -n "$loaded" ]; then
    echo "FAIL $1: loaded planted $loaded"
    for f in "$downloads_unix"/*.loaded; do iconv -f utf-16le -t utf-8 "$f" | sed 's/^/    by /'; done
    failures=$((failures + 1))
  elif [ "$2" != "$3" ]; then
    echo "FAIL $1: exit code $3, expected $2"
    failures=$((failures + 1))
  else
    echo "ok   $1: exit code $3, no planted DLL loaded"
  fi
  rm -f "$downloads_unix"/*.loaded
}
cd "$downloads_unix"

# The control: a carelessly built program in the same folder loads markers, so the markers work.
"$run" "$downloads\\planting_control.exe"
control_status=$?
control_loaded=$(ls -- *.loaded 2>/dev/null | sed 's/\.loaded$//' | tr '\n' ' ')
rm -f -- *.loaded
if [ -z "$control_loaded" ]; then
  echo "FAIL control: the careless program loaded no marker (exit $control_status); the markers prove nothing"
  failures=$((failures + 1))
else
  echo "ok   control: the careless program loaded planted $control_loaded(exit $control_status)"
fi

# Window mode: everything the window loads (theme, composition, image codecs, DPI) is loaded by
# the time its message loop answers; then the program is ended.
"$run" "$downloads\\OkuSetup.exe" &
setup_pid=$!
OKU_WINE_TIMEOUT=120 "$run" "$closer" --class OkuSetup --timeout 90000
closer_status=$?
wait "$setup_pid"
check "window mode (window found and ended: closer exit $closer_status)" 0 "$closer_status"

"$run" "$downloads\\OkuSetup.exe" /S
check "OkuSetup.exe /S" 0 $?

"$run" "$downloads\\OkuUninstall.exe"
check "OkuUninstall.exe (removes the installation)" 0 $?

exit $((failures > 0))
