#!/usr/bin/env python3
"""Cardwick against readers that fail: a baud rate that is not a number at start-up, a reader that
stops answering while reading, one that answers "B" but never "V", a new reader plugged into the same
port, and Exit while a reply is outstanding. (A line pulled while reading: test_replug.py.)"""

import time

from cardwick_e2e import (SENDING_TIMEOUT, Session, check, check_status_line, now_ms,
                          standard_settings, tray_picture, wait_until)

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

    with s.step("a reader that stops answering: one time-out box 2 s after the last command, Disconnected"):
        s.general["Suffix Carriage Return"] = "0"
        s.ports["Baud rate"] = "19200"
        s.write_settings()
        # B, V and two polls answered; the third poll is not.
        sim = s.plug("--silent-after", "4")
        start = time.time()
        s.start_reading()
        box = ui.expect_message_box("Error", "error", SENDING_TIMEOUT, timeout_ms=10000)
        shown_at = now_ms()
        commands = sim.commands()
        check([c for _, c in commands] == ["B", "V", "F", "F", "F"], "commands %r" % commands)
        # On reader-sim's clock, from the unanswered poll: the next tick, 500 ms on, waits until the
        # reader has been silent for 2000 ms after that poll. The bounds separate the faults, not the
        # machine's load: a shorter time-out (1500 ms) ends before 1950, a second wait (4 s) after
        # 4000. (A wait counted from its own start, 2500 ms, is the native tier's to catch.)
        waited = shown_at - commands[-1][0]
        check(1950 <= waited < 4000, "the box came %.0f ms after the unanswered poll" % waited)
        check(main.visible(), "the main window is not shown with the box")
        s.dismiss(box, 1500)
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
        clicked = s.start_reading(hide=False)
        box = ui.expect_message_box("Error", "error", SENDING_TIMEOUT, timeout_ms=10000)
        # The first poll comes half a second after reading starts and waits for the reply to "V"
        # until 2000 ms after "V" on reader-sim's clock, and less than a second wait (4 s) after
        # the click.
        shown_at = now_ms()
        after_v = shown_at - sim.commands()[-1][0]
        check(1950 <= after_v and shown_at - clicked < 4500,
              "the box came %.0f ms after V, %.0f ms after the click" % (after_v, shown_at - clicked))
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
        # The sixth command is not answered: on reader-sim's clock the next poll's wait for its
        # reply runs from 500 to 2000 ms after it. Exit goes in the middle, and a late Exit fails
        # rather than testing Exit with no wait in progress.
        wait_until(lambda: now_ms() >= unanswered + 1000, 5, "the wait for the reply", 0.01)
        clicked = now_ms()
        check(clicked < unanswered + 1800,
              "Exit clicked %.0f ms after the unanswered poll" % (clicked - unanswered))
        check(ui.message_box(0) is None, "a message box before Exit")
        s.exit_from_tray(reader_quiet=True)
