#!/usr/bin/env python3
"""Polls that stack behind a late reply: a reader that answers every command 350 ms late and one
poll 1.5 s late. The poll ticks that fall due meanwhile wait inside one another, and each goes out
once the reply before it has come. Every reply comes well within the 2 s time-out of its own
command, so every card is typed once, in order, no box appears and the link stays up."""

from cardwick_e2e import Session, check, standard_settings, typed, wait_until

CARDS = ["00%08d" % n for n in range(4211301, 4211311)]
DELAY_MS, LATE_MS = 350, 1500
# Replies are numbered from 1: B, V, then one F a poll. The fourth poll's reply is the late one.
LATE_REPLY = 6

with Session("polls stacked behind a late reply", settings=standard_settings(show=False, suffix=True),
             sim=("--cards", ",".join(CARDS), "--delay", str(DELAY_MS), "--late", str(LATE_MS - DELAY_MS),
                  "--fault-at", str(LATE_REPLY)), sink=True) as s:
    ui, sink, sim = s.ui, s.sink, s.sim

    with s.step("every card typed once, in order, with no box; still reading"):
        # A false time-out drops the link after the late reply, and the cards after it never come.
        wait_until(lambda: len(sink.text()) >= len(typed(CARDS)) or ui.message_box(0) is not None, 90,
                   "every card or a box", 0.3)
        check(ui.message_box(0) is None, "a message box: %r" % ui.message_box(0))
        check(sink.text() == typed(CARDS), "typed %r" % sink.text())
        main = s.show_main()
        check(main.panels()[0] == "Connected", "panels %r" % main.panels())
        check(main.text("btnReadCardID") == "Stop Reading", "read button %r" % main.text("btnReadCardID"))

    with s.step("on reader-sim's clock: one reply 1.5 s after its command, the others 350 ms, none near 2 s"):
        commands = [t for t, kind, _ in sim.entries() if kind == "RX"]
        replies = [t for t, kind, _ in sim.entries() if kind == "TX"]
        # One command at a time: the n-th reply answers the n-th command.
        waits = [reply - command for command, reply in zip(commands, replies)]
        check(len(waits) >= len(CARDS) + 2, "%d replies" % len(waits))
        late = waits[LATE_REPLY - 1]
        # The late reply holds the polls up for three of their ticks; under load reader-sim's own
        # schedule may slip later, never much earlier.
        check(LATE_MS - 50 <= late < 1900, "the late reply came %.0f ms after its command" % late)
        others = waits[:LATE_REPLY - 1] + waits[LATE_REPLY:]
        check(all(DELAY_MS <= w < 1000 for w in others), "reply times %r" % [round(w) for w in waits])

    with s.step("Exit from the tray menu"):
        main.click("btnHide")
        wait_until(lambda: not main.visible(), 5, "the window to hide")
        s.exit_from_tray()
