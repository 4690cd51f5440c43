#!/usr/bin/env bash
# Builds the programs and runs every test: the normal build and its tests (four at a time), the
# package in a fresh Debian root, the engine built for Windows and its simulation run under Wine,
# each fuzz target for a short while, then the tests of the code itself again under
# AddressSanitizer and UndefinedBehaviorSanitizer. Each stage says how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "Measured on an idle 2-core machine with everything installed: about 9 minutes in all from a"
echo "clean tree (the two builds take most of it), and 2 minutes when run again. The first run on a"
echo "new machine also installs the packages: a minute or two more."

stage=0
stages=7
started=$SECONDS
stage_started=$SECONDS
took() { # SECONDS
    printf '%d min %02d s' $(($1 / 60)) $(($1 % 60))
}
banner() { # TEXT
    if [ "$stage" -gt 0 ]; then
        echo "-- stage $stage took $(took $((SECONDS - stage_started)))"
    fi
    stage=$((stage + 1))
    stage_started=$SECONDS
    printf '\n======== [%d/%d] %s ========\n' "$stage" "$stages" "$1"
}
package_root=""
finish() {
    [ -z "$package_root" ] || kill "$package_root" 2>/dev/null || true
    echo "-- stage $stage took $(took $((SECONDS - stage_started))); in all $(took $((SECONDS - started)))"
}
trap finish EXIT

banner "Setup: installing what is missing"
bash scripts/setup.sh

# The package's test installs into a minimal Debian root, which takes mostly the network: it is
# made (once, and kept) while the programs build. Its log is shown with the package's stage.
mkdir -p build
bash tests/package/fresh-install.sh --root-only build/default >build/package-root.log 2>&1 &
package_root=$!

banner "Build: the programs and their tests"
cmake --preset default --log-level=WARNING
cmake --build --preset default

# Four at a time, as most of them wait on boards and programs; the package's test runs on its own
# below, where its progress shows.
banner "Tests"
ctest --preset default --label-exclude package

# The package built, looked at, and installed into a fresh Debian root where it flashes a board.
banner "Package: its fields and files, and a fresh install"
wait "$package_root" || true # the test itself says what went wrong
package_root=""
cat build/package-root.log
ctest --preset default --label-regex package --verbose

# The core and its simulation built for Windows and run under Wine: the same outcomes as on Linux.
banner "Windows: the engine built by MinGW-w64 and its simulation run under Wine"
bash scripts/windows-check.sh

# Each fuzz target starts from its seed corpus and the inputs that once broke something, and goes
# on for 10 seconds, all at once; a crash, a sanitizer report or a broken invariant fails
# the run. What it finds new is kept in build/fuzz/work/ for the next run.
banner "Fuzzing: each target for 10 seconds"
cmake --preset fuzz --log-level=WARNING
cmake --build --preset fuzz
fuzz() { # TARGET
    local target=$1 work=build/fuzz/work/$1 artifacts=build/fuzz/artifacts/$1
    mkdir -p "$work" "$artifacts"
    local inputs=("$work" "fuzz/corpus/$target")
    [ -d "fuzz/regressions/$target" ] && inputs+=("fuzz/regressions/$target")
    if ! "build/fuzz/fuzz/$target" -max_total_time=10 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "${inputs[@]}" >"$artifacts/run.log" 2>&1; then
        tail -n 60 "$artifacts/run.log"
        echo "$target failed; the input is kept in $artifacts/" >&2
        return 1
    fi
    echo "-- $target: $(grep -E '^stat::number_of_executed_units' "$artifacts/run.log")"
}
pids=()
for target in fuzz/corpus/*/; do
    fuzz "$(basename "$target")" &
    pids+=($!)
done
for pid in "${pids[@]}"; do
    wait "$pid"
done

# The code's own tests again; not the package's, the browser's or the README's procedures, which
# exercise other programs more than this one.
banner "Sanitizers: the code's tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize --log-level=WARNING
cmake --build --preset sanitize
ctest --preset sanitize
