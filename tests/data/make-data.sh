#!/usr/bin/env bash
# Renews the large firmware files the tests use, made by srec_cat (Debian package srecord). The
# small one is the sample firmware, samples/blink.hex, made by gpasm.
set -euo pipefail
cd "$(dirname "$0")"

# 4-byte records below 64 KiB: one extended linear address record, the data records and the
# end-of-file record.
srec_cat -generate 0 $((8998 * 4)) -repeat-string "QUENTA" -o lines-9000.hex -intel -obs=4
srec_cat -generate 0 $((8999 * 4)) -repeat-string "QUENTA" -o lines-9001.hex -intel -obs=4
