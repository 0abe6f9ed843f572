#!/usr/bin/env python3
"""The settings dialog and the About box in one Cardwick launch: the About box from the tray menu
while the window is hidden, its link opened through the shell and shown visited; then the settings
dialog's defaults, port list, tab order and keys, OK and the start-up registration, Test and
Auto-Detect against reader-sims on the prefix's COM ports, with the cancel and the nested scan."""

import configparser
import os

from cardwick_e2e import (INVALID_PORT_SETTINGS, SERIAL_MAP, Form, Session, check,
                          now_ms, one_colour, pixel_counts, reg, reg_values, screenshot, set_serial_map, wait_until)

CONFIGURE_FIRST = "Please configure the Port Settings first before testing!"
TEST_FAILED = "Test failed!\nPlease try Auto-Detect."
NOT_DETECTED = ("Device not detected!\nPlease configure the Port Settings manually.\n\n"
                "Default settings are:\nBaud rate: 19200\nParity: Even")
LINK = "https://cardwick.example.org"
RUN_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
HTTPS_COMMAND = "HKCR\\https\\shell\\open\\command"
OPENED_KEY = "HKCU\\Software\\CardwickE2E"
WS_SYSMENU = 0x00080000
BAUDS = ["4800", "9600", "19200", "38400", "57600", "115200"]
# The silent reader's own rate: reader-sim notes every command that comes at another line speed,
# so its log tells at which attempts of a scan the port was at this one.
SILENT_BAUD = "9600"
LINK_COLOURS = {"red": lambda r, g, b: r > 220 and g < 40 and b < 40,
                "purple": lambda r, g, b: 100 < r < 160 and g < 40 and 100 < b < 160}


class Dialog(Form):
    """The settings dialog; places in the client area, or in the group box for its controls."""

    PLACES = {"cxLoadOnStartup": (8, 8), "cxShowOnStartup": (8, 32), "cxReturn": (8, 56),
              "gbPortSettings": (8, 80), "cbPort": (72, 24), "cbBaudRate": (72, 48), "cbParity": (72, 72),
              "Image1": (192, 26), "Image2": (192, 50), "Image3": (192, 74), "btnTest": (31, 104),
              "btnAutoDetect": (111, 104), "anDetect": (192, 108), "btnOK": (47, 320),
              "btnCancel": (127, 320)}

    def checked(self, name):
        return self.ui.call("checked " + self.hwnd_of(name))[0] == "1"

    def combo(self, name):
        """(selected index, entries)."""
        rows = self.ui.call("combo " + self.hwnd_of(name))
        return int(rows[0]), rows[1:]

    def selection(self):
        """The selected texts of port, baud rate and parity; None for no selection."""
        result = []
        for name in ("cbPort", "cbBaudRate", "cbParity"):
            index, entries = self.combo(name)
            result.append(entries[index] if index >= 0 else None)
        return tuple(result)

    def choose(self, port, baud, parity):
        for name, text in (("cbPort", port), ("cbBaudRate", baud), ("cbParity", parity)):
            self.ui.call("select %s %s" % (self.hwnd_of(name), text))

    def marks_shown(self):
        states = self.states()
        return [states[n]["visible"] for n in ("Image1", "Image2", "Image3")]

    def idle(self):
        return self.text("btnAutoDetect") == "&Auto-Detect" and self.control("btnOK")["enabled"]

    def wait_idle(self, timeout_s):
        wait_until(self.idle, timeout_s, "the dialog to return to idle", 0.1)

    def close(self, button="btnCancel"):
        self.click(button)
        wait_until(lambda: not self.visible(), 5, "the dialog to close")

    def focused(self):
        return self.names.get(self.ui.values(self.ui.call("focus"))["focus"], "?")

    def tab_to(self, expected=None):
        """Tab once and wait for the focus to move (keys are taken in the order they were typed,
        so once it has moved, every key before the Tab has been taken too); the control it moved
        to, or the dialog's end: None once the dialog is hidden."""
        before = self.focused()
        self.ui.call("keys TAB")
        wait_until(lambda: not self.visible() or self.focused() != before, 5, "the focus to leave " + before)
        return self.focused() if self.visible() else None


