#!/usr/bin/env bash
# Weeks of running, compressed: Cardwick under Wine types a new card on every poll for MINUTES
# minutes while its memory, handles, GDI and USER objects are sampled from outside once a minute.
# usage: xvfb-run -a -s "-screen 0 1280x1024x24" bench/soak.sh MINUTES [BUILD_DIR] [SAMPLE_SECONDS] [--no-cards]
# (BUILD_DIR: a MinGW build folder, default build/mingw, with Cardwick, uidriver, KeySink and
# ProcStats built and CARDWICK_READER_SIM configured). Exits 1 when a card is lost or doubled or a
# figure grows beyond its noise.
set -euo pipefail
minutes=${1:?usage: soak.sh MINUTES [BUILD_DIR] [SAMPLE_SECONDS]}
cd "$(dirname "$0")/.."
build=$(cd "${2:-build/mingw}" && pwd)
interval=${3:-60}
sim=$(sed -n 's/^CARDWICK_READER_SIM:FILEPATH=//p' "$build/CMakeCache.txt")
[ -x "$sim" ] || { echo "no reader-sim configured in $build" >&2; exit 1; }
source scripts/wine-env.sh
wine_env_setup "$build" 2>/dev/null
# A short run still gets a warm-up: a twelfth of the run, at most the usual five minutes.
warmup=$(python3 -c "print(min(5.0, $minutes / 12))")
echo "soak: $minutes minutes, warm-up $warmup minutes, a sample every $interval s"
python3 bench/soak.py --cardwick "$build/app/Cardwick.exe" --uidriver "$build/tools/uidriver/uidriver.exe" \
    --sink "$build/tests/win/sink/KeySink.exe" --procstats "$build/bench/ProcStats.exe" --sim "$sim" \
    --minutes "$minutes" --interval-s "$interval" --warmup-min "$warmup" "${@:4}"
