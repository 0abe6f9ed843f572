#!/usr/bin/env bash
# Runs the Wine tests of a MinGW build folder inside a fresh prefix. Run it under xvfb-run:
# the notification area and message boxes need a display.
set -euo pipefail
build=${1:?usage: test-wine.sh BUILD_DIR [ctest args]}
shift
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
wine_env_setup "$build"
# A run that selects no test fails: a --test-dir run takes no preset, and a label that matches
# nothing (a renamed one) would otherwise pass.
ctest --test-dir "$build" --no-tests=error --output-on-failure -j 1 "$@"
