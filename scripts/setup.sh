#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12. Quiet when all is there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev libxkbcommon-dev
    libqt6sql6-sqlite libqt6sql6-psql postgresql iproute2
    clang libclang-rt-14-dev
    xvfb xauth imagemagick fonts-dejavu-core chromium openssl
    gputils srecord libtomlplusplus-dev
    dpkg-dev desktop-file-utils lintian locales debootstrap
    g++-mingw-w64-x86-64-posix wine64
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing ${#missing[@]} packages with apt-get, which can take some minutes: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || {
        echo "Installing needs root, and there is no sudo here. In this folder, run" >&2
        echo "  su -c 'bash scripts/setup.sh'" >&2
        echo "then start again." >&2
        exit 1
    }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
# One line for each package fetched, unpacked and set up, so that a long install shows progress.
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
