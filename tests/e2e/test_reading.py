#!/usr/bin/env python3
"""Cardwick started with valid settings and a reader: it reads from the notification area by itself,
types every card into the focused window, follows the carriage-return setting from card to card,
shrugs off a reply with a wrong BCC, joins a reply split over three receive events, and ends from the
tray menu."""

import os
import time

from cardwick_e2e import (MAIN_CAPTION, Cardwick, Environment, KeySink, ReaderSim, Run, StatusWatcher, UiDriver,
                          check, check_status_line, find_main_window, standard_settings, tray_picture,
                          wait_until)

env = Environment()

FIRST, SECOND, BAD, AFTER_BAD, SPLIT = "0004211311", "0013377642", "0000004711", "0000000815", "0000000816"
# Replies are numbered from 1: B, V, then one F a poll. Eight empty polls give the test four seconds
# to change the carriage-return setting between the second and the third card.
SCRIPT = [FIRST, FIRST] + [""] * 8 + [SECOND, BAD, AFTER_BAD]
BAD_REPLY = 2 + SCRIPT.index(BAD) + 1


def holders(path):
    """Processes other than reader-sim that hold the pty open."""
    found = set()
    target = os.path.realpath(path)
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            for fd in os.listdir("/proc/%s/fd" % pid):
                if os.path.realpath("/proc/%s/fd/%s" % (pid, fd)) == target:
                    found.add(int(pid))
        except OSError:
            continue
    return found


