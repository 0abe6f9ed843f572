#!/usr/bin/env python3
"""Cardwick started with valid settings and a reader: it reads from the notification area by itself,
types every card into the focused window, follows the carriage-return setting from card to card,
shrugs off a reply with a wrong BCC, joins a reply split over three receive events, and ends from the
tray menu."""

import time

from cardwick_e2e import (MAIN_CAPTION, Session, check, check_status_line, standard_settings, tray_picture,
                          wait_until)

FIRST, SECOND, BAD, AFTER_BAD, SPLIT = "0004211311", "0013377642", "0000004711", "0000000815", "0000000816"
# Replies are numbered from 1: B, V, then one F a poll. Eight empty polls give the test four seconds
# to change the carriage-return setting between the second and the third card.
SCRIPT = [FIRST, FIRST] + [""] * 8 + [SECOND, BAD, AFTER_BAD]
BAD_REPLY = 2 + SCRIPT.index(BAD) + 1
SPLIT_GAP_MS = 400


with Session("reading from the notification area", settings=standard_settings(show=False, suffix=True),
             sim=("--cards", ",".join(SCRIPT), "--bad-bcc", "--fault-at", str(BAD_REPLY)), sink=True) as s:
    ui, sink, sim, env = s.ui, s.sink, s.sim, s.env
    start = time.time()

    with s.step("starts hidden, reading by itself; tray picture 1"):
        sim.wait_for_commands(3, 20)
        check([letter for _, letter in sim.commands()[:3]] == ["B", "V", "F"], "commands %r" % sim.commands())
        check(not ui.visible_main_caption(), "the main window is shown")
        check(len(ui.tray_icons()) == 1, "not exactly one tray icon")
        tray_picture(ui, env.work, 1)

    with s.step("the same card twice, each typed with Enter into the focused window"):
        wait_until(lambda: sink.text() == (FIRST + "\r") * 2, 10, "the first card twice, each with Enter")
        # Read afresh for every card: from the next card on, no Enter, the key being gone altogether.
        del s.general["Suffix Carriage Return"]
        s.write_settings()
        suffix_off = time.monotonic_ns() / 1e6

    with s.step("tray double click: caption, identity, last card kept over empty polls, status line"):
        shown = time.time()
        main = s.show_main()
        check(ui.window(main.hwnd)["text"] == MAIN_CAPTION, "caption")
        # The empty polls since leave the card field as it was.
        check(main.identified() and main.fields()[3] == FIRST, "fields %r" % (main.fields(),))
        panels = main.panels()
        check(panels[0] == "Connected", "panels %r" % panels)
        check_status_line(panels[1], ": Read Card ID OK", shown - 1, time.time())
        check(not main.control("btnProperties")["enabled"], "Properties is enabled while connected")
        watcher = s.watch_status()
        check(main.text("btnReadCardID") == "Stop Reading", "read button %r" % main.text("btnReadCardID"))

    with s.step("close box hides; the next card typed without Enter once the setting is gone"):
        ui.call("close " + main.hwnd)
        wait_until(lambda: not main.visible(), 5, "the window to hide")
        check(s.cardwick.running(), "closing ended the program")
        sink.focus(ui)
        wait_until(lambda: SECOND in sink.text(), 15, "the second card")
        check(sink.text().startswith((FIRST + "\r") * 2 + SECOND), "typed %r" % sink.text())
        second_sent = [t for t, kind, data in sim.entries() if kind == "TX" and SECOND.encode() in data]
        check(second_sent and second_sent[0] > suffix_off, "the setting changed too late for the test")

    with s.step("a wrong BCC: status line, card dropped, still reading, next card typed"):
        wait_until(lambda: sink.text().endswith(AFTER_BAD), 10, "the card after the bad one")
        bad = [line for _, line in watcher.lines() if "BCC" in line]
        check(len(bad) == 1, "BCC status lines %r" % bad)
        check_status_line(bad[0], ": BCC check failed! Error in data received.", start, time.time())
        check(sink.text() == (FIRST + "\r") * 2 + SECOND + AFTER_BAD, "typed %r" % sink.text())
        check(main.panels()[0] == "Connected", "disconnected after a bad BCC")
        check(ui.message_box(0) is None, "a message box")

    with s.step("a reply split over three receive events is typed once"):
        # A new reader on the same port: its first card reply comes in three pieces 0.4 s apart,
        # longer than the receive tick, and the reply after it keeps the same distance. From the
        # tick that hands over the first piece to the last piece lie more than 0.5 s, so a poll
        # tick falls in between.
        split = s.plug("--cards", SPLIT + "," + SPLIT, "--split", "3", "--split-gap", str(SPLIT_GAP_MS),
                       "--fault-at", "3")
        ui.call("traydblclick 0")
        wait_until(main.visible, 5, "the window")
        main.click("btnDisconnect")
        wait_until(lambda: main.panels()[0] == "Disconnected", 5, "Disconnected")
        sim.stop()
        s.start_reading(hide=False)
        wait_until(lambda: sink.text().endswith(SPLIT * 2), 10, "the split card and the one after it")
        check(sink.text() == (FIRST + "\r") * 2 + SECOND + AFTER_BAD + SPLIT * 2, "typed %r" % sink.text())
        bad = [line for _, line in watcher.lines() if "BCC" in line]
        check(len(bad) == 1, "BCC failures besides the bad reply: %r" % bad)
        # On reader-sim's clock: the pieces after the first, each written on its own, and a poll
        # that went out while the reply was incomplete. The order is what matters: under load the
        # first piece can leave late and the gaps between the writes shrink below the schedule's.
        sent = [(t, data) for t, kind, data in split.entries() if kind == "TX"]
        rest = [i for i, (_, data) in enumerate(sent) if data[:1] != b"\n"]
        check(len(rest) == 2, "the reply did not go out in three pieces: %r" % sent)
        first, last = sent[rest[0] - 1][0], sent[rest[-1]][0]
        between = [c for t, c in split.commands() if first < t < last]
        check(between and set(between) == {"F"}, "polls between the first and the last piece: %r" % between)

    with s.step("Exit from the tray menu while hidden: the program ends, no box, no icon left"):
        main.click("btnHide")
        wait_until(lambda: not main.visible(), 5, "the window to hide")
        s.exit_from_tray()
