#!/usr/bin/env bash
# CPU of an open, idle serial driver polling every 200 ms against reader-sim, under Wine.
# usage: xvfb-run -a bench/comm-idle-cpu.sh BUILD_DIR [SECONDS]   (BUILD_DIR: a MinGW build folder
# configured with CARDWICK_READER_SIM pointing at a native reader-sim)
set -euo pipefail
build=${1:?usage: comm-idle-cpu.sh BUILD_DIR [SECONDS]}
seconds=${2:-30}
cd "$(dirname "$0")/.."
sim=$(sed -n 's/^CARDWICK_READER_SIM:FILEPATH=//p' "$build/CMakeCache.txt")
[ -x "$sim" ] || { echo "no reader-sim configured in $build" >&2; exit 1; }
source scripts/wine-env.sh
wine_env_setup "$build"
export CARDWICK_READER_SIM=$sim
echo "running CommIdleCpu for $seconds s"
wine "$build/bench/CommIdleCpu.exe" "$seconds" | grep -v '^READY '
