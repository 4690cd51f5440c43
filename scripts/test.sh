#!/usr/bin/env bash
# Builds the program and runs every test: the normal build, the engine built for Windows and its
# simulation run under Wine, each fuzz target for a short while, then every test again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "On a 2-core machine the tests take about 3 minutes, the Windows check about one and the"
echo "fuzzing 80 seconds; the two builds from a clean tree, the ordinary one and the sanitizer's,"
echo "take the most: count on the better part of an hour the first time. Each stage says how long"
echo "it took."

stage=0
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
    printf '\n======== [%d/7] %s ========\n' "$stage" "$1"
}
trap 'echo "-- stage $stage took $(took $((SECONDS - stage_started))); in all $(took $((SECONDS - started)))"' EXIT

banner "Setup: installing what is missing"
bash scripts/setup.sh

banner "Build: the programs and their tests"
cmake --preset default --log-level=WARNING
cmake --build --preset default

banner "Tests"
ctest --preset default

# The core and its simulation built for Windows and run under Wine: the same outcomes as on Linux.
banner "Windows: the engine built by MinGW-w64 and its simulation run under Wine"
bash scripts/windows-check.sh

# Each fuzz target starts from its seed corpus and the inputs that once broke something, and goes
# on for 20 seconds; a crash, a sanitizer report or a broken invariant fails the run. What it finds
# new is kept in build/fuzz/work/ for the next run.
banner "Fuzzing: each target for 20 seconds"
cmake --preset fuzz --log-level=WARNING
cmake --build --preset fuzz
for corpus in fuzz/corpus/*/; do
    target=$(basename "$corpus")
    work=build/fuzz/work/$target
    artifacts=build/fuzz/artifacts/$target
    mkdir -p "$work" "$artifacts"
    inputs=("$work" "$corpus")
    [ -d "fuzz/regressions/$target" ] && inputs+=("fuzz/regressions/$target")
    echo "-- $target"
    if ! "build/fuzz/fuzz/$target" -max_total_time=20 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "${inputs[@]}" >"$artifacts/run.log" 2>&1; then
        tail -n 60 "$artifacts/run.log"
        echo "$target failed; the input is kept in $artifacts/" >&2
        exit 1
    fi
    grep -E '^stat::number_of_executed_units' "$artifacts/run.log"
done

banner "Sanitizer build: AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize --log-level=WARNING
cmake --build --preset sanitize

banner "Sanitizer tests"
ctest --preset sanitize
