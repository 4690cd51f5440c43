#!/usr/bin/env bash
# Draws the program's 24 x 24 icon at 24-bit colour (8 bits a channel, no alpha): a chip with a
# down arrow, firmware going in. quenta.svg is the same picture for any size.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 24x24 xc:'#f0f0f0' \
    -fill '#1f3f8f' -stroke '#0b1f4f' -draw 'roundrectangle 4,5 19,20 2,2' \
    -stroke '#b0b0b0' -strokewidth 1 \
    -draw 'line 1,8 3,8' -draw 'line 1,12 3,12' -draw 'line 1,16 3,16' \
    -draw 'line 20,8 22,8' -draw 'line 20,12 22,12' -draw 'line 20,16 22,16' \
    -stroke none -fill '#ffd400' -draw 'polygon 9,7 14,7 14,12 17,12 11.5,18 6,12 9,12' \
    -alpha off -depth 8 -define png:color-type=2 -define png:bit-depth=8 quenta.png
