#!/usr/bin/env python3
"""The program's own benchmarks, with the real Cardwick.exe under Wine and reader-sim on COM3:

1. CPU of the Cardwick process while reading (a reader that answers every poll, no card) and while
   disconnected, CPU_SECONDS each, from the kernel's account of the process (utime + stime).
2. Cards: CARDS distinct card IDs from reader-sim, typed into KeySink. Every card must arrive
   exactly once and in order. For each, the latency from reader-sim writing the last byte of the
   "F" reply that carried it to the first key event of that card at the sink's keyboard hook; both
   ends on the host's monotonic clock (reader-sim's log, and the arrival of KeySink's log lines
   through a FIFO).

Prints a table and one JSON line. Measures; asserts nothing beyond the run being usable."""

import argparse
import json
import os
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from cardwick_e2e import Environment, Session, standard_settings, wait_until  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def wineserver_pid():
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                argv0 = f.read().split(b"\0")[0]
            with open("/proc/%s/environ" % pid, "rb") as f:
                prefix = [v for v in f.read().split(b"\0") if v.startswith(b"WINEPREFIX=")]
        except OSError:
            continue
        if os.path.basename(argv0).startswith(b"wineserver") and prefix == [b"WINEPREFIX=" + os.environ["WINEPREFIX"].encode()]:
            return int(pid)
    return None


def measure_cpu(pids, seconds):
    """Per process: CPU seconds used over `seconds` of wall time, as a percentage of one core."""
    before = {name: cpu_seconds(pid) for name, pid in pids.items() if pid}
    start = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - start
    return {name: 100.0 * (cpu_seconds(pids[name]) - used) / wall for name, used in before.items()}


class SinkLog:
    """KeySink's event log, read through a FIFO as the lines are written, each stamped on arrival."""

    def __init__(self, path):
        self.path = path
        os.mkfifo(path)
        self.lines = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        with open(self.path, "rb") as f:
            for raw in f:
                self.lines.append((time.monotonic_ns() / 1e6, raw.decode().strip()))


def key_downs(lines):
    """(time, character) of every key the sink's hook saw go down, Caps Lock left out: it frames
    every character."""
    for stamp, line in lines:
        parts = line.split()
        if len(parts) == 4 and parts[0] == "HOOK" and parts[3] == "DOWN" and int(parts[1], 16) != 0x14:
            yield stamp, chr(int(parts[1], 16))


def card_groups(lines, gap_ms=100):
    """The sink's key events split into the runs that typed one card each: (time of the first
    event, the characters typed)."""
    groups = []
    last = None
    for stamp, char in key_downs(lines):
        if last is None or stamp - last > gap_ms:
            groups.append([stamp, ""])
        last = stamp
        groups[-1][1] += char
    return groups


def distribution(values):
    ordered = sorted(values)

    def pct(p):
        return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]
    return {"n": len(ordered), "min": ordered[0], "p10": pct(10), "median": pct(50), "mean": statistics.fmean(ordered),
            "p90": pct(90), "max": ordered[-1]}


