#!/usr/bin/env bash
# Assembles the sample firmware with gpasm (Debian package gputils).
set -euo pipefail
cd "$(dirname "$0")"
gpasm -q -p 18f4550 -o blink.hex blink.asm
rm -f blink.cod blink.lst
