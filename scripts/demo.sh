#!/usr/bin/env bash
# The demo until the main window lands: reader-sim plugged into COM7 of a fresh Wine prefix, and
# reader-probe.exe under Wine identifying it and polling it for cards with the real serial functions.
set -euo pipefail
build=${1:?usage: demo.sh BUILD_DIR}
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

sim=$(sed -n 's/^CARDWICK_READER_SIM:FILEPATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
sim=${sim:-build/native/tools/reader-sim/reader-sim}
probe="$build/tools/reader-probe/reader-probe.exe"
[ -x "$sim" ] || { echo "no reader-sim at $sim: build the native preset first" >&2; exit 1; }
[ -f "$probe" ] || { echo "no $probe: build the mingw preset first" >&2; exit 1; }

echo "== fresh Wine prefix with COM3..COM12"
# The wineserver started here inherits stderr and dumps its objects there when it is ended.
wine_env_setup "$build" 2>/dev/null

run_dir=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
    [ -z "$sim_pid" ] || wait "$sim_pid" 2>/dev/null || true
    rm -rf "$run_dir"
    wine_env_teardown
}
trap cleanup EXIT

echo "== reader-sim on COM7, three cards and an empty poll in its script"
"$sim" --link "$CARDWICK_PORTS_DIR/com7" --log "$run_dir/wire.log" --max-seconds 120 \
    --module-id 01 --factory-code 30571846 --version 2.31 --cards 0004211311,,0013377642,0000004711 \
    >"$run_dir/ready" &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^READY ' "$run_dir/ready" && break
    sleep 0.05
done
cat "$run_dir/ready"

echo
echo "== reader-probe.exe COM7 under Wine"
status=0
wine "$probe" COM7 19200 4 | tr -d '\r' || status=$?

echo
echo "== the wire, as reader-sim logged it"
python3 - "$run_dir/wire.log" <<'PY'
import sys
start = None
names = {"RX": "PC -> reader", "TX": "reader -> PC"}
for line in open(sys.argv[1]):
    ns, tag, *rest = line.split()
    if tag not in names:
        continue
    start = start if start is not None else int(ns)
    data = bytes(int(h, 16) for h in rest)
    text = "".join({9: "\\t", 10: "\\n", 13: "\\r"}.get(b, chr(b) if 32 <= b < 127 else "\\x%02X" % b) for b in data)
    print("%8.1f ms  %s  %-22s %s" % ((int(ns) - start) / 1e6, names[tag], text, " ".join(rest)))
PY
exit "$status"
