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
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get update -qq
    apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi

# Release keys and signing (tools/publish.py keygen, --sign-key; the test and demo keys the
# build makes) need the package "cryptography" for whichever python3 comes first on PATH.
if ! python3 -c "import cryptography" 2>/dev/null; then
    if [ "$(command -v python3)" = /usr/bin/python3 ]; then
        echo "installing: python3-cryptography"
        apt-get update -qq
        apt-get install -y --no-install-recommends python3-cryptography >/dev/null
    else
        echo "installing: cryptography for $(command -v python3)"
        python3 -m pip install --quiet cryptography
    fi
    python3 -c "import cryptography"
fi
