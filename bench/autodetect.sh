#!/usr/bin/env bash
# Auto-Detect time against the floor its waits set, with the real Cardwick.exe under Wine.
# usage: xvfb-run -a -s "-screen 0 1280x1024x24" bench/autodetect.sh BUILD_DIR [RUNS]
# (BUILD_DIR: a MinGW build folder with Cardwick and uidriver built, configured with
# CARDWICK_READER_SIM pointing at a native reader-sim)
set -euo pipefail
build=$(cd "${1:?usage: autodetect.sh BUILD_DIR [RUNS]}" && pwd)
export AUTODETECT_RUNS=${2:-3}
cd "$(dirname "$0")/.."
sim=$(sed -n 's/^CARDWICK_READER_SIM:FILEPATH=//p' "$build/CMakeCache.txt")
[ -x "$sim" ] || { echo "no reader-sim configured in $build" >&2; exit 1; }
source scripts/wine-env.sh
wine_env_setup "$build"
echo "running the Auto-Detect benchmark, $AUTODETECT_RUNS runs"
python3 bench/autodetect.py --cardwick "$build/app/Cardwick.exe" --uidriver "$build/tools/uidriver/uidriver.exe" \
  --sink none --sim "$sim"
