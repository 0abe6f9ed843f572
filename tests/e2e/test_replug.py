#!/usr/bin/env python3
"""The most common fault of a serial reader: its USB adapter pulled out and plugged back into the same
port while Cardwick reads from the notification area. One "Device unplugged!" box; nothing comes back
by itself while "Reconnect automatically" is not set; "&Connect" and "Start Reading" bring the reader
back with no restart, and every card is typed exactly once, before the pull and after it. With
"Reconnect automatically" set, the reader comes back by itself, with no click at all, and the box of
the drop closes by itself."""

import time

from cardwick_e2e import (DEVICE_UNPLUGGED, Cardwick, Environment, KeySink, ReaderSim, Run, StatusWatcher,
                          UiDriver, check, find_main_window, standard_settings, wait_until)

env = Environment()

BEFORE = ["0004211311", "0013377642", "0000004711"]
AFTER = ["0000000815", "0000000816", "0000000817"]
# Empty polls first: three seconds to hand the focus back to the sink before the first card.
AFTER_SCRIPT = [""] * 6 + AFTER
BY_ITSELF = ["0000000901", "0000000902"]


def typed(cards):
    return "".join(card + "\r" for card in cards)


with Run("a reader pulled out and plugged back in") as run:
    general, ports = standard_settings(show=False, suffix=True)
    env.write_settings(general, ports)
    sims = []

    def plug(*args):
        sim = ReaderSim(env, *args)
        run.on_exit(sim.stop)
        sims.append(sim)
        return sim

    plug("--cards", ",".join(BEFORE))
    ui = UiDriver(env)
    run.on_exit(ui.close)
    sink = KeySink(env)
    run.on_exit(sink.close)
    sink.focus(ui)
    cardwick = Cardwick(env, ui)
    run.on_exit(cardwick.kill)
    state = {}

    def reading_from_the_tray():
        wait_until(lambda: sink.text() == typed(BEFORE), 20, "the first reader's cards")

    def pulled_while_reading():
        # Right after a card: the next poll is still about 300 ms away, so no reply is in flight.
        sims[0].stop()
        box = ui.expect_message_box("Error", "error", DEVICE_UNPLUGGED, timeout_ms=3000)
        ui.dismiss(box)
        check(ui.message_box(1500) is None, "a second message box")
        # The box brought the window out of the notification area; it is active once the box is gone.
        main = find_main_window(ui)
        state["main"] = main
        check(main.panels()[0] == "Disconnected", "panels %r" % main.panels())
        check(sink.text() == typed(BEFORE), "typed %r" % sink.text())

    def nothing_comes_back_by_itself():
        # The same port, a new reader: without the setting, nobody knocks for longer than a retry.
        sim = plug("--cards", ",".join(AFTER_SCRIPT))
        time.sleep(7)
        check(sim.commands() == [], "commands to the new reader: %r" % sim.commands())
        check(state["main"].panels()[0] == "Disconnected", "panels %r" % state["main"].panels())
        check(ui.message_box(0) is None, "a message box")

    def connect_and_read_again():
        main = state["main"]
        main.click("btnConnect")
        wait_until(lambda: main.fields()[:3] == ("30571846", "2.31", "01"), 10, "the new reader's identity")
        main.click("btnReadCardID")
        wait_until(lambda: main.text("btnReadCardID") == "Stop Reading", 5, "reading to start")
        main.click("btnHide")
        sink.focus(ui)
        sink.clear()
        wait_until(lambda: sink.text() == typed(AFTER), 15, "the new reader's cards")
        # The script is used up: the polls go on, answered without a card, and nothing more is typed.
        polls = len(sims[1].commands())
        wait_until(lambda: len(sims[1].commands()) >= polls + 2, 5, "polls after the last card")
        check(sink.text() == typed(AFTER), "typed %r" % sink.text())

    def back_by_itself():
        main = state["main"]
        general["Reconnect automatically"] = "1"
        env.write_settings(general, ports)
        watcher = StatusWatcher(env, main.hwnd_of("sbStatus"))
        run.on_exit(watcher.stop)
        # Pulled while reading, then a reader back on the same port before the first try, 5 s on.
        sims[1].stop()
        ui.expect_message_box("Error", "error", DEVICE_UNPLUGGED, timeout_ms=3000)
        pulled = time.monotonic()
        sim = plug("--cards", ",".join([""] * 2 + BY_ITSELF))
        # The user is busy in another window and leaves the box alone.
        sink.focus(ui)
        sink.clear()
        wait_until(lambda: len(sim.commands()) >= 2, 12, "a try to reconnect")
        tried = time.monotonic() - pulled
        check(4.0 <= tried <= 7.5, "the first try came %.1f s after the pull" % tried)
        check([c for _, c in sim.commands()[:2]] == ["B", "V"], "commands %r" % sim.commands())
        wait_until(lambda: sink.text() == typed(BY_ITSELF), 15, "cards read after reconnecting")
        check(main.panels()[0] == "Connected", "panels %r" % main.panels())
        check(main.text("btnReadCardID") == "Stop Reading", "reading did not resume")
        lines = [line for _, line in watcher.lines()]
        check(sum(line.endswith(": Reconnecting...") for line in lines) == 1,
              "status lines %r" % lines)
        # The box of the drop closed by itself, and no other came.
        check(ui.message_box(1000) is None, "a message box after the reconnect")
        check(sink.text() == typed(BY_ITSELF), "typed %r" % sink.text())

    def exit_from_the_tray():
        ui.call("traymenu 0 X")
        check(cardwick.wait_exit(15), "Cardwick did not end")

    run.step("reading from the notification area: the first reader's cards typed", reading_from_the_tray)
    run.step("the line pulled: one 'Device unplugged!' box, Disconnected, nothing typed twice",
             pulled_while_reading)
    run.step("the reader back on the same port: nothing reconnects by itself", nothing_comes_back_by_itself)
    run.step("Connect and Start Reading: the new reader's cards typed exactly once", connect_and_read_again)
    run.step("with 'Reconnect automatically': back by itself within a try, reading resumed, the box closed",
             back_by_itself)
    run.step("Exit from the tray menu", exit_from_the_tray)