with Run("reading from the notification area") as run:
    general, ports = standard_settings(show=False, suffix=True)
    env.write_settings(general, ports)
    sim = ReaderSim(env, "--cards", ",".join(SCRIPT), "--bad-bcc", "--fault-at", str(BAD_REPLY))
    run.on_exit(sim.stop)
    ui = UiDriver(env)
    run.on_exit(ui.close)
    sink = KeySink(env)
    run.on_exit(sink.close)
    sink.focus(ui)
    cardwick = Cardwick(env, ui)
    run.on_exit(cardwick.kill)
    state = {"start": time.time()}

    def reads_by_itself_hidden():
        sim.wait_for_commands(3, 20)
        check([letter for _, letter in sim.commands()[:3]] == ["B", "V", "F"], "commands %r" % sim.commands())
        check(not ui.visible_main_caption(), "the main window is shown")
        check(len(ui.tray_icons()) == 1, "not exactly one tray icon")
        tray_picture(ui, env.work, 1)

    def same_card_twice_with_enter():
        wait_until(lambda: sink.text() == (FIRST + "\r") * 2, 10, "the first card twice, each with Enter")
        # Read afresh for every card: from the next card on, no Enter, the key being gone altogether.
        del general["Suffix Carriage Return"]
        env.write_settings(general, ports)
        state["suffix_off"] = time.monotonic_ns() / 1e6

    def shown_by_double_click():
        start = time.time()
        ui.call("traydblclick 0")
        main = find_main_window(ui)
        state["main"] = main
        check(ui.window(main.hwnd)["text"] == MAIN_CAPTION, "caption")
        # The empty polls since leave the card field as it was.
        check(main.fields() == ("30571846", "2.31", "01", FIRST), "fields %r" % (main.fields(),))
        panels = main.panels()
        check(panels[0] == "Connected", "panels %r" % panels)
        check_status_line(panels[1], ": Read Card ID OK", start - 1, time.time())
        check(not main.control("btnProperties")["enabled"], "Properties is enabled while connected")
        watcher = StatusWatcher(env, main.hwnd_of("sbStatus"))
        run.on_exit(watcher.stop)
        state["watcher"] = watcher
        check(main.text("btnReadCardID") == "Stop Reading", "read button %r" % main.text("btnReadCardID"))

    def close_box_hides_and_reading_goes_on():
        main = state["main"]
        ui.call("close " + main.hwnd)
        wait_until(lambda: not main.visible(), 5, "the window to hide")
        check(cardwick.running(), "closing ended the program")
        sink.focus(ui)
        wait_until(lambda: SECOND in sink.text(), 15, "the second card")
        check(sink.text().startswith((FIRST + "\r") * 2 + SECOND), "typed %r" % sink.text())
        second_sent = [t for t, kind, data in sim.entries() if kind == "TX" and SECOND.encode() in data]
        check(second_sent and second_sent[0] > state["suffix_off"], "the setting changed too late for the test")

    def wrong_bcc_dropped_and_reading_goes_on():
        main = state["main"]
        wait_until(lambda: sink.text().endswith(AFTER_BAD), 10, "the card after the bad one")
        bad = [line for _, line in state["watcher"].lines() if "BCC" in line]
        check(len(bad) == 1, "BCC status lines %r" % bad)
        check_status_line(bad[0], ": BCC check failed! Error in data received.", state["start"], time.time())
        check(sink.text() == (FIRST + "\r") * 2 + SECOND + AFTER_BAD, "typed %r" % sink.text())
        check(main.panels()[0] == "Connected", "disconnected after a bad BCC")
        check(ui.message_box(0) is None, "a message box")

    def split_reply_handled_once():
        main = state["main"]
        # A new reader on the same port: its first card reply comes in three pieces 0.4 s apart,
        # longer than the receive tick, and the reply after it keeps the same distance. From the
        # tick that hands over the first piece to the last piece lie more than 0.5 s, so a poll
        # tick falls in between.
        split = ReaderSim(env, "--cards", SPLIT + "," + SPLIT, "--split", "3", "--split-gap", "400",
                          "--fault-at", "3")
        run.on_exit(split.stop)
        ui.call("traydblclick 0")
        wait_until(main.visible, 5, "the window")
        main.click("btnDisconnect")
        wait_until(lambda: main.panels()[0] == "Disconnected", 5, "Disconnected")
        sim.stop()
        main.click("btnConnect")
        wait_until(lambda: main.fields()[0] == "30571846", 5, "the new reader's identity")
        main.click("btnReadCardID")
        # The click gave the main window the focus; the cards are for the sink.
        wait_until(lambda: main.text("btnReadCardID") == "Stop Reading", 5, "reading to start")
        sink.focus(ui)
        wait_until(lambda: sink.text().endswith(SPLIT * 2), 10, "the split card and the one after it")
        check(sink.text() == (FIRST + "\r") * 2 + SECOND + AFTER_BAD + SPLIT * 2, "typed %r" % sink.text())
        bad = [line for _, line in state["watcher"].lines() if "BCC" in line]
        check(len(bad) == 1, "BCC failures besides the bad reply: %r" % bad)
        # The pieces after the first, each written on its own.
        sent = [(t, data) for t, kind, data in split.entries() if kind == "TX"]
        rest = [i for i, (_, data) in enumerate(sent) if data[:1] != b"\n"]
        check(len(rest) == 2, "the reply did not go out in three pieces: %r" % sent)
        # The first piece answers the poll: the next one goes out before the reply is complete.
        first, last = sent[rest[0] - 1][0], sent[rest[-1]][0]
        between = [c for t, c in split.commands() if first < t < last]
        check(between and set(between) == {"F"}, "polls between the first and the last piece: %r" % between)
        state["split"] = split

    def exit_from_tray_while_hidden():
        main = state["main"]
        split = state["split"]
        main.click("btnHide")
        wait_until(lambda: not main.visible(), 5, "the window to hide")
        pty = split.pty
        check(holders(pty) - {split.process.pid}, "nobody has the port open before Exit")
        ui.call("traymenu 0 X")
        deadline = time.monotonic() + 15
        while cardwick.running() and time.monotonic() < deadline:
            check(ui.message_box(0) is None, "a message box after Exit")
            time.sleep(0.1)
        check(not cardwick.running(), "Cardwick did not end")
        wait_until(lambda: not (holders(pty) - {split.process.pid}), 5, "the port to be closed")

    run.step("starts hidden, reading by itself; tray picture 1", reads_by_itself_hidden)
    run.step("the same card twice, each typed with Enter into the focused window", same_card_twice_with_enter)
    run.step("tray double click: caption, identity, last card kept over empty polls, status line",
             shown_by_double_click)
    run.step("close box hides; the next card typed without Enter once the setting is gone",
             close_box_hides_and_reading_goes_on)
    run.step("a wrong BCC: status line, card dropped, still reading, next card typed",
             wrong_bcc_dropped_and_reading_goes_on)
    run.step("a reply split over three receive events is typed once", split_reply_handled_once)
    run.step("Exit from the tray menu while hidden: program ends, port closed, no box",
             exit_from_tray_while_hidden)