def clusters(values, width=50):
    """Histogram in `width` ms bins, for the two phases of the poll and receive timers."""
    bins = {}
    for v in values:
        low = int(v // width) * width
        bins[low] = bins.get(low, 0) + 1
    return dict(sorted(bins.items()))


def card_replies(sim):
    """(time in ms, card ID) of every "F" reply that carried a card."""
    return [(t, data[5:-3].decode()) for t, kind, data in sim.entries()
            if kind == "TX" and data[4:5] == b"F" and len(data) > 8]


def typing_session(name, env, sink_title, *sim_args):
    """A session reading from reader-sim with these arguments into KeySink, which logs every key
    event through a FIFO; and that log."""
    sink_log = SinkLog(os.path.join(env.work, "keys.fifo"))
    session = Session(name, env=env, settings=standard_settings(show=False, suffix=True), sim=sim_args,
                      sink={"title": sink_title, "log": "Z:" + sink_log.path.replace("/", "\\")})
    return session, sink_log


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cards", type=int, default=1000)
    parser.add_argument("--cpu-seconds", type=float, default=60)
    args, rest = parser.parse_known_args()
    env = Environment(rest)
    result = {}
    # ---- CPU: reading with a reader that answers every poll, then disconnected ----
    with Session("CPU", env=env, settings=standard_settings(show=False, suffix=True)) as s:
        s.sim.wait_for_commands(4, 30)
        time.sleep(2)
        pids = {"Cardwick": s.cardwick.process.pid, "wineserver": wineserver_pid(), "reader-sim": s.sim.process.pid}
        print("measuring CPU while reading for %.0f s" % args.cpu_seconds, flush=True)
        polls_before = len(s.sim.commands())
        result["cpu_percent_reading"] = measure_cpu(pids, args.cpu_seconds)
        result["polls_per_second_reading"] = (len(s.sim.commands()) - polls_before) / args.cpu_seconds
        main_window = s.show_main()
        main_window.click("btnDisconnect")
        wait_until(lambda: main_window.panels()[0] == "Disconnected", 5, "Disconnected")
        main_window.click("btnHide")
        time.sleep(1)
        print("measuring CPU while disconnected for %.0f s" % args.cpu_seconds, flush=True)
        result["cpu_percent_disconnected"] = measure_cpu(pids, args.cpu_seconds)
        s.exit_from_tray()

    # ---- cards: exactly once, in order, and the latency of each ----
    session, sink_log = typing_session("cards", env, "Cardwick benchmark sink", "--generate", str(args.cards),
                                       "--max-seconds", str(int(args.cards * 0.5 + 600)))
    with session as s:
        print("typing %d cards (about %.0f s)" % (args.cards, args.cards * 0.5 + 5), flush=True)
        deadline = time.monotonic() + args.cards * 0.5 + 120
        while time.monotonic() < deadline:
            time.sleep(2)
            replies = card_replies(s.sim)
            if len(replies) >= args.cards and time.monotonic_ns() / 1e6 - replies[-1][0] > 2000:
                break
        # The menu's accelerator key reaches the sink's hook too: count only what came before it.
        typing_ended = time.monotonic_ns() / 1e6
        s.exit_from_tray(tries=5, wait_s=6)
        replies = card_replies(s.sim)
    expected = [card for _, card in replies]
    groups = card_groups([(t, line) for t, line in sink_log.lines if t < typing_ended])
    typed = [chars.rstrip("\r") for _, chars in groups]
    result["cards_sent"] = len(expected)
    result["cards_typed"] = len(typed)
    result["cards_exactly_once_in_order"] = typed == expected
    result["cards_missing"] = len([c for c in expected if c not in set(typed)])
    result["cards_extra"] = len(typed) - len(expected)
    if typed != expected:
        print("typed   ", typed[:5], "...", typed[-3:])
        print("expected", expected[:5], "...", expected[-3:])
    if typed == expected:
        latencies = [group[0] - reply[0] for group, reply in zip(groups, replies)]
        result["latency_ms"] = distribution(latencies)
        result["latency_histogram_50ms"] = clusters(latencies)

    print()
    print("%-34s %s" % ("measure", "value"))
    for name, values in (("CPU %% reading (%s s)" % args.cpu_seconds, result["cpu_percent_reading"]),
                         ("CPU %% disconnected (%s s)" % args.cpu_seconds, result["cpu_percent_disconnected"])):
        for process, percent in values.items():
            print("%-34s %6.2f %% of one core" % (name + ", " + process, percent))
    print("%-34s %6.2f" % ("polls per second while reading", result["polls_per_second_reading"]))
    print("%-34s %d sent, %d typed, exactly once in order: %s" % (
        "cards", result["cards_sent"], result["cards_typed"], result["cards_exactly_once_in_order"]))
    if "latency_ms" in result:
        d = result["latency_ms"]
        print("%-34s min %.1f  p10 %.1f  median %.1f  mean %.1f  p90 %.1f  max %.1f ms" % (
            "card-to-keystroke latency", d["min"], d["p10"], d["median"], d["mean"], d["p90"], d["max"]))
        print("%-34s %s" % ("latency histogram (50 ms bins)",
                            "  ".join("%d-%d: %d" % (k, k + 50, v) for k, v in result["latency_histogram_50ms"].items())))
    print(json.dumps({"benchmark": "cardwick", **result}, sort_keys=True))


if __name__ == "__main__":
    main()
