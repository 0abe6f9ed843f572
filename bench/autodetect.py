#!/usr/bin/env python3
"""Auto-Detect against the floor its waits set: four listed ports, the first with no device
("COMn:" opens nothing), the second a silent reader-sim (twelve attempts), the third a reader-sim at
19200 (found at its fifth attempt), the fourth another that is never reached. Every attempt whose
port opens waits 100 ms before its command and 200 ms after it, so the command frames at the
readers come 300 ms apart at best; the gaps between them are measured on reader-sim's clock.
Prints a table and one JSON line."""

import json
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from cardwick_e2e import Cardwick, Environment, ReaderSim, UiDriver, check, find_main_window, wait_until  # noqa

SERIAL_MAP = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"
FLOOR_MS = 300
TOLERANCE_MS = 40


def reg(*args):
    return subprocess.run(["wine", "reg"] + list(args), capture_output=True, text=True, errors="replace")


def set_serial_map(values):
    for line in reg("query", SERIAL_MAP).stdout.splitlines():
        if "    REG_SZ    " in line:
            reg("delete", SERIAL_MAP, "/v", line.strip().split("    ")[0], "/f")
    for name, data in values.items():
        reg("add", SERIAL_MAP, "/v", name, "/d", data, "/f")


env = Environment()
runs = int(os.environ.get("AUTODETECT_RUNS", "3"))
general = {"Load on Windows startup": "0", "Show on startup": "1", "Suffix Carriage Return": "0"}
env.write_settings(general, {"Port": "COM9", "Baud rate": "19200", "Parity": "Even"})
set_serial_map({"\\Device\\Serial1": "COM2", "\\Device\\Serial4": "COM5", "\\Device\\Serial5": "COM6",
                "\\Device\\Serial6": "COM7"})
sims = {}
for port, args in (("COM5", ["--silent"]), ("COM6", []), ("COM7", [])):
    env.port = port
    sims[port] = ReaderSim(env, *args)
ui = UiDriver(env)
cardwick = Cardwick(env)
gaps, totals = [], []
try:
    main = find_main_window(ui, 30)
    for run in range(runs):
        main.click("btnProperties")
        dialog = ui.values(ui.call("wait 5000 Properties"))["hwnd"]
        buttons = {c["text"]: c["hwnd"] for c in ui.controls(dialog)}
        before = {p: len(s.commands()) for p, s in sims.items()}
        start = time.monotonic()
        ui.call("click " + buttons["&Auto-Detect"])
        wait_until(lambda: ui.call("text " + buttons["&Auto-Detect"])[0] == "&Cancel", 5, "the scan to start")
        wait_until(lambda: ui.call("text " + buttons["&Auto-Detect"])[0] == "&Auto-Detect", 60, "the scan to end",
                   0.02)
        totals.append((time.monotonic() - start) * 1000)
        sent = {p: s.commands()[before[p]:] for p, s in sims.items()}
        check([len(sent[p]) for p in ("COM5", "COM6", "COM7")] == [12, 5, 0],
              "commands per port %r" % {p: len(c) for p, c in sent.items()})
        times = [t for t, _ in sent["COM5"] + sent["COM6"]]
        gaps += [b - a for a, b in zip(times, times[1:])]
        ui.call("click " + buttons["&Cancel"])
        wait_until(lambda: ui.window(dialog)["visible"] == "0", 5, "the dialog to close")
finally:
    cardwick.kill()
    ui.close()
    for s in sims.values():
        s.stop()

attempts = 17
floor_total = attempts * FLOOR_MS
excess = [g - FLOOR_MS for g in gaps]
print("Auto-Detect, %d runs: 4 listed ports, %d attempts that open (floor %d ms each) + 1 port that does not"
      % (runs, attempts, FLOOR_MS))
print("%-34s %8s %8s %8s %8s" % ("", "min", "median", "p90", "max"))
q = statistics.quantiles(gaps, n=10)
print("%-34s %8.1f %8.1f %8.1f %8.1f" % ("attempt (command to command), ms", min(gaps), statistics.median(gaps),
                                        q[-1], max(gaps)))
print("%-34s %8.1f %8.1f %8.1f %8.1f" % ("excess over 300 ms, ms", min(excess), statistics.median(excess),
                                        q[-1] - FLOOR_MS, max(excess)))
print("%-34s %8.0f %8.0f %8s %8.0f" % ("whole scan, click to idle, ms", min(totals), statistics.median(totals), "",
                                      max(totals)))
print("floor of the whole scan: %d ms; attempts over %d ms: %d of %d" %
      (floor_total, FLOOR_MS + TOLERANCE_MS, sum(e > TOLERANCE_MS for e in excess), len(excess)))
print(json.dumps({"benchmark": "autodetect", "runs": runs, "attempt_ms": {"min": round(min(gaps), 1),
                  "median": round(statistics.median(gaps), 1), "max": round(max(gaps), 1)},
                  "excess_max_ms": round(max(excess), 1), "over_tolerance": sum(e > TOLERANCE_MS for e in excess),
                  "scan_ms": {"min": round(min(totals)), "median": round(statistics.median(totals))},
                  "scan_floor_ms": floor_total}))
