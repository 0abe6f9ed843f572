#!/usr/bin/env python3
"""Weeks of running, compressed: the real Cardwick.exe under Wine reads from reader-sim, which
presents a new card on every poll, for MINUTES minutes while KeySink has the focus.

Once a sample interval (a minute by default) the process is looked at from outside:
- from Windows' side (ProcStats.exe under Wine): private bytes, working set, handles, GDI and USER
  objects, windows and threads of Cardwick.exe;
- from Linux's side: the resident and anonymous memory and the open file descriptors of the Wine
  process that runs Cardwick (for the 32-bit program, the emulator's process that runs it), and the
  wineserver's resident memory (it holds every handle's object);
- cards presented by reader-sim and cards typed into KeySink so far.

At the end every figure's growth per hour is fitted (least squares) over the samples after the
warm-up, and compared with its noise: three standard deviations of the samples around the fitted
line, or one unit of the figure (a handle, a page) when the samples do not move at all. A figure
passes when its growth over the measured window stays within that noise. The card check passes
when every card presented was typed exactly once, in order (a card still in flight at Exit may be
missing at the very end, never in the middle). Prints a table and one JSON line; exits 1 when the
run fails."""

import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from cardwick_bench import card_replies, key_downs, typing_session, wineserver_pid  # noqa: E402
from cardwick_e2e import Environment, Failure  # noqa: E402

PAGE = os.sysconf("SC_PAGE_SIZE")

# Figure name, where it comes from, the smallest step it moves by.
FIGURES = [
    ("private_bytes", "windows", 4096),
    ("working_set_bytes", "windows", 4096),
    ("handles", "windows", 1),
    ("gdi_objects", "windows", 1),
    ("user_objects", "windows", 1),
    ("windows", "windows", 1),
    ("threads", "windows", 1),
    ("linux_rss_bytes", "linux", PAGE),
    ("linux_anon_bytes", "linux", PAGE),
    ("linux_fds", "linux", 1),
    ("wineserver_rss_bytes", "linux", PAGE),
]


def windows_stats(procstats):
    out = subprocess.run(["wine", procstats, "Cardwick.exe"], capture_output=True, timeout=60).stdout
    line = out.decode("latin-1").strip().splitlines()[-1] if out.strip() else "error no output"
    if line.startswith("error"):
        raise RuntimeError("ProcStats: " + line)
    values = dict(item.split("=") for item in line.split())
    return {"private_bytes": int(values["private"]), "working_set_bytes": int(values["workingset"]),
            "handles": int(values["handles"]),
            "gdi_objects": int(values["gdi"]), "user_objects": int(values["user"]),
            "windows": int(values["windows"]), "threads": int(values["threads"])}


def status_bytes(pid, field):
    with open("/proc/%d/status" % pid) as f:
        match = re.search(r"^%s:\s+(\d+) kB" % field, f.read(), re.M)
    return int(match.group(1)) * 1024 if match else -1


def linux_stats(pid, server):
    return {"linux_rss_bytes": status_bytes(pid, "VmRSS"), "linux_anon_bytes": status_bytes(pid, "RssAnon"),
            "linux_fds": len(os.listdir("/proc/%d/fd" % pid)),
            "wineserver_rss_bytes": status_bytes(server, "VmRSS") if server else -1}


def typed_cards(lines):
    """The card IDs the sink's keyboard hook saw, each ended by its Enter. Split on the Enter rather
    than on pauses: on a loaded machine the log's lines arrive in bursts."""
    return "".join(char for _, char in key_downs(lines)).split("\r")[:-1]


def runs_cardwick(argv0, name):
    """Whether a process with this first word and this process name runs Cardwick.exe. Wine gives
    that process the program's path as its first word. The 32-bit program runs under the user-mode
    emulator, whose own path stays the first word; Wine names the process after the program all the
    same, and the emulator passes that name on."""
    def program(word):
        return re.split(rb"[\\/]", word.strip())[-1].lower() == b"cardwick.exe"
    emulator = os.path.basename(argv0.strip()).startswith(b"qemu-")
    return program(argv0) or (emulator and program(name))


def cardwick_linux_pid(timeout_s=10.0):
    """The Linux process that runs Cardwick.exe in this run's prefix (Wine re-executes its loader,
    so it need not be the process we started). Only its first word and its name count, since this
    script's own command line and any launcher's name Cardwick.exe too, as an argument, and carry
    the same WINEPREFIX."""
    prefix = b"WINEPREFIX=" + os.environ["WINEPREFIX"].encode()
    deadline = time.monotonic() + timeout_s
    while True:
        for pid in filter(str.isdigit, os.listdir("/proc")):
            if int(pid) == os.getpid():
                continue
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    argv0 = f.read().split(b"\0")[0]
                with open("/proc/%s/comm" % pid, "rb") as f:
                    name = f.read()
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            if prefix in environ and runs_cardwick(argv0, name):
                return int(pid)
        if time.monotonic() >= deadline:
            raise RuntimeError("no process runs Cardwick.exe in " + os.environ["WINEPREFIX"])
        time.sleep(0.2)


def fit(points):
    """Least-squares slope (units per hour) and the residuals' standard deviation."""
    xs = [t / 3600.0 for t, _ in points]
    ys = [float(v) for _, v in points]
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    sxx = sum((x - mx) ** 2 for x in xs)
    slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sxx if sxx else 0.0
    residuals = [y - (my + slope * (x - mx)) for x, y in zip(xs, ys)]
    sd = statistics.pstdev(residuals) if len(residuals) > 1 else 0.0
    return slope, sd


