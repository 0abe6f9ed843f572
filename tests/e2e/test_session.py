#!/usr/bin/env python3
"""One Cardwick per user session, and the end of a session: a second start brings the running copy's
window forward and ends with 0, opening no port and adding no icon; WM_QUERYENDSESSION is agreed to,
and WM_ENDSESSION with ENDSESSION_CLOSEAPP (what an installer's close sends), coming while a reply
is awaited, ends the program with no box, no icon left and no command after it."""

from cardwick_e2e import Cardwick, Session, check, find_main_window, standard_settings, wait_until

WM_QUERYENDSESSION = 0x11
WM_ENDSESSION = 0x16
ENDSESSION_CLOSEAPP = 0x1

# No cards: nothing is typed into whatever has the focus.
with Session("one copy per session; the session's end", settings=standard_settings()) as s:
    ui, first = s.ui, s.cardwick

    def letters(sim):
        return [letter for _, letter in sim.commands()]

    with s.step("a second start shows the running copy's window and ends with 0, no second port or icon"):
        wait_until(lambda: letters(s.sim).count("F") >= 2, 30, "the first copy to read")
        check(not ui.visible_main_caption(), "the main window is shown at start-up")
        second = Cardwick(s.env)
        s.on_exit(second.kill)
        check(second.wait_exit(30), "the second copy did not end")
        check(second.process.returncode == 0, "the second copy ended with %r" % second.process.returncode)
        # Counted once the second copy has ended: all it ever sent has been sent.
        check(letters(s.sim).count("B") == 1, "the port was opened again: %r" % letters(s.sim))
        main = s.main = find_main_window(ui, 10)
        check(first.running(), "the first copy ended")
        check(len(ui.tray_icons()) == 1, "tray icons %r" % ui.tray_icons())

    with s.step("WM_QUERYENDSESSION agreed; WM_ENDSESSION during a wait ends it with no box, no icon left "
                "and no command after it"):
        # A reader that answers B, V and a poll, then keeps silent: from its fourth command on the
        # program waits for a reply, and sends nothing until that wait ends. The session ends in it.
        main.click("btnReadCardID")
        wait_until(lambda: main.text("btnReadCardID") == "Read Card ID", 5, "reading to stop")
        main.click("btnDisconnect")
        wait_until(lambda: main.control("btnConnect")["enabled"], 5, "the link to close")
        sim = s.plug("--silent-after", "3")
        s.start_reading(hide=False)
        sim.wait_for_commands(4, 10)
        answer = ui.call("send %s %d 0 %d" % (main.hwnd, WM_QUERYENDSESSION, ENDSESSION_CLOSEAPP))
        check(answer == ["1"], "WM_QUERYENDSESSION answered %r" % answer)
        check(first.running(), "the question alone ended the program")
        ui.call("send %s %d 1 %d" % (main.hwnd, WM_ENDSESSION, ENDSESSION_CLOSEAPP), allow_error=True)
        # Boxes are looked for while it ends, not once it has gone. An end that came only after the
        # wait had timed out fails here too, on the time-out's box.
        check(s.watch_end(first, 15, "WM_ENDSESSION"), "the program did not end")
        check(first.process.returncode == 0, "exit code %r" % first.process.returncode)
        check(ui.tray_icons() == [], "icons left in the notification area: %r" % ui.tray_icons())
        check(len(sim.commands()) == 4, "commands after the unanswered one: %r" % sim.commands()[4:])
