#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12. Quiet when all is there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    libqt6sql6-sqlite libqt6sql6-psql postgresql
    clang libclang-rt-14-dev
    xvfb xauth imagemagick fonts-dejavu-core
    gputils srecord
    dpkg-dev desktop-file-utils locales
    help2man
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
