#!/usr/bin/env bash
# The main job: build, then run the installer under Wine in a fresh private prefix
# (build/demo-prefix, never ~/.wine) and show what it did.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh

prefix="$PWD/build/demo-prefix"
echo "== preparing a fresh Wine prefix at $prefix"
tests/harness/make-prefix.sh "$prefix" >/dev/null
export WINEPREFIX="$prefix" OKU_WINE_TIMEOUT=600

echo "== running OkuSetup.exe /S"
set +e
xvfb-run -a build/wine-run.sh build/bin/OkuSetup.exe /S
code=$?
set -e
echo "== exit code: $code"
log="$prefix/drive_c/users/$(whoami)/Temp/OkuSetupLogs/oku_install.log"
if [ -f "$log" ]; then
  echo "== session log ($log):"
  cat "$log"
fi
