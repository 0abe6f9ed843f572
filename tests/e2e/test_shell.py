#!/usr/bin/env python3
"""The shell around the reader link in one Cardwick launch: the tray menu during the start-up
warning, "Show on startup", the window's tab order and default button, minimised and restored,
"Close window" on the taskbar button, the main window while a modal box is open, and Exit leaving
no icon behind."""

from cardwick_e2e import (INVALID_PORT_SETTINGS, MAIN_CAPTION, Session, check, find_main_window,
                          standard_settings, wait_until)

ABOUT_CAPTION = "About Orvela Cardwick"
WS_MINIMIZE = 0x20000000
WM_SYSCOMMAND = 0x112
SC_MINIMIZE = 0xF020
BS_DEFPUSHBUTTON = 0x1

# Shown at start-up, but no port settings: the start-up warning comes while the window is being
# created, before the About box and the settings dialog exist.
with Session("the shell: start-up, showing, closing, modality, exit",
             settings=(standard_settings(show=True)[0], None), sim=None) as s:
    ui = s.ui

    def minimised(hwnd):
        return int(ui.window(hwnd)["style"], 16) & WS_MINIMIZE != 0

    def focus():
        return ui.values(ui.call("focus"))["focus"]

    with s.step("tray About during the start-up warning does nothing; the program goes on"):
        box = ui.expect_message_box("Warning", "warning", INVALID_PORT_SETTINGS, timeout_ms=20000)
        # "About" needs the About box, which does not exist yet: nothing opens, nothing breaks. The
        # menu's command is posted before the box's OK is clicked, so it has been handled once the
        # box has closed; an About box it opened would be the box's "second box".
        ui.call("traymenu 0 DOWN DOWN RETURN")
        s.dismiss(box)
        check(ui.call("wait 0 " + ABOUT_CAPTION, allow_error=True) is None, "an About box opened")
        check(s.cardwick.running(), "Cardwick ended after the warning")

    with s.step("'Show on startup' 1 shows the window; tab order and default button"):
        main = find_main_window(ui)
        check(main.visible(), "the main window is hidden")
        check(len(ui.tray_icons()) == 1, "not exactly one tray icon")
        style = int(ui.window(main.hwnd_of("btnConnect"))["style"], 16)
        check(style & 0xF == BS_DEFPUSHBUTTON, "Connect is not the default button (style %#x)" % style)
        check(focus() == main.hwnd_of("btnConnect"), "Connect has no focus")
        # The disabled Start Reading and Disconnect and the read-only fields are passed over. Each
        # Tab is waited for by the focus leaving where it was.
        order = []
        for _ in range(5):
            before = order[-1] if order else focus()
            ui.call("keys TAB")
            order.append(wait_until(lambda: (lambda now: now != before and now)(focus()), 5,
                                    "the focus to leave " + before))
        expected = [main.hwnd_of(n) for n in ("btnProperties", "btnHide", "btnExit", "btnAbout", "btnConnect")]
        check(order == expected, "tab order %r, expected %r" % (order, expected))

    with s.step("a minimised window is restored by tray Show and by a double click"):
        for how, command in (("tray menu Show", "traymenu 0 DOWN RETURN"), ("double click", "traydblclick 0")):
            ui.call("send %s %d %d 0" % (main.hwnd, WM_SYSCOMMAND, SC_MINIMIZE))
            wait_until(lambda: minimised(main.hwnd), 5, "the window to minimise")
            ui.call(command)
            wait_until(lambda: not minimised(main.hwnd), 5, "%s to restore the window" % how)
            check(main.visible(), "hidden after " + how)

    with s.step("'Close window' on the taskbar button hides the window; showing sets the caption"):
        # Changed behind the program's back, so that the caption seen afterwards is the one the
        # next showing sets.
        ui.call("settext %s Something else" % main.hwnd)
        application = ui.window(main.hwnd)["owner"]
        check(ui.window(application)["text"] == MAIN_CAPTION, "the owner is not the application window")
        ui.call("close " + application)
        wait_until(lambda: not main.visible(), 5, "the main window to hide")
        # A program that ended on the close would not answer the double click that follows it.
        ui.call("traydblclick 0")
        wait_until(lambda: not s.cardwick.running() or main.visible(), 5, "the window to come back")
        check(s.cardwick.running(), "Cardwick ended on the close")
        check(ui.window(main.hwnd)["class"] == "TfrmCardReader", "the main window is gone")
        check(ui.window(main.hwnd)["text"] == MAIN_CAPTION, "caption %r" % ui.window(main.hwnd)["text"])

    with s.step("shown while the About box is open, the main window takes no input until it closes"):
        main.click("btnHide")
        wait_until(lambda: not main.visible(), 5, "the window to hide")
        ui.call("traymenu 0 DOWN DOWN RETURN")
        about = ui.values(ui.call("wait 5000 " + ABOUT_CAPTION))["hwnd"]
        ui.call("traymenu 0 DOWN RETURN")
        wait_until(main.visible, 5, "Show to show the window")
        check(ui.window(main.hwnd)["enabled"] == "0", "the main window takes input while the About box is open")
        ok = [c for c in ui.controls(about) if c["text"] == "OK"]
        check(len(ok) == 1, "no OK button in the About box")
        ui.call("click " + ok[0]["hwnd"])
        wait_until(lambda: ui.window(about)["visible"] == "0", 5, "the About box to close")
        wait_until(lambda: ui.window(main.hwnd)["enabled"] == "1", 5, "the main window to take input again")

    with s.step("Exit ends the program cleanly and leaves no tray icon"):
        s.exit_from_tray()
