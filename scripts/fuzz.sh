#!/usr/bin/env bash
# Runs the reply-assembly fuzz target for a number of inputs, starting from the seed corpus.
set -euo pipefail
build=${1:?usage: fuzz.sh BUILD_DIR [runs]}
runs=${2:-1000000}
cd "$(dirname "$0")/.."
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp fuzz/corpus/* "$corpus"/
"$build/fuzz/reply_assembly_fuzz" -runs="$runs" -print_final_stats=1 "$corpus" 2>&1 | tail -n 25
