#!/usr/bin/env bash
# Creates a fresh private Wine prefix for one test run: wineboot, crash dialogs off,
# "Microsoft YaHei" rendered with an installed CJK font.
set -eu
prefix="$1"
case "$prefix" in
  ""|"$HOME/.wine"|"$HOME/.wine/") echo "make-prefix: refusing prefix '$prefix'" >&2; exit 2 ;;
esac
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -k 2>/dev/null || true
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
timeout 180 wineboot -i >/dev/null 2>&1 || true
# Keep the prefix self-contained: its shell folders (Desktop, Documents ...) become real folders
# instead of links into the Linux home, and Wine does not mirror shortcuts into Linux menus.
for link in "$prefix"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm "$link" && mkdir -p "$link"; fi
done
timeout 60 wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d '' /f >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Microsoft YaHei' /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '微软雅黑' /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
timeout 60 wineserver -w
test -f "$prefix/system.reg"
echo "make-prefix: ready at $prefix"
