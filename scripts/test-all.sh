#!/usr/bin/env bash
# Every test tier, each built fresh: native unit tests, the same under sanitizers, a short fuzz
# run, the 32-bit release with its build-time checks and packages, then the Windows tests and the
# end-to-end tests (the install test among them) under 64-bit Wine and Xvfb, and last the 32-bit
# tier: the end-to-end tests again on the release's own Cardwick.exe and installer, under Wine's
# emulated 32-bit half.
#
# A tier that runs no test fails (a renamed label would otherwise empty it in silence), each tier
# prints its count and time, and the last line counts every failed step, whatever stopped it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
source scripts/wine-env.sh

total_passed=0
total_failed=0
failed_steps=()
step=""
finished=0

count_failure() {
    total_failed=$((total_failed + 1))
    failed_steps+=("$1")
}

# The last line, also when a step that stops the run (a build) fails: that step is counted.
summary() {
    local rc=$?
    if [ "$finished" = 0 ] && [ -n "$step" ]; then
        count_failure "$step"
    fi
    echo
    [ "${#failed_steps[@]}" = 0 ] || echo "failed steps: ${failed_steps[*]}"
    echo "all tiers: $total_passed passed, $total_failed failed"
    if [ "$total_failed" != 0 ] && [ "$rc" = 0 ]; then rc=1; fi
    exit "$rc"
}
trap summary EXIT

# Names the step a failure that ends the run is counted against.
begin() {
    step=$1
    say "$1"
}

step="32-bit emulation"
ensure_i386_emulation

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

# Runs one ctest invocation, echoing its output, adding its counts to the totals and printing the
# tier's own. A run that fails without a failed test in its count (no test at all, a prefix that
# did not boot) counts as one failed step.
run_ctest() {
    local label=$1
    shift
    local log started
    log=$(mktemp)
    started=$(date +%s)
    begin "tests: $label"
    set +e
    "$@" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    set -e
    local line failed=0 all=0
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
    if [ -n "$line" ]; then
        failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        all=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    fi
    rm -f "$log"
    total_passed=$((total_passed + all - failed))
    total_failed=$((total_failed + failed))
    if [ "$rc" -ne 0 ] && [ "$failed" = 0 ]; then
        count_failure "$label"
    elif [ "$failed" != 0 ]; then
        failed_steps+=("$label")
    fi
    echo "== $label: $((all - failed)) passed, $failed failed, $(($(date +%s) - started)) s"
}

begin "build: native"
build_preset native
run_ctest native ctest --preset native --no-tests=error -j "$(build_jobs)"

begin "build: native-asan"
build_preset native-asan
run_ctest "native with sanitizers" ctest --preset native-asan --no-tests=error -j "$(build_jobs)"

begin "build: fuzz"
build_preset fuzz
begin "fuzz smoke run"
scripts/fuzz.sh build/fuzz 20000 || count_failure "fuzz smoke run"

# The 32-bit release: what ships, its build-time checks and the two packages. Only 64-bit Wine runs
# on these machines, so the Windows tests below run on the 64-bit build of the same sources.
begin "build: win32 and packages"
build_preset win32
cmake --build --preset package
ls -l build/dist

begin "build: mingw"
build_preset mingw

begin "32-bit prefix"
wait "$template_job" || count_failure "32-bit prefix"
cat build/wine32-template.log

run_ctest "Windows and end to end, under Wine and Xvfb" \
    xvfb-run -a -s "-screen 0 1280x1024x24" scripts/test-wine.sh build/mingw

# The program users get: the release's Cardwick.exe (the one in the zip) and its x86 installer,
# driven by the 64-bit build's test tools. The end-to-end tests check that the program is that
# PE32 file and runs under the 32-bit loader.
run_ctest "32-bit: the release's program end to end, under Wine's emulated 32-bit half" \
    env CARDWICK_WINE_ARCH=win32 \
    CARDWICK_E2E_CARDWICK="$PWD/build/win32/app/Cardwick.exe" \
    CARDWICK_E2E_INSTALLER="$PWD/build/dist/Cardwick-$(cardwick_package_version)-setup.exe" \
    xvfb-run -a -s "-screen 0 1280x1024x24" scripts/test-wine.sh build/mingw -L e2e

finished=1
