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
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from cardwick_e2e import Form, Session, check, find_main_window, set_serial_map, wait_until  # noqa: E402

FLOOR_MS = 300
TOLERANCE_MS = 40


class Dialog(Form):
    PLACES = {"btnAutoDetect": (111, 104), "btnCancel": (127, 320)}


runs = int(os.environ.get("AUTODETECT_RUNS", "3"))
gaps, totals = [], []
general = {"Load on Windows startup": "0", "Show on startup": "1", "Suffix Carriage Return": "0"}
with Session("Auto-Detect", settings=(general, {"Port": "COM9", "Baud rate": "19200", "Parity": "Even"}),
             sim=None, cardwick=False) as s:
    set_serial_map(s.env, {"\\Device\\Serial1": "COM2", "\\Device\\Serial4": "COM5",
                           "\\Device\\Serial5": "COM6", "\\Device\\Serial6": "COM7"})
    sims = {port: s.plug(*args, port=port) for port, args in (("COM5", ["--silent"]), ("COM6", []), ("COM7", []))}
    s.start_cardwick()
    main = find_main_window(s.ui, 30)
    for run in range(runs):
        main.click("btnProperties")
        dialog = Dialog(s.ui, s.ui.values(s.ui.call("wait 5000 Properties"))["hwnd"])
        before = {p: len(sim.commands()) for p, sim in sims.items()}
        start = time.monotonic()
        dialog.click("btnAutoDetect")
        wait_until(lambda: dialog.text("btnAutoDetect") == "&Cancel", 5, "the scan to start")
        wait_until(lambda: dialog.text("btnAutoDetect") == "&Auto-Detect", 60, "the scan to end", 0.02)
        totals.append((time.monotonic() - start) * 1000)
        sent = {p: sim.commands()[before[p]:] for p, sim in sims.items()}
        check([len(sent[p]) for p in ("COM5", "COM6", "COM7")] == [12, 5, 0],
              "commands per port %r" % {p: len(c) for p, c in sent.items()})
        times = [t for t, _ in sent["COM5"] + sent["COM6"]]
        gaps += [b - a for a, b in zip(times, times[1:])]
        dialog.click("btnCancel")
        wait_until(lambda: not dialog.visible(), 5, "the dialog to close")

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
