#!/usr/bin/env bash
# The main job: Cardwick.exe under Wine reading cards from reader-sim and typing them into a window
# of ours. reader-sim plays the reader on a pty registered as COM7 of a fresh Wine prefix; Cardwick
# starts with its window shown and a carriage return after every card; KeySink, a plain text window,
# has the keyboard focus. At the end the demo prints what KeySink received, saves a screenshot and
# ends Cardwick through its tray menu's "Exit". An optional DPI (144 for 150 % scaling) sets the
# prefix's screen to it before Cardwick starts; the screenshot's name then carries the scale.
set -euo pipefail
build=${1:?usage: demo.sh BUILD_DIR [DPI]}
dpi=${2:-96}
cd "$(dirname "$0")/.."

# Without a display, run again under a virtual one: the notification area needs it.
if [ -z "${DISPLAY:-}" ]; then
    echo "== no display: running under Xvfb"
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

source scripts/wine-env.sh
sim=$(sed -n 's/^CARDWICK_READER_SIM:FILEPATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
sim=${sim:-build/native/tools/reader-sim/reader-sim}
for file in "$sim" "$build/app/Cardwick.exe" "$build/tools/uidriver/uidriver.exe" \
    "$build/tests/win/sink/KeySink.exe"; do
    [ -f "$file" ] || { echo "missing $file: build the native and mingw presets first" >&2; exit 1; }
done

echo "== fresh Wine prefix with COM3..COM12"
# The wineserver started here inherits stderr and dumps its objects there when it is ended.
wine_env_setup "$build" 2>/dev/null
mkdir -p "$build/demo"
screenshot="$(cd "$build/demo" && pwd)/cardwick-demo.png"
if [ "$dpi" != 96 ]; then
    echo "== screen at $dpi DPI ($((dpi * 100 / 96)) %)"
    # Wine reads the screen's DPI from this value when a program starts.
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    screenshot="$(cd "$build/demo" && pwd)/cardwick-demo-$((dpi * 100 / 96)).png"
fi

python3 - "$build" "$sim" "$screenshot" <<'PY'
import os
import sys
import time

sys.path.insert(0, os.path.join(os.getcwd(), "tests", "e2e"))
from cardwick_e2e import (Cardwick, Environment, KeySink, ReaderSim, UiDriver, find_main_window, screenshot,
                          wait_until)

build, sim_path, shot = sys.argv[1:4]
env = Environment(["--cardwick", os.path.join(build, "app", "Cardwick.exe"),
                   "--uidriver", os.path.join(build, "tools", "uidriver", "uidriver.exe"),
                   "--sink", os.path.join(build, "tests", "win", "sink", "KeySink.exe"),
                   "--sim", sim_path, "--port", "COM7"])
cards = ["0004211311", "0013377642", "0000004711"]

print("== cardwick.ini: COM7, 19200 baud, even parity, show on startup, carriage return after each card")
env.write_settings({"Load on Windows startup": "0", "Show on startup": "1", "Suffix Carriage Return": "1"},
                   {"Port": "COM7", "Baud rate": "19200", "Parity": "Even"})

print("== reader-sim on COM7: three cards after a few empty polls")
# The empty polls leave time to give the keyboard focus to the text window after Cardwick shows.
sim = ReaderSim(env, "--cards", ",".join([""] * 6 + cards[:2] + [""] + cards[2:]))
sink = ui = cardwick = None
try:
    sink = KeySink(env, title="Cardwick demo: the focused text window")
    ui = UiDriver(env)
    print("== Cardwick.exe under Wine")
    cardwick = Cardwick(env)
    main = find_main_window(ui, timeout_s=30)
    wait_until(lambda: main.fields()[0] != "", 10, "the reader's identity")
    sink.focus(ui)
    wait_until(lambda: sink.text().count("\r") >= len(cards), 30, "the cards")
    # The main window in front for the picture; the cards have all been typed.
    ui.call("activate " + main.hwnd)
    time.sleep(0.5)
    screenshot(shot)
    print("   serial number %s, version %s, module ID %s, last card %s" % main.fields())
    print("   status bar: %s" % " | ".join(main.panels()))
    print("== the text window received:")
    for line in sink.text().split("\r"):
        if line:
            print("   " + line)
    print("== screenshot: " + shot)
    print("== tray menu: Exit")
    ui.call("traymenu 0 X")
    if not cardwick.wait_exit(20):
        raise SystemExit("Cardwick did not end")
    print("   Cardwick has ended")
    print("== the wire, as reader-sim logged it")
    start = None
    for t, kind, data in sim.entries():
        if kind == "NOTE":
            continue
        start = t if start is None else start
        text = "".join({9: "\\t", 10: "\\n", 13: "\\r"}.get(b, chr(b) if 32 <= b < 127 else "\\x%02X" % b)
                       for b in data)
        print("%9.1f ms  %s  %s" % (t - start, "PC -> reader" if kind == "RX" else "reader -> PC", text))
finally:
    for part in (cardwick and cardwick.kill, ui and ui.close, sink and sink.close, sim.stop):
        if part:
            part()
PY
