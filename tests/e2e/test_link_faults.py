#!/usr/bin/env python3
"""Cardwick against readers that fail: a baud rate that is not a number at start-up, a reader that
stops answering while reading, one that answers "B" but never "V", a new reader plugged into the same
port, and Exit while a reply is outstanding. (A line pulled while reading: test_replug.py.)"""

import time

from cardwick_e2e import (SENDING_TIMEOUT, Session, check, check_status_line, now_ms,
                          standard_settings, tray_picture, wait_until)

# Longer than the reply time-out and shorter than two of them.
TOO_LATE_MS = 3000

general, ports = standard_settings(show=False)
ports["Baud rate"] = "abc"
with Session("reader link failures", settings=(general, ports), cardwick={"trace_status": True}) as s:
    ui = s.ui

    with s.step("a baud rate that is not a number: the error shown, start-up goes on"):
        s.dismiss(ui.expect_message_box("Orvela Cardwick", "error", "'abc' is not a valid integer value",
                                        timeout_ms=20000))
        check(len(ui.tray_icons()) == 1, "no tray icon: start-up did not go on")
        main = s.show_main()
        check(main.panels()[0] == "Disconnected", "panels %r" % main.panels())
        check(s.sim.commands() == [], "commands were sent")
        watcher = s.watch_status()

    with s.step("a reader that stops answering: one time-out box, no later than a reply 3 s late, Disconnected"):
        s.general["Suffix Carriage Return"] = "0"
        s.ports["Baud rate"] = "19200"
        s.write_settings()
        # B, V and two polls answered at once; the third poll's reply comes 3 s late, longer than
        # the reply time-out (2 s from the poll, or from the tick after it) and shorter than two.
        sim = s.plug("--late", str(TOO_LATE_MS), "--fault-at", "5")
        start = time.time()
        s.start_reading()
        box = ui.expect_message_box("Error", "error", SENDING_TIMEOUT, timeout_ms=10000)
        shown_at = now_ms()
        commands = sim.commands()
        check([c for _, c in commands] == ["B", "V", "F", "F", "F"], "commands %r" % commands)
        # Not before the time-out: the box is seen after it came, on the clock reader-sim stamps
        # with, so this bound holds under any load; a time-out shorter than 1.9 s fails it.
        waited = shown_at - commands[-1][0]
        check(waited >= 1900, "the box came %.0f ms after the unanswered poll" % waited)
        # Not after it either, by the order of events: a wait still running when the reply came,
        # 3 s after the poll on reader-sim's clock, would have read it and shown no box at all.
        late = wait_until(lambda: [t for t, kind, _ in sim.entries() if kind == "TX" and t > commands[-1][0]],
                          10, "the late reply")[0]
        check(late - commands[-1][0] >= TOO_LATE_MS, "the late reply came %.0f ms after its poll"
              % (late - commands[-1][0]))
        check(main.visible(), "the main window is not shown with the box")
        s.dismiss(box)
        main.check_disconnected()
        check_status_line(main.panels()[1], ": Data sending timeout!", start, time.time())
        timeouts = [line for _, line in watcher.lines() if line.endswith("timeout!")]
        check(len(timeouts) == 1, "status lines %r" % timeouts)
        check(s.cardwick.status_writes("timeout!") == 1, "%d time-out status lines written"
              % s.cardwick.status_writes("timeout!"))
        check(len(sim.commands()) == 5, "commands after the time-out: %r" % sim.commands()[5:])
        tray_picture(ui, s.env.work, 0)

    with s.step("a reader that never answers V: the first poll's wait times out"):
        sim = s.plug("--no-version")
        s.start_reading(hide=False)
        box = ui.expect_message_box("Error", "error", SENDING_TIMEOUT, timeout_ms=10000)
        # The first poll comes half a second after reading starts and waits for the reply to "V":
        # the box is seen at least the time-out after "V", on reader-sim's clock.
        after_v = now_ms() - sim.commands()[-1][0]
        check(after_v >= 1900, "the box came %.0f ms after V" % after_v)
        check([c for _, c in sim.commands()] == ["B", "V"], "commands %r" % sim.commands())
        s.dismiss(box)
        main.check_disconnected()

    with s.step("a new reader on the same port: Connect and read again"):
        # Answers B, V and three polls, then keeps silent: the next poll waits for a reply.
        sim = s.plug("--cards", "0004211311", "--silent-after", "5")
        s.start_reading(hide=False)
        check(main.panels()[0] == "Connected", "panels %r" % main.panels())
        wait_until(lambda: main.fields()[3] == "0004211311", 5, "a card from the new reader")

    with s.step("Exit while a reply is outstanding: no box, nothing sent, the program ends"):
        main.click("btnHide")
        unanswered = sim.wait_for_commands(6, 10)[5][0]
        # The sixth command is not answered: the next poll tick, 500 ms after it, begins the wait
        # for its reply. Exit is chosen once that much has passed on reader-sim's clock (the clock
        # now_ms reads too, so the wait cannot end early). An Exit that came only after the wait had
        # timed out fails on the time-out's box, since no box may show on the way out.
        wait_until(lambda: now_ms() >= unanswered + 550, 5, "the wait for the reply", 0.01)
        check(ui.message_box(0) is None, "a message box before Exit")
        s.exit_from_tray(reader_quiet=True)
