#!/usr/bin/env bash
# CPU while reading and while disconnected, card-to-keystroke latency, and a long run of cards typed
# exactly once, with the real Cardwick.exe under Wine and reader-sim.
# usage: xvfb-run -a -s "-screen 0 1280x1024x24" bench/cardwick-bench.sh BUILD_DIR [CARDS] [CPU_SECONDS]
# (BUILD_DIR: a MinGW build folder with Cardwick, uidriver and KeySink built, configured with
# CARDWICK_READER_SIM pointing at a native reader-sim). Defaults: 1000 cards, 60 s; about 11 minutes.
set -euo pipefail
build=$(cd "${1:?usage: cardwick-bench.sh BUILD_DIR [CARDS] [CPU_SECONDS]}" && pwd)
cards=${2:-1000}
seconds=${3:-60}
cd "$(dirname "$0")/.."
sim=$(sed -n 's/^CARDWICK_READER_SIM:FILEPATH=//p' "$build/CMakeCache.txt")
[ -x "$sim" ] || { echo "no reader-sim configured in $build" >&2; exit 1; }
source scripts/wine-env.sh
wine_env_setup "$build" 2>/dev/null
echo "running the Cardwick benchmark: $cards cards, CPU over $seconds s"
python3 bench/cardwick_bench.py --cardwick "$build/app/Cardwick.exe" \
    --uidriver "$build/tools/uidriver/uidriver.exe" --sink "$build/tests/win/sink/KeySink.exe" --sim "$sim" \
    --cards "$cards" --cpu-seconds "$seconds"
