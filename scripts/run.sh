#!/usr/bin/env bash
# Sets everything up, builds the window, the demo board and the command-line flasher, starts the
# board on a virtual serial port and opens the window beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

# The window needs a display: say so before spending minutes on a build.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display here. Run it under a virtual one instead:  xvfb-run -a bash scripts/run.sh" >&2
    if ! command -v xvfb-run >/dev/null; then
        echo "(xvfb-run is in the package xvfb: apt-get install xvfb, as root or with sudo)" >&2
    fi
    exit 1
fi

window=build/default/src/app/quenta
simboard=build/default/tools/simboard/quenta-simboard
flasher=build/default/src/flash/quenta-flash
if [ -x "$window" ] && [ -x "$simboard" ] && [ -x "$flasher" ]; then
    echo "== Bringing the build up to date"
else
    # Measured: a clean build of these three programs takes about 2 minutes on 2 cores.
    echo "== The first run builds the window, the demo board and the command-line flasher:"
    echo "   about 2 minutes on a 2-core machine, after installing the build tools that are"
    echo "   missing. Later runs start at once."
fi

bash scripts/setup.sh
cmake --preset default --log-level=WARNING
cmake --build --preset default --target quenta quenta-simboard quenta-flash
echo "== The command-line flasher is $flasher. To run the README's examples from this tree, put"
echo "   its programs on PATH in your shell (from the top of this repository):"
echo "   export PATH=\"\$PWD/build/default/src/app:\$PWD/build/default/src/flash:\$PWD/build/default/tools/simboard:\$PATH\""

# The board's link goes where the window looks for it: in XDG_RUNTIME_DIR, made here (private,
# removed at the end) when the login has none.
scratch=""
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    scratch="$(mktemp -d "${TMPDIR:-/tmp}/quenta-run-XXXXXX")"
    export XDG_RUNTIME_DIR="$scratch"
fi
board="$XDG_RUNTIME_DIR/quenta-demo-board"
"$simboard" --link "$board" >/dev/null &
board_pid=$!
trap 'kill "$board_pid" 2>/dev/null || true; wait "$board_pid" 2>/dev/null || true
      [ -z "$scratch" ] || rm -rf "$scratch"' EXIT
for _ in $(seq 50); do [ -e "$board" ] && break; sleep 0.1; done

echo "== Demo board ready. Type its port in the port box (it is offered as you type):"
echo "   $board"
echo "   press Open, then 'Open File and  Download' and pick samples/blink.hex."
"$window"
