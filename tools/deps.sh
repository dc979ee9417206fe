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

# Uploads to object storage (publish.py --upload) need boto3. Debian's python3-boto3 serves
# any python3 3.11: publish.py falls back to /usr/lib/python3/dist-packages when its own
# python3 has no boto3 (PyPI is not reachable from every machine).
boto3_check="import sys; sys.path.insert(0, '$(dirname "$0")'); import storage_upload as s; s._boto3()"
if ! python3 -c "$boto3_check" 2>/dev/null; then
    echo "installing: python3-boto3"
    apt-get update -qq
    apt-get install -y --no-install-recommends python3-boto3 >/dev/null
    python3 -c "$boto3_check"
fi

# The storage tests' S3-compatible server (tests/wine/test_storage.py): s3rver from npm,
# installed globally, outside the repository. Node.js from Debian only when there is none.
S3RVER_VERSION=3.7.1
if ! command -v s3rver >/dev/null; then
    if ! command -v npm >/dev/null; then
        echo "installing: nodejs npm"
        apt-get update -qq
        apt-get install -y --no-install-recommends nodejs npm >/dev/null
    fi
    echo "installing: s3rver@$S3RVER_VERSION (npm, global)"
    npm install --global --no-audit --no-fund --loglevel=error "s3rver@$S3RVER_VERSION" >/dev/null
    command -v s3rver >/dev/null
fi