def ini_sections(env):
    """The settings file as [(section, [(key, value)])] in file order."""
    ini = configparser.ConfigParser(interpolation=None)
    ini.optionxform = str
    ini.read(env.ini, encoding="latin-1")
    return [(section, list(ini[section].items())) for section in ini.sections()]


with Session("settings dialog and About box", sim=None, cardwick=False) as s:
    ui, env = s.ui, s.env
    screenshots = os.environ.get("CARDWICK_SCREENSHOTS", env.work)
    # The start-up value lives under HKLM\Software, which a 32-bit program sees in the 32-bit view.
    run_values = lambda: reg_values(RUN_KEY, env.registry_view) or {}  # noqa: E731
    saved_map = reg_values(SERIAL_MAP)
    s.on_exit(lambda: set_serial_map(env, saved_map))
    saved_https = reg_values(HTTPS_COMMAND)
    s.on_exit(lambda: reg("add", HTTPS_COMMAND, "/ve", "/d", saved_https[next(iter(saved_https))], "/f"))
    s.on_exit(lambda: reg("delete", OPENED_KEY, "/f", check_result=False))
    # wineboot starts whatever is registered to run at start-up: never leave Cardwick there.
    s.on_exit(lambda: reg("delete", RUN_KEY, "/v", "Orvela Cardwick", "/f", view=env.registry_view,
                          check_result=False))
    sims = {"COM5": s.plug("--silent", "--baud", SILENT_BAUD, port="COM5"), "COM6": s.plug(port="COM6"),
            "COM7": s.plug(port="COM7")}
    # COM4 is listed with no serial line behind it: it opens and refuses every line setting, as a
    # port whose adapter is gone. Not a link to nothing: Wine opens such a port through its device
    # manager, whose answer comes as a signal to the busy thread, and under the emulated 32-bit
    # half a signal gives that thread the thread block of the last thread started (the busy
    # animation's), after which both wait on one pipe and the program hangs.
    os.symlink("/dev/null", os.path.join(env.ports_dir, "com4"))
    s.on_exit(lambda: os.remove(os.path.join(env.ports_dir, "com4")))
    # Started where Windows starts it at logon: the start-up value must not follow the current
    # directory.
    s.start_cardwick(cwd=env.system32)

    def main_window_shown():
        """The application window carries the same caption and is shown with any form; the main
        window, owned by it, lies above it in Z order, so it is the first visible one if shown."""
        rows = ui.call("wait 0 Orvela Cardwick", allow_error=True)
        return rows is not None and ui.values(rows)["class"] == "TfrmCardReader"

    def link_colour():
        rect = ui.window(link)["rect"].split("\t")
        return one_colour(pixel_counts(env.work, rect, LINK_COLOURS), 20)

    def open_dialog():
        main.click("btnProperties")
        info = ui.values(ui.call("wait 5000 Properties"))
        return Dialog(ui, info["hwnd"]), info

    def reopen_with_ports(ports):
        """The serial port map set to these COM ports, and the dialog opened afresh to list them."""
        set_serial_map(env, {"\\Device\\Serial%d" % (int(p[3:]) - 1): p for p in ports})
        dialog.close()
        return open_dialog()[0]

    def sent_since(before):
        return {p: len(sim.commands()) - before.get(p, 0) for p, sim in sims.items()}

    with s.step("About box from the tray while hidden: texts, red link, window stays hidden"):
        s.dismiss(ui.expect_message_box("Warning", "warning", INVALID_PORT_SETTINGS, timeout_ms=20000), 0)
        # A refusing handler first: the failed open must leave the link's colour alone.
        reg("add", HTTPS_COMMAND, "/ve", "/d", "C:\\windows\\system32\\no-such-program.exe \"%1\"", "/f")
        ui.call("traymenu 0 DOWN DOWN RETURN")
        about = ui.values(ui.call("wait 5000 About Orvela Cardwick"))
        check(about["class"] == "TfrmAbout", "class %r" % about["class"])
        check(not main_window_shown(), "the main window was shown with the About box")
        texts = {c["text"]: c for c in ui.controls(about["hwnd"])}
        # "Version" and the major and minor parts of the project's version number.
        version = "Version " + ".".join(os.environ["CARDWICK_VERSION"].split(".")[:2])
        for text in ("Orvela Cardwick", version, "Copyright (C) 2026 The Cardwick developers", LINK, "OK"):
            check(text in texts, "no %r in the About box: %r" % (text, sorted(texts)))
        link = texts[LINK]["hwnd"]
        screenshot(os.path.join(screenshots, "about.png"))
        check(link_colour() == "red", "the link is not red before any click")

    with s.step("the link: a failed open keeps red; a good one opens the caption, purple at the next showing"):
        # A label is not a button: its click is a press and release of the left button. OK is
        # clicked after it, so the box has handled the press once it has closed; a failed open that
        # marked the link visited shows purple at the next showing.
        ui.call("press " + link)
        ui.call("click " + texts["OK"]["hwnd"])
        wait_until(lambda: ui.window(about["hwnd"])["visible"] == "0", 5, "the About box to close")
        boxes = ui.settle(about["hwnd"])
        check(boxes == [], "a failed open showed a message: %r" % boxes)
        ui.call("traymenu 0 DOWN DOWN RETURN")
        ui.call("wait 5000 About Orvela Cardwick")
        wait_until(lambda: link_colour() == "red", 10, "the link red at the next showing after a failed open")
        reg("add", HTTPS_COMMAND, "/ve", "/d",
            "C:\\windows\\system32\\reg.exe add %s /v Opened /d \"%%1\" /f" % OPENED_KEY, "/f")
        ui.call("press " + link)
        # A hang guard, not a bound: the shell starts reg.exe, and an emulated 32-bit start on a
        # busy machine takes tens of seconds.
        wait_until(lambda: (reg_values(OPENED_KEY) or {}).get("Opened"), 90, "the shell to open the link")
        check(reg_values(OPENED_KEY)["Opened"] == LINK, "opened %r" % reg_values(OPENED_KEY))
        wait_until(lambda: link_colour() == "purple", 5, "the link to turn purple")
        ui.call("click " + texts["OK"]["hwnd"])
        wait_until(lambda: ui.window(about["hwnd"])["visible"] == "0", 5, "the About box to close")
        check(not main_window_shown(), "the main window was shown after the About box")
        ui.call("traymenu 0 DOWN DOWN RETURN")
        ui.call("wait 5000 About Orvela Cardwick")
        # Waited for: the box may be found before it has painted. A link drawn red again stays red.
        wait_until(lambda: link_colour() == "purple", 10, "the link purple at the next showing")
        ui.call("keys RETURN")
        wait_until(lambda: ui.window(about["hwnd"])["visible"] == "0", 5, "Enter to close the About box")

    with s.step("dialog without settings: defaults, layout, port list once each, sorted as text"):
        main = s.show_main()
        # A duplicate of a listed port, under a name of its own: listed once.
        reg("add", SERIAL_MAP, "/v", "CardwickDuplicate", "/d", "COM6", "/f")
        dialog, info = open_dialog()
        check(info["client"] == "232\t347", "client size %r" % info["client"])
        check(info["rect"].split("\t")[:2] == ["436", "211"], "position %r" % info["rect"])
        check(int(info["style"], 16) & WS_SYSMENU == 0, "the dialog has a system menu")
        check([dialog.checked(n) for n in ("cxLoadOnStartup", "cxShowOnStartup", "cxReturn")] ==
              [True, False, True], "check boxes without a settings file")
        index, ports = dialog.combo("cbPort")
        listed = set(reg_values(SERIAL_MAP).values())
        check(ports == sorted(listed), "port list %r, map %r" % (ports, sorted(listed)))
        check(index == -1, "a port is selected")
        check(dialog.combo("cbBaudRate") == (-1, BAUDS), "baud rates %r" % (dialog.combo("cbBaudRate"),))
        check(dialog.combo("cbParity") == (-1, ["Even", "None"]), "parities %r" % (dialog.combo("cbParity"),))
        check(dialog.marks_shown() == [False] * 3, "check marks shown")
        screenshot(os.path.join(screenshots, "properties-idle.png"))

    with s.step("Test with nothing selected warns; tab order; Enter and Escape close nothing"):
        dialog.click("btnTest")
        ui.dismiss(ui.expect_message_box("Warning", "warning", CONFIGURE_FIRST))
        ui.call("activate " + dialog.hwnd)
        dialog.click("cxLoadOnStartup")
        dialog.click("cxLoadOnStartup")
        wait_until(lambda: dialog.focused() == "cxLoadOnStartup", 5, "the focus on the first check box")
        walk = [dialog.tab_to() for _ in range(10)]
        check(walk == ["cxShowOnStartup", "cbBaudRate", "cbParity", "cbPort", "btnAutoDetect", "btnTest",
                       "btnOK", "btnCancel", "cxReturn", "cxLoadOnStartup"], "tab order %r" % walk)
        # The Tab after them is taken after them: once it has moved the focus, they have been
        # handled. A box of theirs is made before the thread next looks for messages.
        ui.call("keys RETURN")
        ui.call("keys ESCAPE")
        check(dialog.tab_to() == "cxShowOnStartup", "Enter or Escape closed the dialog")
        boxes = ui.settle(dialog.hwnd)
        check(boxes == [], "a message box: %r" % boxes)

    with s.step("OK on a fresh machine writes six keys and registers the program's own file, quoted"):
        dialog.close("btnOK")
        check(ini_sections(env) == [
            ("General", [("Load on Windows startup", "1"), ("Show on startup", "0"),
                         ("Suffix Carriage Return", "1")]),
            ("Ports", [("Port", ""), ("Baud rate", ""), ("Parity", "")])], "settings file %r" % ini_sections(env))
        # A refused write shows its error in a box; say so rather than only that the value is missing.
        box = ui.message_box(0)
        check(box is None, "a message box after OK: %r" % box)
        command = run_values().get("Orvela Cardwick")
        expected = '"Z:%s"' % os.path.abspath(env.cardwick).replace("/", "\\")
        check(command == expected, "start-up value %r, expected %r" % (command, expected))
        check(main.panels()[0] == "Disconnected" and main.fields() == ("", "", "", ""),
              "main window %r %r" % (main.panels(), main.fields()))

    with s.step("unchecked Load and OK removes the start-up value, twice without complaint"):
        # The second time the box shows the stored "0", and the value is already gone.
        for attempt in range(2):
            dialog, _ = open_dialog()
            check(dialog.checked("cxLoadOnStartup") == (attempt == 0), "Load box at showing %d" % attempt)
            if attempt == 0:
                dialog.click("cxLoadOnStartup")
                wait_until(lambda: not dialog.checked("cxLoadOnStartup"), 5, "the box to clear")
            dialog.close("btnOK")
            boxes = ui.settle(main.hwnd)
            check(boxes == [], "a message box: %r" % boxes)
            check("Orvela Cardwick" not in run_values(), "the start-up value is still there")

    with s.step("stored values select their entries; lower case and odd baud rates do not"):
        general = dict(dict(ini_sections(env))["General"])

        def shown_with(port, baud, parity):
            env.write_settings(general, {"Port": port, "Baud rate": baud, "Parity": parity})
            dialog, _ = open_dialog()
            selection = dialog.selection()
            dialog.close()
            return selection

        check(shown_with("COM7", "9600", "None") == ("COM7", "9600", "None"), "stored values not selected")
        # Lower case is another name; 14400 is no entry, so the last selection stays.
        check(shown_with("com7", "14400", "Even") == (None, "9600", "Even"), "lower case port or odd baud rate")

    with s.step("Test at 19200 shows the check marks and the probe's reply in the main window, OK "
                "disconnects it; 4800 fails"):
        dialog, _ = open_dialog()
        dialog.choose("COM6", "19200", "Even")
        before = {p: len(sim.commands()) for p, sim in sims.items()}
        dialog.click("btnTest")
        wait_until(lambda: all(dialog.marks_shown()), 10, "the check marks")
        check(dialog.idle(), "not idle after the Test")
        check(main.fields()[0] == "30571846", "serial number %r" % main.fields()[0])
        check(main.panels()[1].endswith(": Get Factory Code OK"), "status line %r" % main.panels()[1])
        # One probe, answered at once: a Test that tried again, or another port, shows here.
        check(sent_since(before) == {"COM5": 0, "COM6": 1, "COM7": 0}, "commands per port %r" % sent_since(before))
        boxes = ui.settle(dialog.hwnd)
        check(boxes == [], "a message box after a good Test: %r" % boxes)
        # OK after a Test that reached the reader: the main window's link is disconnected. The
        # settings file goes back as it was, for the steps after.
        with open(env.ini, "rb") as f:
            stored = f.read()
        dialog.close("btnOK")
        check(main.panels()[0] == "Disconnected" and main.fields() == ("", "", "", ""),
              "main window after OK %r %r" % (main.panels(), main.fields()))
        with open(env.ini, "wb") as f:
            f.write(stored)
        dialog, _ = open_dialog()
        dialog.choose("COM6", "4800", "Even")
        dialog.click("btnTest")
        ui.dismiss(ui.expect_message_box("Warning", "warning", TEST_FAILED))
        check(dialog.marks_shown() == [False] * 3, "check marks after a failed Test")

    with s.step("no ports listed: Test warns, Auto-Detect ends at once"):
        dialog = reopen_with_ports([])
        check(dialog.combo("cbPort") == (-1, []), "ports %r" % (dialog.combo("cbPort"),))
        dialog.click("btnTest")
        ui.dismiss(ui.expect_message_box("Warning", "warning", CONFIGURE_FIRST))
        before = {p: len(sim.commands()) for p, sim in sims.items()}
        dialog.click("btnAutoDetect")
        s.dismiss(ui.expect_message_box("Warning", "warning", NOT_DETECTED))
        check(sent_since(before) == dict.fromkeys(sims, 0), "an empty scan sent %r" % sent_since(before))
        check(dialog.idle(), "not idle after an empty scan")

    with s.step("Auto-Detect over four ports stops at the answering one, in scan order, busy state, keys ignored"):
        # COM4 has no serial line, COM5 is silent, COM6 answers at 19200, COM7 too.
        dialog = reopen_with_ports(["COM4", "COM5", "COM6", "COM7"])
        check(dialog.combo("cbPort")[1] == ["COM4", "COM5", "COM6", "COM7"], "ports %r" % (dialog.combo("cbPort"),))
        before = {p: len(sim.commands()) for p, sim in sims.items()}
        started = now_ms()
        dialog.click("btnAutoDetect")
        wait_until(lambda: dialog.text("btnAutoDetect") == "&Cancel", 5, "the scan to start")
        states = dialog.states()
        busy = {n for n in ("cxLoadOnStartup", "cxShowOnStartup", "cbPort", "cbBaudRate", "cbParity", "btnTest",
                            "btnOK", "btnCancel", "cxReturn", "btnAutoDetect") if states[n]["enabled"]}
        check(states["btnAutoDetect"]["text"] == "&Cancel", "the scan ended before its state was read")
        check(busy == {"cxReturn", "btnAutoDetect"}, "enabled while busy: %r" % busy)
        screenshot(os.path.join(screenshots, "properties-busy.png"))
        # The clicked button has the focus, and Enter would press it: move to the carriage-return
        # box. The Tab after Enter and Escape, taken after them while still busy, says they have
        # been handled during the scan.
        check(dialog.tab_to() == "cxReturn", "Tab did not skip the disabled controls")
        ui.call("keys RETURN")
        ui.call("keys ESCAPE")
        check(dialog.tab_to() == "btnAutoDetect", "Enter or Escape closed the busy dialog")
        check(dialog.text("btnAutoDetect") == "&Cancel", "the scan ended before Enter and Escape were taken")
        dialog.wait_idle(30)
        check(dialog.visible(), "the busy dialog closed")
        boxes = ui.settle(dialog.hwnd)
        check(boxes == [], "a message box after a successful scan: %r" % boxes)
        check(dialog.selection() == ("COM6", "19200", "Even"), "selection %r" % (dialog.selection(),))
        check(all(dialog.marks_shown()), "no check marks")
        check(sent_since(before) == {"COM5": 12, "COM6": 5, "COM7": 0}, "commands per port %r" % sent_since(before))
        # The order of the attempts, from the readers' logs on their common clock: the ports in
        # turn, each baud rate in order with both parities, Even first. The silent reader notes
        # which of its twelve came at its own rate; the answering one answers its fifth (19200 Even:
        # a None first would select None).
        com5 = [(t, "silent" in note) for t, kind, note in sims["COM5"].entries()
                if kind == "NOTE" and t > started and ("silent" in note or "differs" in note)]
        com6 = [t for t, _ in sims["COM6"].commands()[-5:]]
        check(max(t for t, _ in com5) < min(com6), "COM6 was tried before COM5 was done")
        at_own_rate = [i for i, (_, own) in enumerate(com5) if own]
        expected = [2 * BAUDS.index(SILENT_BAUD), 2 * BAUDS.index(SILENT_BAUD) + 1]
        check(len(com5) == 12 and at_own_rate == expected, "COM5 at %s at attempts %r of %d, not %r"
              % (SILENT_BAUD, at_own_rate, len(com5), expected))

    with s.step("no answer: the not-detected warning and no selection; Cancel ends a scan silently"):
        dialog = reopen_with_ports(["COM4", "COM5"])
        dialog.click("btnAutoDetect")
        box = ui.expect_message_box("Warning", "warning", NOT_DETECTED, timeout_ms=30000)
        check(dialog.selection() == (None, None, None), "selection %r" % (dialog.selection(),))
        ui.dismiss(box)
        dialog.wait_idle(5)
        # Cancel: wait until the silent port is being tried, then click the button again.
        dialog.click("btnAutoDetect")
        wait_until(lambda: dialog.selection()[0] == "COM5", 20, "the scan to reach COM5")
        dialog.click("btnAutoDetect")
        dialog.wait_idle(5)
        boxes = ui.settle(dialog.hwnd)
        check(boxes == [], "a message box after Cancel: %r" % boxes)
        check(dialog.selection() == (None, None, None), "selection after Cancel %r" % (dialog.selection(),))

    with s.step("Auto-Detect clicked during a Test runs a scan inside it"):
        dialog = reopen_with_ports(["COM5", "COM6", "COM7"])
        # The Test holds COM7, which answers only at 19200 and sorts after the ports the scan
        # tries first, so the scan never needs to open the held port: Windows, which refuses a
        # second open, and Wine, which allows it, see the same commands.
        dialog.choose("COM7", "4800", "Even")
        before = {p: len(sim.commands()) for p, sim in sims.items()}
        # The second click lands inside the Test's wait on the silent port: a whole scan runs there.
        # Both are posted at once, so it is queued before the Test begins, however busy the machine.
        ui.call("click %s %s" % (dialog.hwnd_of("btnTest"), dialog.hwnd_of("btnAutoDetect")))
        dialog.wait_idle(30)
        boxes = ui.settle(dialog.hwnd)
        check(boxes == [], "a message box: the Test's own attempt found the scan's reply: %r" % boxes)
        sent = sent_since(before)
        # The scan's first attempt goes out on the Test's still open port; the other eleven
        # combinations on COM5, then COM6 answers at its fifth.
        check(sent["COM5"] == 11 and sent["COM6"] == 5, "commands per port %r" % sent)
        check(dialog.selection() == ("COM6", "19200", "Even"), "selection %r" % (dialog.selection(),))
        check(all(dialog.marks_shown()), "no check marks")

    with s.step("Cancel writes nothing; the main window stays disconnected"):
        stored = ini_sections(env)
        counts = {p: len(sim.commands()) for p, sim in sims.items()}
        dialog.close()
        # What the program sends on its way back to its loop is sent once it has answered.
        check(ui.settle(main.hwnd) == [], "a message box after Cancel")
        check({p: len(sim.commands()) for p, sim in sims.items()} == counts, "commands after the dialog closed")
        check(ini_sections(env) == stored, "Cancel wrote the settings")
        check(main.panels()[0] == "Disconnected" and main.fields() == ("", "", "", ""),
              "main window %r %r" % (main.panels(), main.fields()))
        check(main.control("btnConnect")["enabled"], "Connect is not enabled")
