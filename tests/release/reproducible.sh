#!/usr/bin/env bash
# reproducible.sh <source> <build> <build type> <work>: copies the sources into <work>/src, builds
# the shipped programs there in <work>/build (OkuSetup, OkuUninstall, zucchini and everything the
# installer embeds) and compares them byte for byte with <build>'s. Then the same folder, as a
# release build from release folders made of <build>'s demo product, makes the update package from
# the older to the newer version, which must equal <build>'s bin/variants/OkuSetup_update.exe.
# On a difference it names the embedded files that differ too. The second build stays for
# signed.sh, which reuses its objects.
set -euo pipefail
source=$1 build=$2 type=$3 work=$4
programs=(bin/OkuSetup.exe bin/OkuUninstall.exe bin/tools/zucchini.exe)
for p in "${programs[@]}" bin/variants/OkuSetup_update.exe; do
  [ -f "$build/$p" ] || { echo "reproducible: $build/$p is missing (build it first)"; exit 1; }
done

rm -rf "$work"
mkdir -p "$work/src"
# The working tree as it is (committed or not), without build folders and other ignored files.
if git -C "$source" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$source" ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$source/$f" ] && printf '%s\0' "$f"; done |
    tar -C "$source" --null -T - -cf - | tar -C "$work/src" -xf -
else
  tar -C "$source" --exclude=./build --exclude='./build-*' --exclude=./node_modules -cf - . | tar -C "$work/src" -xf -
fi

# The pinned npm packages are not sources: the update package takes 7za.exe from the same place.
[ ! -d "$source/node_modules" ] || ln -s "$source/node_modules" "$work/src/node_modules"

echo "reproducible: building the shipped programs again in $work/build"
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/toolchain-mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE="$type" -DOKU_BUILD_TESTS=OFF >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" --target OkuSetup OkuUninstall zucchini -- -j 2 >"$work/build.log" 2>&1 || { tail -50 "$work/build.log"; exit 1; }

status=0
for p in "${programs[@]}" ; do
  if cmp -s "$build/$p" "$work/build/$p"; then
    echo "same bytes: $p ($(stat -c %s "$build/$p") bytes)"
  else
    echo "DIFFERENT: $p ($(cmp -l "$build/$p" "$work/build/$p" 2>/dev/null | wc -l) bytes differ)"
    status=1
  fi
done
if [ $status -ne 0 ]; then
  # What the installer embeds, to find the origin of a difference.
  for f in "$build"/payload/targets/*; do
    name=${f##*/}
    cmp -s "$f" "$work/build/payload/targets/$name" || echo "  embedded file differs: $name"
  done
  echo "reproducible: the second build differs; it stays in $work"
  echo "(a source changed after $build was built gives a difference too: build it again first)"
  exit 1
fi

# Release folders: the payload files and Chrome-bin/ of the demo product's two versions.
for flavor in old new; do
  [ -d "$build/product/$flavor/Chrome-bin" ] || { echo "reproducible: $build/product/$flavor/Chrome-bin is missing"; exit 1; }
  rm -rf "$work/release-$flavor"
  mkdir -p "$work/release-$flavor"
  cp -a "$build/product/$flavor/Chrome-bin" "$work/release-$flavor/"
done
for f in "$build"/payload/targets/*; do
  [ "${f##*/}" = OkuUninstall.exe ] || cp "$f" "$work/release-new/"
done
echo "reproducible: the update package from release folders in $work/build"
prefix=()
[ -f "$build/update-package/wineprefix/system.reg" ] && prefix=(-DOKU_UPDATE_PACKAGE_PREFIX="$build/update-package/wineprefix")
"$work/src/tools/update-package/release-update-package.sh" --old "$work/release-old" --new "$work/release-new" \
  --out "$work/OkuSetup_update.exe" --build "$work/build" -DCMAKE_BUILD_TYPE="$type" "${prefix[@]}" \
  >"$work/update.log" 2>&1 || { tail -50 "$work/update.log"; exit 1; }
p=bin/variants/OkuSetup_update.exe
if cmp -s "$build/$p" "$work/OkuSetup_update.exe"; then
  echo "same bytes: $p ($(stat -c %s "$build/$p") bytes)"
else
  echo "DIFFERENT: $p ($(cmp -l "$build/$p" "$work/OkuSetup_update.exe" 2>/dev/null | wc -l) bytes differ)"
  for f in chrome_7z.patch setup.exe zucchini.exe 7za.exe manifest.json; do
    cmp -s "$build/update-package/OkuSetup_update/$f" "$work/build/update-package/OkuSetup_release_update/$f" ||
      echo "  embedded file differs: $f"
  done
  echo "reproducible: the update package differs; the second build stays in $work"
  exit 1
fi
echo "reproducible: OkuSetup.exe, OkuUninstall.exe, zucchini.exe and the update package are bit-identical"
