#!/bin/bash
# The Wine tiers run N times in a row while two 32-bit release builds loop beside them, each from a
# clone of its own with -j2: the busy 2-core machine that timing checks must hold on.
#   bench/under-load.sh [RUNS]      (after ./run test has built build/mingw, build/win32, build/dist)
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
runs=${1:-3}
loaders=()
for n in 1 2; do
    (
        dir=$(mktemp -d) && git clone -q . "$dir/src" && cd "$dir/src" || exit 1
        while :; do
            rm -rf build/win32
            cmake --preset win32 >/dev/null 2>&1 && cmake --build --preset win32 -j 2 >/dev/null 2>&1
        done
    ) &
    loaders+=($!)
done
stop_loaders() {
    for pid in "${loaders[@]}"; do
        kill "$pid" 2>/dev/null
        pkill -P "$pid" 2>/dev/null
    done
}
trap stop_loaders EXIT
sleep 30
failed=0
for i in $(seq "$runs"); do
    started=$(date +%s)
    xvfb-run -a -s "-screen 0 1280x1024x24" scripts/test-wine.sh build/mingw >"build/under-load-64-$i.log" 2>&1
    rc=$?
    say "64-bit run $i: rc $rc, $(($(date +%s) - started)) s, load $(cut -d' ' -f1-3 /proc/loadavg)"
    [ $rc -eq 0 ] || failed=$((failed + 1))
done
started=$(date +%s)
env CARDWICK_WINE_ARCH=win32 CARDWICK_E2E_CARDWICK="$PWD/build/win32/app/Cardwick.exe" \
    CARDWICK_E2E_INSTALLER="$PWD/build/dist/Cardwick-$(cardwick_package_version)-setup.exe" \
    xvfb-run -a -s "-screen 0 1280x1024x24" scripts/test-wine.sh build/mingw -L e2e >build/under-load-32.log 2>&1
rc=$?
say "32-bit run: rc $rc, $(($(date +%s) - started)) s, load $(cut -d' ' -f1-3 /proc/loadavg)"
[ $rc -eq 0 ] || failed=$((failed + 1))
exit $((failed > 0))