def judge(samples, warmup_s):
    """Per figure: growth per hour after the warm-up, noise, and whether it stays within it."""
    verdicts = {}
    after = [s for s in samples if s["t"] >= warmup_s]
    if len(after) < 3:
        raise RuntimeError("too few samples after the warm-up: %d" % len(after))
    window_h = (after[-1]["t"] - after[0]["t"]) / 3600.0
    for name, _, quantum in FIGURES:
        points = [(s["t"], s[name]) for s in after if s[name] >= 0]
        if len(points) < 3 or all(v == 0 for _, v in points):
            verdicts[name] = {"reported": False}
            continue
        slope, sd = fit(points)
        noise = max(3 * sd, quantum)
        growth = slope * window_h
        verdicts[name] = {"reported": True, "start": samples[0][name], "first": points[0][1], "last": points[-1][1],
                          "growth_per_hour": slope, "growth_over_window": growth, "noise": noise,
                          "pass": growth <= noise}
    return verdicts


def program_kind(env):
    return "32-bit x86, under Wine's emulated 32-bit half" if env.x86 else "64-bit x64"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--procstats", required=True)
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--interval-s", type=float, default=60)
    parser.add_argument("--warmup-min", type=float, default=5)
    parser.add_argument("--no-cards", action="store_true",
                        help="the reader answers every poll without a card: what a poll costs, apart from a card")
    args, rest = parser.parse_known_args()
    env = Environment(rest)
    duration_s = args.minutes * 60
    samples = []
    # Two polls a second, a new card for each, with room to spare.
    cards = int(duration_s * 2.2) + 200
    script = ["--cards", ","] if args.no_cards else ["--generate", str(cards)]
    session, sink_log = typing_session("soak", env, "Cardwick soak sink", *script, "--cycle",
                                       "--max-seconds", str(int(duration_s + 900)))
    with session as s:
        s.sim.wait_for_commands(4, 30)
        server = wineserver_pid()
        linux_pid = cardwick_linux_pid()
        start = time.monotonic()
        print("soak: %.0f minutes, a sample every %.0f s; %s (%s); Cardwick is Linux process %d" % (
            args.minutes, args.interval_s, env.cardwick, program_kind(env), linux_pid), flush=True)
        print("%7s %12s %8s %5s %5s %8s %8s %12s %5s" % ("t (s)", "private", "handles", "gdi", "user", "windows",
                                                          "threads", "linux anon", "cards"), flush=True)
        while True:
            elapsed = time.monotonic() - start
            if not s.cardwick.running():
                raise RuntimeError("Cardwick ended by itself after %.0f s" % elapsed)
            sample = {"t": elapsed}
            sample.update(windows_stats(args.procstats))
            sample.update(linux_stats(linux_pid, server))
            sample["cards_presented"] = len(card_replies(s.sim))
            sample["cards_typed"] = len(typed_cards(list(sink_log.lines)))
            samples.append(sample)
            print("%7.0f %12d %8d %5d %5d %8d %8d %12d %5d/%d" % (
                elapsed, sample["private_bytes"], sample["handles"], sample["gdi_objects"], sample["user_objects"],
                sample["windows"], sample["threads"], sample["linux_anon_bytes"], sample["cards_typed"],
                sample["cards_presented"]), flush=True)
            if elapsed >= duration_s:
                break
            next_sample = start + min(len(samples) * args.interval_s, duration_s)
            time.sleep(max(0.0, next_sample - time.monotonic()))
        exit_ms = time.monotonic_ns() / 1e6
        try:
            s.exit_from_tray(tries=5, wait_s=6)
            exited = True
        except Failure as e:
            print("Exit: %s" % e, flush=True)
            exited = False
        replies = card_replies(s.sim)
    presented = [card for _, card in replies]
    # The menu's accelerator key reaches the sink's hook too: count only what came before it.
    typed = typed_cards([(t, line) for t, line in sink_log.lines if t < exit_ms])
    settled = [card for t, card in replies if t < exit_ms - 1500]

    # Exactly once and in order: what was typed is the start of what was presented, and reaches
    # at least every card presented more than 1.5 s before Exit.
    cards_ok = typed == presented[:len(typed)] and len(typed) >= len(settled)
    verdicts = judge(samples, args.warmup_min * 60)
    leaks_ok = all(v["pass"] for v in verdicts.values() if v["reported"])

    print()
    print("%s, %s" % (env.cardwick, program_kind(env)))
    print("%-22s %14s %14s %14s %16s %14s %s" % ("figure", "at the start", "after warm-up", "at the end",
                                                 "growth per hour", "noise", "verdict"))
    for name, _, _ in FIGURES:
        v = verdicts[name]
        if not v["reported"]:
            print("%-22s %s" % (name, "not reported by the system (always 0 or missing)"))
            continue
        print("%-22s %14.0f %14.0f %14.0f %16.1f %14.1f %s" % (
            name, v["start"], v["first"], v["last"], v["growth_per_hour"], v["noise"], "ok" if v["pass"] else "GROWS"))
    print("%-22s %d presented, %d typed, exactly once in order: %s" % ("cards", len(presented), len(typed),
                                                                       cards_ok))
    print(json.dumps({"benchmark": "soak", "program": env.cardwick, "x86": env.x86, "minutes": args.minutes,
                      "samples": len(samples),
                      "warmup_minutes": args.warmup_min, "cards_presented": len(presented),
                      "cards_typed": len(typed), "cards_exactly_once_in_order": cards_ok, "ended_by_exit": exited,
                      "figures": verdicts, "pass": cards_ok and leaks_ok}, sort_keys=True))
    return 0 if cards_ok and leaks_ok else 1


if __name__ == "__main__":
    sys.exit(main())
