#!/usr/bin/env python3
"""The most common fault of a serial reader: its USB adapter pulled out and plugged back into the same
port while Cardwick reads from the notification area. One "Device unplugged!" box; nothing comes back
by itself while "Reconnect automatically" is not set; "&Connect" and "Start Reading" bring the reader
back with no restart, and every card is typed exactly once, before the pull and after it. With
"Reconnect automatically" set, the reader comes back by itself, with no click at all, and the box of
the drop closes by itself."""

import time

from cardwick_e2e import (DEVICE_UNPLUGGED, Session, check, find_main_window, standard_settings,
                          wait_until)

BEFORE = ["0004211311", "0013377642", "0000004711"]
AFTER = ["0000000815", "0000000816", "0000000817"]
# Empty polls first: three seconds to hand the focus back to the sink before the first card.
AFTER_SCRIPT = [""] * 6 + AFTER
BY_ITSELF = ["0000000901", "0000000902"]


def typed(cards):
    return "".join(card + "\r" for card in cards)


with Session("a reader pulled out and plugged back in", settings=standard_settings(show=False, suffix=True),
             sim=("--cards", ",".join(BEFORE)), sink=True) as s:
    ui, sink = s.ui, s.sink

    with s.step("reading from the notification area: the first reader's cards typed"):
        wait_until(lambda: sink.text() == typed(BEFORE), 20, "the first reader's cards")

    with s.step("the line pulled: one 'Device unplugged!' box, Disconnected, nothing typed twice"):
        # Right after a card: the next poll is still about 300 ms away, so no reply is in flight.
        s.sim.stop()
        s.dismiss(ui.expect_message_box("Error", "error", DEVICE_UNPLUGGED, timeout_ms=3000), 1500)
        # The box brought the window out of the notification area; it is active once the box is gone.
        main = s.main = find_main_window(ui)
        check(main.panels()[0] == "Disconnected", "panels %r" % main.panels())
        check(sink.text() == typed(BEFORE), "typed %r" % sink.text())

    with s.step("the reader back on the same port: nothing reconnects by itself"):
        # The same port, a new reader: without the setting, nobody knocks for longer than a retry.
        sim = s.plug("--cards", ",".join(AFTER_SCRIPT))
        time.sleep(7)
        check(sim.commands() == [], "commands to the new reader: %r" % sim.commands())
        check(main.panels()[0] == "Disconnected", "panels %r" % main.panels())
        check(ui.message_box(0) is None, "a message box")

    with s.step("Connect and Start Reading: the new reader's cards typed exactly once"):
        s.start_reading()
        sink.clear()
        wait_until(lambda: sink.text() == typed(AFTER), 15, "the new reader's cards")
        # The script is used up: the polls go on, answered without a card, and nothing more is typed.
        polls = len(sim.commands())
        wait_until(lambda: len(sim.commands()) >= polls + 2, 5, "polls after the last card")
        check(sink.text() == typed(AFTER), "typed %r" % sink.text())

    with s.step("with 'Reconnect automatically': back by itself within a try, reading resumed, the box closed"):
        s.general["Reconnect automatically"] = "1"
        s.write_settings()
        watcher = s.watch_status()
        # Pulled while reading, then a reader back on the same port before the first try, 5 s on.
        pulled = sim
        pulled.stop()
        ui.expect_message_box("Error", "error", DEVICE_UNPLUGGED, timeout_ms=3000)
        sim = s.plug("--cards", ",".join([""] * 2 + BY_ITSELF))
        # The user is busy in another window and leaves the box alone.
        sink.focus(ui)
        sink.clear()
        wait_until(lambda: len(sim.commands()) >= 2, 12, "a try to reconnect")
        # On reader-sim's clock, from the pull to the try: the link drops at most a poll after the
        # pull and tries 5 s after the drop. Earlier is a shorter interval; a second interval
        # (10 s) ends after 10000.
        tried = sim.commands()[0][0] - pulled.entries()[-1][0]
        check(4900 <= tried < 9000, "the first try came %.0f ms after the pull" % tried)
        check([c for _, c in sim.commands()[:2]] == ["B", "V"], "commands %r" % sim.commands())
        wait_until(lambda: sink.text() == typed(BY_ITSELF), 15, "cards read after reconnecting")
        check(main.panels()[0] == "Connected", "panels %r" % main.panels())
        check(main.text("btnReadCardID") == "Stop Reading", "reading did not resume")
        lines = [line for _, line in watcher.lines()]
        check(sum(line.endswith(": Reconnecting...") for line in lines) == 1, "status lines %r" % lines)
        # The box of the drop closed by itself, and no other came.
        check(ui.message_box(1000) is None, "a message box after the reconnect")
        check(sink.text() == typed(BY_ITSELF), "typed %r" % sink.text())

    with s.step("Exit from the tray menu"):
        s.exit_from_tray()
