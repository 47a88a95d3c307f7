#!/usr/bin/env bash
# The main job: build, then on a fresh private Wine prefix (build/demo-prefix, never ~/.wine)
# install the demo product silently, start it, summarise what the installation left, uninstall
# it, and show that nothing of it is left.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${OKU_DEMO_DISPLAY:-}" ]; then
  scripts/bootstrap.sh
  # Only the installer and what it carries (the uninstaller, the demo product, the libraries).
  scripts/build.sh OkuSetup
  # The product is a window program: give the whole run one virtual display.
  OKU_DEMO_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

root=$PWD
prefix="$root/build/demo-prefix"
artifacts="$root/build/artifacts/demo"
echo "== preparing a fresh Wine prefix at $prefix"
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
rm -rf "$prefix" "$artifacts"
mkdir -p "$artifacts"
tests/harness/make-prefix.sh "$prefix" >/dev/null
export WINEPREFIX="$prefix" OKU_WINE_TIMEOUT=300
wine_run() { "$root/build/wine-run.sh" "$@"; }

user_dir="$prefix/drive_c/users/$(whoami)"
install_dir="$user_dir/AppData/Local/oku.compass/Application"
install_dir_win='C:\users\'"$(whoami)"'\AppData\Local\oku.compass\Application'
outbox="$user_dir/AppData/Local/Velmora/Lantern/outbox.jsonl"

registry() {
  for key in 'HKCU\Software\Oku.compass' 'HKCU\Software\Classes\okucompass\shell\open\command' \
             'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Oku.compass'; do
    show_query "$key: (none)" "$key"
  done
  show_query 'Run\oku.compass: (none)' 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v oku.compass
}
show_query() {  # show_query <text when missing> <reg query arguments...>
  local missing=$1 out; shift
  if out=$(wine_run reg query "$@" 2>/dev/null); then printf '%s\n' "$out" | tr -d '\r' | sed '/^$/d'; else echo "$missing"; fi
}

echo "== installing: OkuSetup.exe /S"
set +e
wine_run build/bin/OkuSetup.exe /S
install_code=$?
set -e
echo "   exit code $install_code"

echo "== starting the installed oku.compass.exe (screenshot: $artifacts/product.png)"
set +e
OKU_DEMO_EXIT_AFTER_MS=4000 wine_run "$install_dir_win\\oku.compass.exe" &
product=$!
sleep 3
import -window root "$artifacts/product.png" 2>/dev/null
wait $product
product_code=$?
set -e
echo "   the product ran and exited with $product_code"

echo
echo "================ summary ================"
echo "installer exit code:    $install_code"
echo "installation directory: $install_dir_win"
(cd "$install_dir" 2>/dev/null && find . -mindepth 1 -maxdepth 3 | sort | sed 's|^\./|   |') || echo "   (missing)"
echo "registry records:"
registry | sed 's/^/   /'
events=$( [ -f "$outbox" ] && wc -l < "$outbox" || echo 0)
echo "analytics events:       $events (outbox $outbox)"
echo "installer session log:  $install_dir/oku_install.log"
echo "========================================="
cp "$install_dir/oku_install.log" "$artifacts/" 2>/dev/null || true

echo
echo "== uninstalling: uninstall\\OkuUninstall.exe"
set +e
wine_run "$install_dir_win\\uninstall\\OkuUninstall.exe"
uninstall_code=$?
set -e
echo "   exit code $uninstall_code; waiting for the self-delete script"
for _ in $(seq 1 30); do [ -e "$install_dir" ] || break; sleep 1; done

echo
echo "================ after uninstall ================"
if [ -e "$install_dir" ]; then
  echo "installation directory still there:"; find "$install_dir" | sed 's/^/   /'
else
  echo "installation directory: gone"
fi
if [ -e "$user_dir/AppData/Local/oku.compass/User Data" ]; then echo "profile: still there"; else echo "profile: gone"; fi
echo "registry records:"
registry | sed 's/^/   /'
echo "(the installer's own key keeps the chosen directory for a later installation)"
echo "analytics events now:   $( [ -f "$outbox" ] && wc -l < "$outbox" || echo 0)"
echo "================================================="
wineserver -k 2>/dev/null || true
[ "$install_code" -eq 0 ] && [ "$uninstall_code" -eq 0 ] && [ ! -e "$install_dir" ]
