#!/bin/bash
# Installs the Debian packages the build and the tests need, only when some are missing.
set -euo pipefail
pkgs=(
    make g++ python3 git
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools libz-mingw-w64-dev
    googletest libgtest-dev zlib1g-dev
    wine64 xvfb xdotool imagemagick fonts-wine fonts-nanum fonts-ipafont-gothic locales
    nginx-light openssl curl unzip libarchive-tools iproute2 util-linux
    clang libclang-rt-14-dev
)
missing=()
for p in "${pkgs[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
