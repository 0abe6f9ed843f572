#!/usr/bin/env python3
"""An unattended desk with "Reconnect automatically", set while Cardwick runs: it reads from the
notification area while the user types in another window, and the reader's line is pulled. When a
reader is back on the port, the drop's box closes by itself, the foreground goes back to the user's
window, and only then are cards typed: into that window, each exactly once. The first try comes 5 s
after the drop; a reply that comes 1.5 s late after the reconnect is read, not taken for a
time-out."""

from cardwick_e2e import DEVICE_UNPLUGGED, IDENTITY, Failure, Session, check, now_ms, standard_settings, typed, wait_until

BEFORE = ["0004211311", "0013377642"]
# Cards from the very first poll: a card typed before the foreground is back would land elsewhere.
AFTER = ["0000000815", "0000000816", "0000000817", "0000000818"]
LATE_MS = 1500
# Replies are numbered B 1, V 2, then the polls: the second poll's reply, the second card, is late.
LATE_REPLY = 4


with Session("reconnecting by itself at an unattended desk", settings=standard_settings(show=False, suffix=True),
             sim=("--cards", ",".join(BEFORE)), sink=True) as s:
    ui, sink = s.ui, s.sink

    with s.step("reading from the notification area into the focused sink"):
        wait_until(lambda: sink.text() == typed(BEFORE), 20, "the first reader's cards")
        check(not ui.visible_main_caption(), "the main window is shown")

    with s.step("the line pulled: the 'Device unplugged!' box takes the foreground"):
        # Read at the drop, not at start-up.
        s.general["Reconnect automatically"] = "1"
        s.write_settings()
        main = s.locate_main()
        pulled = s.sim
        pulled.stop()
        # The new reader is on the port at once, before anything is read here: the first try, 5 s
        # after the drop, finds it however long the box and its checks take.
        sim = s.plug("--cards", ",".join(AFTER), "--late", str(LATE_MS), "--fault-at", str(LATE_REPLY))
        box = ui.expect_message_box("Error", "error", DEVICE_UNPLUGGED, timeout_ms=3000)
        # Sampled from now on: a watcher's reads while the line is pulled keep the emulated 32-bit
        # program busy just when Wine interrupts it with the line's end, which hangs it there (see
        # the README). That it began before the first try is checked below, on reader-sim's clock.
        watcher = s.watch_status()
        # The box has the foreground; the main window it brought out of the notification area owns it.
        check(ui.window(box["hwnd"])["owner"] == main.hwnd, "the box is not the main window's")
        check(ui.active_window() == box["hwnd"], "the box has not the foreground: %r" % ui.active_window())
        sink.clear()

    with s.step("a reader back on the port: the box closes by itself, the sink has the foreground again, "
                "the new cards are typed into it exactly once"):
        wait_until(lambda: [c for _, c in sim.commands()[:2]] == ["B", "V"], 12, "a try to reconnect")
        # On reader-sim's clock, from the pull to the try: the link drops at most a poll after the
        # pull and tries 5 s after the drop. Earlier is a shorter interval; a second interval
        # (10 s) ends after 10000.
        tried = sim.commands()[0][0] - pulled.entries()[-1][0]
        check(4900 <= tried < 9000, "the first try came %.0f ms after the pull" % tried)
        # Nobody touches anything: the box goes, the sink gets the foreground back.
        wait_until(lambda: ui.message_box(0) is None, 5, "the box to close by itself")
        wait_until(lambda: ui.active_window() == sink.hwnd, 5, "the foreground back at the sink")
        wait_until(lambda: sink.text() == typed(AFTER), 20, "the new reader's cards in the sink")
        # The script is used up: the polls go on, answered without a card, and nothing more is typed.
        polls = len(sim.commands())
        try:
            wait_until(lambda: len(sim.commands()) >= polls + 3, 5, "polls after the last card")
        except Failure as e:
            # A gap in polling, or a program that no longer answers: the one a round trip tells.
            answers = ui.call("settle " + main.hwnd, timeout_s=15, allow_error=True) is not None
            raise Failure("%s (the last commands %s ms ago; the program %s)" % (
                e, [round(now_ms() - t) for t, _ in sim.commands()[-4:]],
                "answers" if answers else "does not answer"))
        check(sink.text() == typed(AFTER), "typed %r" % sink.text())
        check(ui.active_window() == sink.hwnd, "the sink lost the foreground")
        check(main.panels()[0] == "Connected", "panels %r" % main.panels())
        check(main.text("btnReadCardID") == "Stop Reading", "reading did not resume")

    with s.step("one ': Reconnecting...' line, no second box, a reply 1.5 s late read"):
        # The late reply, from reader-sim's own log: its command, and the reply that followed.
        entries = sim.entries()
        command_at = [t for t, kind, data in entries if kind == "RX" and len(data) > 4][LATE_REPLY - 1]
        reply_at = min(t for t, kind, _ in entries if kind == "TX" and t > command_at)
        check(reply_at - command_at >= LATE_MS, "the late reply came %.0f ms after its command"
              % (reply_at - command_at))
        lines = watcher.lines()
        texts = [line for _, line in lines]
        # The watcher's first sample is stamped after it was read: before the try, it saw the line
        # the try writes, if any.
        check(watcher.history[0][0] < sim.commands()[0][0], "the watcher began %.0f ms after the first try"
              % (watcher.history[0][0] - sim.commands()[0][0]))
        check(sum(line.endswith(": Reconnecting...") for line in texts) == 1, "status lines %r" % texts)
        check(not any(line.endswith("timeout!") for t, line in lines if t > command_at),
              "a time-out after the late reply's command: %r" % texts)
        boxes = ui.settle(main.hwnd)
        check(boxes == [], "a second message box: %r" % boxes)
        check(main.fields()[:3] == IDENTITY, "fields %r" % (main.fields(),))

    with s.step("Exit from the tray menu"):
        s.exit_from_tray()
