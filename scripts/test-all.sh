#!/usr/bin/env bash
# Every test tier, each built fresh: native unit tests, the same under sanitizers, a short fuzz
# run, the 32-bit release with its build-time checks and packages, then the Windows tests and the
# end-to-end tests (the install test among them) under 64-bit Wine and Xvfb, and last the 32-bit
# tier: the end-to-end tests again on the release's own Cardwick.exe and installer, under Wine's
# emulated 32-bit half.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
source scripts/wine-env.sh

ensure_i386_emulation || {
    echo "all tiers: 0 passed, 1 failed"
    exit 1
}

# The 32-bit prefix takes minutes to make, nearly all of it one emulated process: make it on one
# core while the other builds, and wait for it before the first Wine test, which then runs on an
# otherwise idle machine.
mkdir -p build
(
    CARDWICK_WINE_ARCH=win32
    wine_env_loader_exports
    started=$(date +%s)
    wine_prefix_template
    echo "32-bit prefix template ready after $(($(date +%s) - started)) s"
) >build/wine32-template.log 2>&1 &
template_job=$!

total_passed=0
total_failed=0
status=0

# Runs one ctest invocation, echoing its output and adding its counts to the totals.
run_ctest() {
    local label=$1
    shift
    local log
    log=$(mktemp)
    say "tests: $label"
    set +e
    "$@" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    set -e
    local line
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
    if [ -n "$line" ]; then
        local failed all
        failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        all=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
        total_passed=$((total_passed + all - failed))
        total_failed=$((total_failed + failed))
    elif [ "$rc" -ne 0 ]; then
        total_failed=$((total_failed + 1))
    fi
    [ "$rc" -eq 0 ] || status=1
    rm -f "$log"
}

build_preset native
run_ctest native ctest --preset native -j "$(build_jobs)"

build_preset native-asan
run_ctest "native with sanitizers" ctest --preset native-asan -j "$(build_jobs)"

build_preset fuzz
say "fuzz smoke run"
scripts/fuzz.sh build/fuzz 20000 || status=1

# The 32-bit release: what ships, its build-time checks and the two packages. Only 64-bit Wine runs
# on these machines, so the Windows tests below run on the 64-bit build of the same sources.
build_preset win32
cmake --build --preset package
ls -l build/dist

build_preset mingw

say "waiting for the 32-bit prefix"
wait "$template_job" || status=1
cat build/wine32-template.log

run_ctest "Windows and end to end, under Wine and Xvfb" \
    xvfb-run -a -s "-screen 0 1280x1024x24" scripts/test-wine.sh build/mingw

# The program users get: the release's Cardwick.exe (the one in the zip) and its x86 installer,
# driven by the 64-bit build's test tools.
tier32_started=$(date +%s)
run_ctest "32-bit: the release's program end to end, under Wine's emulated 32-bit half" \
    env CARDWICK_WINE_ARCH=win32 \
    CARDWICK_E2E_CARDWICK="$PWD/build/win32/app/Cardwick.exe" \
    CARDWICK_E2E_INSTALLER="$PWD/build/dist/Cardwick-$(cardwick_package_version)-setup.exe" \
    xvfb-run -a -s "-screen 0 1280x1024x24" scripts/test-wine.sh build/mingw -L e2e
say "32-bit tier: $(($(date +%s) - tier32_started)) s"

echo
echo "all tiers: $total_passed passed, $total_failed failed"
exit "$status"
