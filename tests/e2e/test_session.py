#!/usr/bin/env python3
"""One Cardwick per user session, and the end of a session: a second start brings the running copy's
window forward and ends with 0, opening no port and adding no icon; WM_QUERYENDSESSION is agreed to,
and WM_ENDSESSION with ENDSESSION_CLOSEAPP (what an installer's close sends) ends the program with no
box, no icon left and no command after it."""

import time

from cardwick_e2e import Cardwick, Session, check, find_main_window, standard_settings, wait_until

WM_QUERYENDSESSION = 0x11
WM_ENDSESSION = 0x16
ENDSESSION_CLOSEAPP = 0x1

# No cards: nothing is typed into whatever has the focus.
with Session("one copy per session; the session's end", settings=standard_settings()) as s:
    ui, sim, first = s.ui, s.sim, s.cardwick

    def letters():
        return [letter for _, letter in sim.commands()]

    with s.step("a second start shows the running copy's window and ends with 0, no second port or icon"):
        wait_until(lambda: letters().count("F") >= 2, 30, "the first copy to read")
        check(not ui.visible_main_caption(), "the main window is shown at start-up")
        second = Cardwick(s.env)
        s.on_exit(second.kill)
        check(second.wait_exit(30), "the second copy did not end")
        check(second.process.returncode == 0, "the second copy ended with %r" % second.process.returncode)
        main = find_main_window(ui, 10)
        check(first.running(), "the first copy ended")
        check(len(ui.tray_icons()) == 1, "tray icons %r" % ui.tray_icons())
        time.sleep(1)
        check(letters().count("B") == 1, "the port was opened again: %r" % letters())

    with s.step("WM_QUERYENDSESSION agreed; WM_ENDSESSION ends it with no box and no icon left"):
        answer = ui.call("send %s %d 0 %d" % (main.hwnd, WM_QUERYENDSESSION, ENDSESSION_CLOSEAPP))
        check(answer == ["1"], "WM_QUERYENDSESSION answered %r" % answer)
        check(first.running(), "the question alone ended the program")
        ui.call("send %s %d 1 %d" % (main.hwnd, WM_ENDSESSION, ENDSESSION_CLOSEAPP), allow_error=True)
        check(first.wait_exit(15), "the program did not end")
        check(first.process.returncode == 0, "exit code %r" % first.process.returncode)
        check(ui.message_box(0) is None, "a message box is left")
        check(ui.tray_icons() == [], "icons left in the notification area: %r" % ui.tray_icons())
        count = len(sim.commands())
        time.sleep(1.5)
        check(len(sim.commands()) == count, "commands after the end")
