#!/usr/bin/env bash
# Installs what building and testing need, only what is missing (Debian 12, as root).
# Safe to run any number of times.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ g++-mingw-w64-x86-64-posix   # native and cross compilers
  wine wine64 xvfb xauth xdotool                     # the Windows we test on, and a display
  fonts-wqy-microhei                                 # CJK glyphs for the window's Chinese text
  imagemagick                                        # draws the window's images and icons
  googletest libgtest-dev                            # GoogleTest: sources (cross) and native library
  xdelta3                                            # reference VCDIFF coder for the patcher
  clang libclang-rt-14-dev                           # libFuzzer harnesses of the pure modules
  osslsigncode openssl                               # Authenticode signatures; test certificates
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js may come from elsewhere (its own npm bundled); Debian's npm package would conflict then.
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# 7-Zip for update packages, pinned by package-lock.json.
if [ ! -f node_modules/7zip-bin/win/x64/7za.exe ]; then
  echo "bootstrap: installing npm packages"
  npm ci --no-audit --no-fund --silent
fi
