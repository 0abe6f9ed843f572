#!/usr/bin/env bash
# Weeks of running, compressed: Cardwick under Wine types a new card on every poll for MINUTES
# minutes while its memory, handles, GDI and USER objects are sampled from outside once a minute.
# usage: xvfb-run -a -s "-screen 0 1280x1024x24" bench/soak.sh MINUTES [BUILD_DIR] [SAMPLE_SECONDS] [--no-cards]
# (BUILD_DIR: a MinGW build folder, default build/mingw, with Cardwick, uidriver, KeySink and
# ProcStats built and CARDWICK_READER_SIM configured). Exits 1 when a card is lost or doubled or a
# figure grows beyond its noise.
# The program users get, as the 32-bit test tier drives it: CARDWICK_E2E_CARDWICK names another
# Cardwick.exe than BUILD_DIR's; a 32-bit one runs in a 32-bit prefix under Wine's emulated half
# (CARDWICK_WINE_ARCH=win32 follows from it), with BUILD_DIR's tools around it:
#   CARDWICK_E2E_CARDWICK=$PWD/build/win32/app/Cardwick.exe xvfb-run -a -s "-screen 0 1280x1024x24" bench/soak.sh 30
set -euo pipefail
minutes=${1:?usage: soak.sh MINUTES [BUILD_DIR] [SAMPLE_SECONDS]}
program=${CARDWICK_E2E_CARDWICK:+$(realpath "$CARDWICK_E2E_CARDWICK")}
cd "$(dirname "$0")/.."
build=$(cd "${2:-build/mingw}" && pwd)
interval=${3:-60}
sim=$(sed -n 's/^CARDWICK_READER_SIM:FILEPATH=//p' "$build/CMakeCache.txt")
[ -x "$sim" ] || { echo "no reader-sim configured in $build" >&2; exit 1; }
program=${program:-$build/app/Cardwick.exe}
[ -f "$program" ] || { echo "no program at $program" >&2; exit 1; }
source scripts/wine-env.sh
# The PE header's machine field: 014c is x86.
pe=$(od -An -tu4 -j60 -N4 "$program" | tr -d ' ')
if [ "$(od -An -tx2 -j$((pe + 4)) -N2 "$program" | tr -d ' ')" = 014c ]; then
    # Its prefix is copied from the 32-bit template, which takes minutes to make if it is missing.
    export CARDWICK_WINE_ARCH=win32
    ensure_i386_emulation
fi
wine_env_setup "$build" 2>/dev/null
# A short run still gets a warm-up: a twelfth of the run, at most the usual five minutes.
warmup=$(python3 -c "print(min(5.0, $minutes / 12))")
echo "soak: $program, $minutes minutes, warm-up $warmup minutes, a sample every $interval s"
CARDWICK_E2E_CARDWICK=$program python3 bench/soak.py --cardwick "$program" --uidriver "$build/tools/uidriver/uidriver.exe" \
    --sink "$build/tests/win/sink/KeySink.exe" --procstats "$build/bench/ProcStats.exe" --sim "$sim" \
    --minutes "$minutes" --interval-s "$interval" --warmup-min "$warmup" "${@:4}"
