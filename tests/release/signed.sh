#!/usr/bin/env bash
# signed.sh <build type> <work>: turns the second build that reproducible.sh left in
# <work>/build (from the sources copied to <work>/src) into a signing release build; its objects
# are reused, so only the shipped programs are linked again.
#   1. A throwaway code-signing certificate; the release folders are those of reproducible.sh.
#   2. A release folder without one of the product's files is refused when configuring.
#   3. tools/update-package/release-update-package.sh makes the update package, then the same build
#      folder builds OkuSetup, OkuUninstall and zucchini; every signature verifies (the embedded
#      uninstaller and the zucchini.exe of the update package too); a damaged installer does not.
#   4. The signed installer installs silently under Wine (WINEPREFIX: a fresh prefix), the installed
#      uninstaller is the signed one, and it uninstalls.
# <work> is removed when everything passed.
set -euo pipefail
type=$1 work=$2
source="$work/src"
fail() { echo "signed: FAILED: $*"; exit 1; }
[ -f "$work/build/CMakeCache.txt" ] && [ -d "$source" ] || fail "no second build in $work (release_reproducible makes it)"
rm -rf "$work"/incomplete "$work"/*.pem

# 1. Release folders (made by reproducible.sh) and certificate.
[ -f "$work/release-new/mini_installer.exe" ] && [ -d "$work/release-old/Chrome-bin" ] ||
  fail "no release folders in $work (release_reproducible makes them)"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Oku.compass test signing" -addext extendedKeyUsage=codeSigning >"$work/openssl.log" 2>&1 ||
  { cat "$work/openssl.log"; fail "no test certificate"; }

# 2. An incomplete release folder.
mkdir -p "$work/incomplete"
find "$work/release-new" -maxdepth 1 -type f -exec cp {} "$work/incomplete/" \;
rm "$work/incomplete/dockit.dll"
configure() {  # configure <log> <cmake options...>: the second build folder, as a release build
  local log=$1; shift
  cmake -S "$source" -B "$work/build" -DCMAKE_BUILD_TYPE="$type" -DOKU_BUILD_TESTS=OFF "$@" >"$log" 2>&1
}
if configure "$work/refused.log" -DOKU_RELEASE_DIR="$work/incomplete"; then
  fail "a release folder without dockit.dll was accepted"
fi
tr -s ' \n' ' ' <"$work/refused.log" | grep -q "lacks the product's files: dockit.dll\." ||
  { cat "$work/refused.log"; fail "the refusal does not name dockit.dll"; }
echo "refused: a release folder without dockit.dll"
rm -rf "$work/incomplete"

# 3. The signing release build.
export OKU_SIGN_CERT="$work/cert.pem" OKU_SIGN_KEY="$work/key.pem"
"$source/tools/update-package/release-update-package.sh" --old "$work/release-old" --new "$work/release-new" \
  --out "$work/OkuSetup_update.exe" --build "$work/build" -DCMAKE_BUILD_TYPE="$type" \
  -DOKU_UPDATE_PACKAGE_PREFIX="$WINEPREFIX" >"$work/update.log" 2>&1 || { tail -50 "$work/update.log"; fail "no update package"; }
cmake --build "$work/build" --target OkuSetup OkuUninstall zucchini -- -j 2 >"$work/build.log" 2>&1 ||
  { tail -50 "$work/build.log"; fail "the signing build failed"; }
grep -q "OKU_RELEASE_DIR: $work/release-new/mini_installer.exe" "$work/build/release-configure.log" ||
  fail "the release build did not take mini_installer.exe from the release folder"

b="$work/build"
signed=(
  "$b/bin/OkuSetup.exe"
  "$b/bin/OkuUninstall.exe"
  "$b/payload/targets/OkuUninstall.exe"
  "$b/bin/tools/zucchini.exe"
  "$b/update-package/OkuSetup_release_update/zucchini.exe"
  "$work/OkuSetup_update.exe"
)
for f in "${signed[@]}"; do
  osslsigncode verify -CAfile "$work/cert.pem" -in "$f" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; fail "signature of $f does not verify"; }
  echo "signature verified: ${f#$work/}"
done
cmp -s "$b/bin/OkuUninstall.exe" "$b/payload/targets/OkuUninstall.exe" || fail "the installer embeds another uninstaller"

cp "$b/bin/OkuSetup.exe" "$work/damaged.exe"
offset=$(( $(stat -c %s "$work/damaged.exe") / 2 ))
byte=$(od -An -tu1 -j "$offset" -N1 "$work/damaged.exe" | tr -d ' ')
printf "\\$(printf '%03o' $(( (byte + 1) % 256 )))" | dd of="$work/damaged.exe" bs=1 seek="$offset" conv=notrunc status=none
if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/damaged.exe" >"$work/verify.log" 2>&1; then
  fail "a damaged signed installer verifies"
fi
echo "refused: the signed installer with byte $offset changed"

# 4. Install and uninstall under Wine.
user_dir="$WINEPREFIX/drive_c/users/$(whoami)"
install_dir="$user_dir/AppData/Local/oku.compass/Application"
install_dir_win='C:\users\'"$(whoami)"'\AppData\Local\oku.compass\Application'
set +e
"$OKU_WINE_RUN" "$b/bin/OkuSetup.exe" /S
code=$?
set -e
[ "$code" -eq 0 ] || fail "the signed installer ended with $code"
[ -f "$install_dir/oku.compass.exe" ] || fail "no oku.compass.exe after the installation"
osslsigncode verify -CAfile "$work/cert.pem" -in "$install_dir/uninstall/OkuUninstall.exe" >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log"; fail "the installed uninstaller is not the signed one"; }
echo "installed; the installed uninstaller's signature verifies"
set +e
"$OKU_WINE_RUN" "$install_dir_win\\uninstall\\OkuUninstall.exe"
code=$?
set -e
[ "$code" -eq 0 ] || fail "the uninstaller ended with $code"
for _ in $(seq 1 30); do [ -e "$install_dir" ] || break; sleep 1; done
[ ! -e "$install_dir" ] || fail "the installation directory is still there"
echo "uninstalled"
rm -rf "$work" "$WINEPREFIX.lock"  # the lock file the update-package builder left beside the prefix
echo "signed: every shipped program and the update package are signed and verify"
