#!/usr/bin/env bash
# Renews docs/window.png and docs/window-hidpi.png: the real window after a download and verify
# of samples/blink.hex into the demo board, on a virtual display, at scale 1 and at scale 2.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quenta-screenshot quenta-simboard >/dev/null

scratch="$(mktemp -d)"
board="$scratch/quenta-demo-board"
build/default/tools/simboard/quenta-simboard --link "$board" >"$scratch/board.log" &
board_pid=$!
trap 'kill "$board_pid" 2>/dev/null || true; rm -rf "$scratch"' EXIT
for _ in $(seq 50); do [ -e "$board" ] && break; sleep 0.1; done
[ -e "$board" ] || { echo "The demo board did not start" >&2; exit 1; }

mkdir -p docs
shoot() { # SCALE PICTURE
    QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$1" xvfb-run -a -s "-screen 0 1280x1024x24" \
        build/default/tools/screenshot/quenta-screenshot "$board" samples/blink.hex "$2"
}
shoot 1 docs/window.png
shoot 2 docs/window-hidpi.png

# The window has a fixed size: at scale 2 the picture must be exactly twice as large.
normal="$(identify -format '%wx%h' docs/window.png)"
hidpi="$(identify -format '%wx%h' docs/window-hidpi.png)"
[ "$normal" = 397x123 ] && [ "$hidpi" = 794x246 ] ||
    { echo "Unexpected picture sizes: $normal and $hidpi" >&2; exit 1; }
