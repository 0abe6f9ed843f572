#!/usr/bin/env python3
"""The most common fault of a serial reader: its USB adapter pulled out and plugged back into the same
port while Cardwick reads from the notification area. One "Device unplugged!" box; nothing comes back
by itself while "Reconnect automatically" is not set; "&Connect" and "Start Reading" bring the reader
back with no restart, and every card is typed exactly once, before the pull and after it. (With
"Reconnect automatically": test_reconnect.py.)"""

from cardwick_e2e import DEVICE_UNPLUGGED, MainWindow, Session, check, now_ms, standard_settings, typed, wait_until

BEFORE = ["0004211311", "0013377642", "0000004711"]
AFTER = ["0000000815", "0000000816", "0000000817"]
# Empty polls first, while Connect and Start Reading have the foreground and it is handed back to
# the sink; the test checks on reader-sim's log that the first card came after that.
EMPTY_POLLS = 8
AFTER_SCRIPT = [""] * EMPTY_POLLS + AFTER


with Session("a reader pulled out and plugged back in", settings=standard_settings(show=False, suffix=True),
             sim=("--cards", ",".join(BEFORE)), sink=True) as s:
    ui, sink = s.ui, s.sink

    with s.step("reading from the notification area: the first reader's cards typed"):
        wait_until(lambda: sink.text() == typed(BEFORE), 20, "the first reader's cards")

    with s.step("the line pulled: one 'Device unplugged!' box, Disconnected, nothing typed twice"):
        # Right after a card: the next poll is still about 300 ms away, so no reply is in flight.
        pulled = s.sim
        pulled.stop()
        box = ui.expect_message_box("Error", "error", DEVICE_UNPLUGGED, timeout_ms=3000)
        main = s.main = MainWindow(ui, ui.window(box["hwnd"])["owner"])
        s.dismiss(box)
        # The box brought the window out of the notification area, and it stays out once the box is
        # gone. Which window the system activates then is its own affair, and on a loaded machine
        # it can take longer than any wait here.
        check(ui.window(main.hwnd)["class"] == "TfrmCardReader" and main.visible(),
              "the main window is not shown after the box")
        main.check_disconnected()
        check(main.panels()[1].endswith(": Data sending timeout!"), "status %r" % main.panels()[1])
        check(sink.text() == typed(BEFORE), "typed %r" % sink.text())

    with s.step("the reader back on the same port: nothing reconnects by itself"):
        # The same port, a new reader: without the setting, nobody knocks for longer than a retry
        # (5 s after the drop), counted on reader-sim's clock from the pull.
        sim = s.plug("--cards", ",".join(AFTER_SCRIPT))
        unplugged_at = pulled.entries()[-1][0]
        wait_until(lambda: now_ms() >= unplugged_at + 7000, 10, "a retry's time to pass", 0.1)
        check(sim.commands() == [], "commands to the new reader: %r" % sim.commands())
        check(main.panels()[0] == "Disconnected", "panels %r" % main.panels())
        check(ui.message_box(0) is None, "a message box")

    with s.step("Connect and Start Reading: the new reader's cards typed exactly once"):
        # Cleared before: nothing reaches the sink while the main window has the foreground.
        sink.clear()
        s.start_reading()
        focused_at = now_ms()
        # The first card was asked for after the sink had the foreground back: reader-sim's stamp
        # of that poll is later than the moment the test saw the focus, which is later still than
        # the focus itself.
        polls = wait_until(lambda: (lambda p: len(p) > EMPTY_POLLS and p)([t for t, c in sim.commands() if c == "F"]),
                           10 + EMPTY_POLLS * 0.5, "the poll for the first card")
        check(polls[EMPTY_POLLS] > focused_at, "the first card was asked for %.0f ms before the sink had the "
              "foreground back" % (focused_at - polls[EMPTY_POLLS]))
        wait_until(lambda: sink.text() == typed(AFTER), 15, "the new reader's cards")
        # The script is used up: the polls go on, answered without a card, and nothing more is typed.
        polls = len(sim.commands())
        wait_until(lambda: len(sim.commands()) >= polls + 2, 5, "polls after the last card")
        check(sink.text() == typed(AFTER), "typed %r" % sink.text())

    with s.step("Exit from the tray menu"):
        s.exit_from_tray()
