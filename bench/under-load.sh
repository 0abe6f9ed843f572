#!/bin/bash
# The whole test command, N times in a row, while two 32-bit release builds loop beside it, each
# from a clone of its own with -j2: the busy 2-core machine that timing checks must hold on.
#   bench/under-load.sh [RUNS]      (each run's output in build/under-load-N.log)
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
runs=${1:-3}
loaders=()
scratch=$(mktemp -d)
for n in 1 2; do
    git clone -q . "$scratch/src$n" || exit 1
    # A session of its own, so that stopping it stops the compilers under it too.
    setsid bash -c 'cd "$1" && while :; do
            rm -rf build/win32
            cmake --preset win32 >/dev/null 2>&1 && cmake --build --preset win32 -j 2 >/dev/null 2>&1
        done' loader "$scratch/src$n" &
    loaders+=($!)
done
stop_loaders() {
    for pid in "${loaders[@]}"; do
        kill -- "-$pid" 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf "$scratch"
}
trap stop_loaders EXIT
# Both builds under way before the first test.
sleep 30
failed=0
for i in $(seq "$runs"); do
    started=$(date +%s)
    ./run test >"build/under-load-$i.log" 2>&1
    rc=$?
    say "run $i: rc $rc, $(($(date +%s) - started)) s, $(tail -n 1 "build/under-load-$i.log"), load $(cut -d' ' -f1-3 /proc/loadavg)"
    [ $rc -eq 0 ] || failed=$((failed + 1))
done
exit $((failed > 0))
