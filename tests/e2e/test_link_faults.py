#!/usr/bin/env python3
"""Cardwick against readers that fail: a baud rate that is not a number at start-up, a reader that
stops answering while reading, one that answers "B" but never "V", a line pulled while reading, a new
reader plugged into the same port, and Exit while a reply is outstanding."""

import time

from cardwick_e2e import (DEVICE_UNPLUGGED, SENDING_TIMEOUT, Cardwick, Environment, ReaderSim, Run,
                          StatusWatcher, UiDriver, check, check_status_line, find_main_window, now_ms,
                          standard_settings, tray_picture, wait_until)

env = Environment()


def check_disconnected(main):
    check(main.panels()[0] == "Disconnected", "panels %r" % main.panels())
    check(main.text("btnReadCardID") == "Read Card ID", "read button %r" % main.text("btnReadCardID"))
    check(main.fields() == ("", "", "", ""), "fields %r" % (main.fields(),))
    check(main.control("btnConnect")["enabled"] and not main.control("btnDisconnect")["enabled"],
          "buttons after the link dropped")


with Run("reader link failures") as run:
    general, ports = standard_settings(show=False)
    ports["Baud rate"] = "abc"
    env.write_settings(general, ports)
    sims = []

    def plug(*args):
        """A new reader on the same port; the one before it is pulled out."""
        sim = ReaderSim(env, *args)
        run.on_exit(sim.stop)
        for old in sims:
            old.stop()
        sims.append(sim)
        return sim

    plug()
    ui = UiDriver(env)
    run.on_exit(ui.close)
    cardwick = Cardwick(env, ui, trace_status=True)
    run.on_exit(cardwick.kill)
    state = {}

    def baud_rate_not_a_number():
        box = ui.expect_message_box("Orvela Cardwick", "error", "'abc' is not a valid integer value",
                                    timeout_ms=20000)
        ui.dismiss(box)
        check(ui.message_box(1000) is None, "a second message box")
        check(len(ui.tray_icons()) == 1, "no tray icon: start-up did not go on")
        ui.call("traydblclick 0")
        main = find_main_window(ui)
        state["main"] = main
        check(main.panels()[0] == "Disconnected", "panels %r" % main.panels())
        check(sims[0].commands() == [], "commands were sent")
        state["watcher"] = StatusWatcher(env, main.hwnd_of("sbStatus"))
        run.on_exit(state["watcher"].stop)

    def start_reading(main, hide):
        main.click("btnConnect")
        wait_until(lambda: main.fields()[0] == "30571846", 10, "the module's identity")
        main.click("btnReadCardID")
        wait_until(lambda: main.text("btnReadCardID") == "Stop Reading", 5, "reading to start")
        clicked = now_ms()
        if hide:
            main.click("btnHide")
            wait_until(lambda: not main.visible(), 5, "the window to hide")
        return clicked

    def reader_stops_answering():
        main = state["main"]
        general["Suffix Carriage Return"] = "0"
        ports["Baud rate"] = "19200"
        env.write_settings(general, ports)
        # B, V and two polls answered; the third poll is not.
        sim = plug("--silent-after", "4")
        start = time.time()
        start_reading(main, hide=True)
        box = ui.expect_message_box("Error", "error", SENDING_TIMEOUT, timeout_ms=10000)
        shown_at = now_ms()
        commands = sim.commands()
        check([c for _, c in commands] == ["B", "V", "F", "F", "F"], "commands %r" % commands)
        # On reader-sim's clock, from the unanswered poll: the next tick, 500 ms on, begins the wait,
        # which ends 2000 ms later. The bounds separate the faults, not the machine's load: a
        # shorter time-out (1500 ms) ends before 2400, a second wait (4 s) after 4500.
        waited = shown_at - commands[-1][0]
        check(2400 <= waited < 4500, "the box came %.0f ms after the unanswered poll" % waited)
        check(main.visible(), "the main window is not shown with the box")
        ui.dismiss(box)
        check(ui.message_box(1500) is None, "a second message box for the same time-out")
        check_disconnected(main)
        check_status_line(main.panels()[1], ": Data sending timeout!", start, time.time())
        timeouts = [line for _, line in state["watcher"].lines() if line.endswith("timeout!")]
        check(len(timeouts) == 1, "status lines %r" % timeouts)
        check(cardwick.status_writes("timeout!") == 1, "%d time-out status lines written"
              % cardwick.status_writes("timeout!"))
        check(len(sim.commands()) == 5, "commands after the time-out: %r" % sim.commands()[5:])
        tray_picture(ui, env.work, 0)

    def no_version_reply():
        main = state["main"]
        sim = plug("--no-version")
        clicked = start_reading(main, hide=False)
        box = ui.expect_message_box("Error", "error", SENDING_TIMEOUT, timeout_ms=10000)
        # The first poll comes half a second after reading starts and waits 2000 ms for the reply
        # to "V": at least 2500 ms after "V" on reader-sim's clock, and less than a second wait
        # (4 s) after the click.
        shown_at = now_ms()
        after_v = shown_at - sim.commands()[-1][0]
        check(2400 <= after_v and shown_at - clicked < 4500,
              "the box came %.0f ms after V, %.0f ms after the click" % (after_v, shown_at - clicked))
        check([c for _, c in sim.commands()] == ["B", "V"], "commands %r" % sim.commands())
        ui.dismiss(box)
        check(ui.message_box(1000) is None, "a second message box")
        check_disconnected(main)

    def line_pulled_while_reading():
        main = state["main"]
        sim = plug("--cards", "0004211311")
        watcher = state["watcher"]
        start_reading(main, hide=True)
        # Pull the line right after a reply has been handled, before the next poll is sent.
        seen = len(watcher.lines())
        wait_until(lambda: any(line.endswith("Read Card ID OK") for _, line in watcher.lines()[seen:]), 5,
                   "a handled poll")
        sim.stop()
        box = ui.expect_message_box("Error", "error", DEVICE_UNPLUGGED, timeout_ms=3000)
        check(main.visible(), "the main window is not shown with the box")
        ui.dismiss(box)
        check(ui.message_box(1500) is None, "a second message box")
        check_disconnected(main)
        check(main.panels()[1].endswith(": Data sending timeout!"), "status %r" % main.panels()[1])

    def plugged_in_again():
        main = state["main"]
        # Answers B, V and three polls, then keeps silent: the next poll waits for a reply.
        sim = plug("--cards", "0004211311", "--silent-after", "5")
        main.click("btnConnect")
        wait_until(lambda: main.fields()[:3] == ("30571846", "2.31", "01"), 10, "the identity")
        check(main.panels()[0] == "Connected", "panels %r" % main.panels())
        main.click("btnReadCardID")
        wait_until(lambda: main.fields()[3] == "0004211311", 5, "a card from the new reader")
        state["last"] = sim

    def exit_while_a_reply_is_outstanding():
        sim = state["last"]
        main = state["main"]
        main.click("btnHide")
        unanswered = sim.wait_for_commands(6, 10)[5][0]
        # The sixth command is not answered: on reader-sim's clock the next poll's wait for its
        # reply runs from 500 to 2500 ms after it. Exit goes in the middle, and a late Exit fails
        # rather than testing Exit with no wait in progress.
        wait_until(lambda: now_ms() >= unanswered + 1200, 5, "the wait for the reply", 0.01)
        clicked = now_ms()
        check(clicked < unanswered + 2000,
              "Exit clicked %.0f ms after the unanswered poll" % (clicked - unanswered))
        check(ui.message_box(0) is None, "a message box before Exit")
        ui.call("traymenu 0 X")
        sent = len(sim.commands())
        deadline = time.monotonic() + 15
        while cardwick.running() and time.monotonic() < deadline:
            check(ui.message_box(0) is None, "a message box after Exit")
            time.sleep(0.1)
        check(not cardwick.running(), "Cardwick did not end")
        check(len(sim.commands()) == sent, "commands after Exit: %r" % sim.commands()[sent:])

    run.step("a baud rate that is not a number: the error shown, start-up goes on", baud_rate_not_a_number)
    run.step("a reader that stops answering: one time-out box 2 s after the wait began, Disconnected",
             reader_stops_answering)
    run.step("a reader that never answers V: the first poll's wait times out", no_version_reply)
    run.step("the line pulled while reading: one 'Device unplugged!' box, Disconnected",
             line_pulled_while_reading)
    run.step("a new reader on the same port: Connect and read again", plugged_in_again)
    run.step("Exit while a reply is outstanding: no box, nothing sent, the program ends",
             exit_while_a_reply_is_outstanding)
