#!/usr/bin/env bash
# Sets everything up, builds the program, starts the demo board on a virtual serial port and
# opens the window beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

# The window needs a display: say so before spending minutes on a build.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display here. Run it under a virtual one instead:  xvfb-run -a bash scripts/run.sh" >&2
    command -v xvfb-run >/dev/null || echo "(xvfb-run comes with: sudo apt-get install xvfb)" >&2
    exit 1
fi

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null

board="${XDG_RUNTIME_DIR:-/tmp}/quenta-demo-board"
build/default/tools/simboard/quenta-simboard --link "$board" >/dev/null &
board_pid=$!
trap 'kill "$board_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$board" ] && break; sleep 0.1; done

echo "Demo board ready. Type $board in the port box, press Open,"
echo "then 'Open File and  Download' and pick samples/blink.hex."
build/default/src/app/quenta
