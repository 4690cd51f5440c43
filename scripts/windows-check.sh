#!/usr/bin/env bash
# The engine on Windows: builds the core and its simulation with MinGW-w64 (the "windows" preset),
# runs the simulation under Wine and fails unless every outcome count is the one the Linux build
# gives for the same seeds. A seed is the same schedule on every system, so any difference is the
# engine, the simulated board or the standard library behaving otherwise on Windows.
#
#   bash scripts/windows-check.sh [SEEDS]     seeds 0 .. SEEDS-1, 20000 by default
#
# Needs what scripts/setup.sh installs. Wine runs headless in a prefix of its own under
# build/windows/, never the user's ~/.wine.
set -euo pipefail
cd "$(dirname "$0")/.."

seeds=${1:-20000}
build=build/windows

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
if [ ! -x "$wine" ]; then
    wine=$(command -v wine64 || command -v wine) || {
        echo "no Wine here: bash scripts/setup.sh installs it" >&2
        exit 1
    }
    wineserver=$(command -v wineserver)
fi

cmake --preset windows --log-level=WARNING >/dev/null
cmake --build --preset windows
[ -f build/default/build.ninja ] || cmake --preset default --log-level=WARNING >/dev/null
cmake --build --preset default --target sim_jobs

export WINEPREFIX=$PWD/$build/wine
export WINEDEBUG=-all
# No offer to fetch Wine's Mono or Gecko, and no window: nothing here needs either.
export WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY WAYLAND_DISPLAY
trap '"$wineserver" -k 2>/dev/null || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Making the prefix talks on stderr even with WINEDEBUG=-all; kept apart, shown on failure.
    if ! "$wine" wineboot --init >"$build/wineboot.log" 2>&1; then
        cat "$build/wineboot.log" >&2
        echo "Wine could not make its prefix in $WINEPREFIX" >&2
        exit 1
    fi
fi

# Each run's report, with Windows' line ends made plain; the outcomes are all of it but the line
# that says how long the run took.
run() { # NAME PROGRAM...
    local name=$1
    shift
    if ! "$@" --seeds "$seeds" | tr -d '\r' >"$build/report-$name.txt"; then
        cat "$build/report-$name.txt" >&2
        echo "the simulation failed on $name" >&2
        exit 1
    fi
    grep -Ev "$timing" "$build/report-$name.txt" >"$build/outcomes-$name.txt"
    echo "$name: $(grep -E "$timing" "$build/report-$name.txt")"
}
timing='^seeds .* in [0-9.]+ s$'
run Linux build/default/tests/sim/sim_jobs
run Windows "$wine" "$build/tests/sim/sim_jobs.exe"

if ! diff -u "$build/outcomes-Linux.txt" "$build/outcomes-Windows.txt" >&2; then
    echo "the outcomes differ between Linux (-) and Windows under Wine (+)" >&2
    exit 1
fi
echo "the same outcomes on both:"
cat "$build/outcomes-Linux.txt"
