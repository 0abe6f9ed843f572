#!/usr/bin/env python3
"""The settings dialog and the About box in one Cardwick launch: the About box from the tray menu
while the window is hidden, its link opened through the shell and shown visited; then the settings
dialog's defaults, port list, tab order and keys, OK and the start-up registration, Test and
Auto-Detect against reader-sims on the prefix's COM ports, with the cancel and the nested scan."""

import os
import re
import subprocess
import time

from cardwick_e2e import (INVALID_PORT_SETTINGS, Cardwick, ChangeWatcher, Environment, Failure, ReaderSim, Run,
                          UiDriver, check, find_main_window, screenshot, wait_until)

CONFIGURE_FIRST = "Please configure the Port Settings first before testing!"
TEST_FAILED = "Test failed!\nPlease try Auto-Detect."
NOT_DETECTED = ("Device not detected!\nPlease configure the Port Settings manually.\n\n"
                "Default settings are:\nBaud rate: 19200\nParity: Even")
LINK = "https://cardwick.example.org"
SERIAL_MAP = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"
RUN_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
HTTPS_COMMAND = "HKCR\\https\\shell\\open\\command"
OPENED_KEY = "HKCU\\Software\\CardwickE2E"
WS_SYSMENU = 0x00080000

env = Environment()
screenshots = os.environ.get("CARDWICK_SCREENSHOTS", env.work)


def reg(*args, check_result=True):
    """reg.exe on the registry. The start-up value lives under HKLM\\Software, which a 32-bit
    program sees in the 32-bit view; the classes and the hardware map are shared by both views."""
    view = ["/reg:%d" % env.registry_view] if RUN_KEY in args else []
    result = subprocess.run(["wine", "reg"] + list(args) + view, capture_output=True, text=True,
                            errors="replace")
    if check_result and result.returncode != 0:
        raise Failure("reg %r: %s" % (args, result.stdout + result.stderr))
    return result


def reg_values(key):
    """{name: data} of a key's string values; None when the key does not exist."""
    result = reg("query", key, check_result=False)
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.splitlines():
        m = re.match(r"^    (.*?)    REG_SZ    (.*)$", line)
        if m:
            values[m.group(1)] = m.group(2)
    return values


def set_serial_map(values):
    """Replaces the serial port map with exactly these values, in one import, and checks it."""
    def quoted(text):
        return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')
    for _ in range(3):
        lines = ["REGEDIT4", "", "[%s]" % SERIAL_MAP.replace("HKLM", "HKEY_LOCAL_MACHINE")]
        lines += ["%s=-" % quoted(name) for name in reg_values(SERIAL_MAP) or {} if name not in values]
        lines += ["%s=%s" % (quoted(name), quoted(data)) for name, data in values.items()]
        path = os.path.join(env.work, "serialmap.reg")
        with open(path, "w", newline="\r\n") as f:
            f.write("\n".join(lines) + "\n")
        subprocess.run(["wine", "regedit", "/S", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if reg_values(SERIAL_MAP) == values:
            return
    raise Failure("the serial port map is %r, not %r" % (reg_values(SERIAL_MAP), values))


def main_window_shown(ui):
    """Whether the main window is visible. The application window carries the same caption and is
    shown with any form; the main window, owned by it, always lies above it in Z order, so it is
    the first visible window of that caption when it is shown at all."""
    rows = ui.call("wait 0 Orvela Cardwick", allow_error=True)
    return rows is not None and ui.values(rows)["class"] == "TfrmCardReader"


def ini_sections():
    """The settings file as [(section, [(key, value)])] in file order."""
    sections = []
    with open(env.ini, encoding="latin-1") as f:
        for line in f.read().splitlines():
            if line.startswith("["):
                sections.append((line.strip("[]"), []))
            elif "=" in line:
                key, _, value = line.partition("=")
                sections[-1][1].append((key, value))
    return sections


class Dialog:
    """The settings dialog as the UI driver sees it, its controls found by their designed place
    (left, top in the client area or in the group box)."""

    PLACES = {"cxLoadOnStartup": (8, 8), "cxShowOnStartup": (8, 32), "cxReturn": (8, 56),
              "gbPortSettings": (8, 80), "cbPort": (72, 24), "cbBaudRate": (72, 48), "cbParity": (72, 72),
              "Image1": (192, 26), "Image2": (192, 50), "Image3": (192, 74), "btnTest": (31, 104),
              "btnAutoDetect": (111, 104), "anDetect": (192, 108), "btnOK": (47, 320),
              "btnCancel": (127, 320)}

    def __init__(self, ui, hwnd):
        self.ui = ui
        self.hwnd = hwnd
        self.by_name = {}
        controls = ui.controls(hwnd)
        for name, place in self.PLACES.items():
            found = [c for c in controls if c["rect"][:2] == place]
            check(len(found) == 1, "%s not found at %r" % (name, place))
            self.by_name[name] = found[0]["hwnd"]
        self.names = {hwnd: name for name, hwnd in self.by_name.items()}

    def states(self):
        """Every named control's state, read in one pass."""
        return {self.names[c["hwnd"]]: c for c in self.ui.controls(self.hwnd) if c["hwnd"] in self.names}

    def state(self, name):
        return self.states()[name]

    def click(self, name):
        self.ui.call("click " + self.by_name[name])

    def checked(self, name):
        return self.ui.call("checked " + self.by_name[name])[0] == "1"

    def combo(self, name):
        """(selected index, entries)."""
        rows = self.ui.call("combo " + self.by_name[name])
        return int(rows[0]), rows[1:]

    def selection(self):
        """The selected texts of port, baud rate and parity; None for no selection."""
        result = []
        for name in ("cbPort", "cbBaudRate", "cbParity"):
            index, entries = self.combo(name)
            result.append(entries[index] if index >= 0 else None)
        return tuple(result)

    def select(self, name, text):
        self.ui.call("select %s %s" % (self.by_name[name], text))

    def marks_shown(self):
        states = self.states()
        return [states[n]["visible"] for n in ("Image1", "Image2", "Image3")]

    def shown_texts(self):
        """What the three lists show: a drop-down list's text is its selected entry. One message
        each, so that a scan's every combination can be seen while the dialog is busy."""
        return tuple(self.caption(n) or None for n in ("cbPort", "cbBaudRate", "cbParity"))

    def caption(self, name):
        return self.ui.call("text " + self.by_name[name])[0]

    def idle(self):
        return self.caption("btnAutoDetect") == "&Auto-Detect" and self.state("btnOK")["enabled"]

    def wait_idle(self, timeout_s):
        wait_until(self.idle, timeout_s, "the dialog to return to idle", 0.1)

    def visible(self):
        return self.ui.window(self.hwnd)["visible"] == "1"

    def focused(self):
        return self.names.get(self.ui.values(self.ui.call("focus"))["focus"], "?")


def watch_selection(dialog):
    """Every combination the three lists showed, in order, read by a UI driver of its own."""
    return ChangeWatcher(env, lambda ui: Dialog(ui, dialog.hwnd).shown_texts, interval=0)


with Run("settings dialog and About box") as run:
    env.remove_settings()
    saved_map = reg_values(SERIAL_MAP)
    run.on_exit(lambda: set_serial_map(saved_map))
    saved_https = reg_values(HTTPS_COMMAND)
    run.on_exit(lambda: reg("add", HTTPS_COMMAND, "/ve", "/d", saved_https[next(iter(saved_https))], "/f"))
    run.on_exit(lambda: reg("delete", OPENED_KEY, "/f", check_result=False))
    # wineboot starts whatever is registered to run at start-up: never leave Cardwick there.
    run.on_exit(lambda: reg("delete", RUN_KEY, "/v", "Orvela Cardwick", "/f", check_result=False))
    sims = {}

    def plug(port, *args):
        env.port = port
        sims[port] = ReaderSim(env, *args)
        run.on_exit(sims[port].stop)
        return sims[port]

    plug("COM5", "--silent")
    plug("COM6")
    plug("COM7")
    ui = UiDriver(env)
    run.on_exit(ui.close)
    # Started where Windows starts it at logon: the start-up value must not follow the current
    # directory.
    cardwick = Cardwick(env, ui, cwd=env.system32)
    run.on_exit(cardwick.kill)
    state = {}

    def about_from_tray_while_hidden():
        box = ui.expect_message_box("Warning", "warning", INVALID_PORT_SETTINGS, timeout_ms=20000)
        ui.dismiss(box)
        # A refusing handler first: the failed open must leave the link's colour alone.
        reg("add", HTTPS_COMMAND, "/ve", "/d", "C:\\windows\\system32\\no-such-program.exe \"%1\"", "/f")
        ui.call("traymenu 0 DOWN DOWN RETURN")
        about = ui.values(ui.call("wait 5000 About Orvela Cardwick"))
        state["about"] = about["hwnd"]
        check(about["class"] == "TfrmAbout", "class %r" % about["class"])
        check(not main_window_shown(ui), "the main window was shown with the About box")
        texts = {c["text"]: c for c in ui.controls(about["hwnd"])}
        # "Version" and the major and minor parts of the project's version number.
        version = "Version " + ".".join(os.environ["CARDWICK_VERSION"].split(".")[:2])
        for text in ("Orvela Cardwick", version, "Copyright (C) 2026 The Cardwick developers", LINK, "OK"):
            check(text in texts, "no %r in the About box: %r" % (text, sorted(texts)))
        state["link"] = texts[LINK]["hwnd"]
        state["ok"] = texts["OK"]["hwnd"]
        screenshot(os.path.join(screenshots, "about.png"))
        check(link_colour() == "red", "the link is not red before any click")

    def link_colour():
        info = ui.window(state["link"])
        x, y, w, h = (int(v) for v in info["rect"].split("\t"))
        path = os.path.join(env.work, "link.png")
        screenshot(path)
        out = subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", "-depth", "8",
                              "txt:-"], check=True, capture_output=True, text=True).stdout
        red = purple = 0
        for m in re.finditer(r"\((\d+),(\d+),(\d+)", out):
            r, g, b = (int(v) for v in m.groups())
            if r > 220 and g < 40 and b < 40:
                red += 1
            elif 100 < r < 160 and g < 40 and 100 < b < 160:
                purple += 1
        if red >= 20 and purple == 0:
            return "red"
        if purple >= 20 and red == 0:
            return "purple"
        return "red %d, purple %d" % (red, purple)

    def link_click_opens_caption_and_turns_purple():
        # A label is not a button: its click is a press and release of the left button.
        click_label(state["link"])
        time.sleep(1.5)
        check(link_colour() == "red", "a failed open changed the link's colour")
        check(ui.message_box(0) is None, "a failed open showed a message")
        reg("add", HTTPS_COMMAND, "/ve", "/d",
            "C:\\windows\\system32\\reg.exe add %s /v Opened /d \"%%1\" /f" % OPENED_KEY, "/f")
        click_label(state["link"])
        wait_until(lambda: (reg_values(OPENED_KEY) or {}).get("Opened"), 20, "the shell to open the link")
        opened = reg_values(OPENED_KEY)["Opened"]
        check(opened == LINK, "opened %r" % opened)
        wait_until(lambda: link_colour() == "purple", 5, "the link to turn purple")
        ui.call("click " + state["ok"])
        wait_until(lambda: ui.window(state["about"])["visible"] == "0", 5, "the About box to close")
        check(not main_window_shown(ui), "the main window was shown after the About box")
        ui.call("traymenu 0 DOWN DOWN RETURN")
        ui.call("wait 5000 About Orvela Cardwick")
        check(link_colour() == "purple", "the link is not purple at the next showing")
        ui.call("keys RETURN")
        wait_until(lambda: ui.window(state["about"])["visible"] == "0", 5, "Enter to close the About box")

    def click_label(hwnd):
        ui.call("press " + hwnd)

    def open_dialog():
        main = state["main"]
        main.click("btnProperties")
        info = ui.values(ui.call("wait 5000 Properties"))
        dialog = Dialog(ui, info["hwnd"])
        state["dialog"] = dialog
        return dialog, info

    def defaults_port_list_and_layout():
        ui.call("traydblclick 0")
        state["main"] = find_main_window(ui)
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
        check(dialog.combo("cbBaudRate") == (-1, ["4800", "9600", "19200", "38400", "57600", "115200"]),
              "baud rates %r" % (dialog.combo("cbBaudRate"),))
        check(dialog.combo("cbParity") == (-1, ["Even", "None"]), "parities %r" % (dialog.combo("cbParity"),))
        check(dialog.marks_shown() == [False] * 3, "check marks shown")
        screenshot(os.path.join(screenshots, "properties-idle.png"))

    def test_without_selection_tab_order_and_keys():
        dialog = state["dialog"]
        dialog.click("btnTest")
        ui.dismiss(ui.expect_message_box("Warning", "warning", CONFIGURE_FIRST))
        ui.call("activate " + dialog.hwnd)
        dialog.click("cxLoadOnStartup")
        dialog.click("cxLoadOnStartup")
        wait_until(lambda: dialog.focused() == "cxLoadOnStartup", 5, "the focus on the first check box")
        walk = []
        for _ in range(10):
            ui.call("keys TAB")
            walk.append(dialog.focused())
        check(walk == ["cxShowOnStartup", "cbBaudRate", "cbParity", "cbPort", "btnAutoDetect", "btnTest",
                       "btnOK", "btnCancel", "cxReturn", "cxLoadOnStartup"], "tab order %r" % walk)
        ui.call("keys RETURN")
        ui.call("keys ESCAPE")
        time.sleep(0.5)
        check(dialog.visible(), "Enter or Escape closed the dialog")
        check(ui.message_box(0) is None, "a message box")

    def ok_on_a_fresh_machine_registers():
        dialog = state["dialog"]
        dialog.click("btnOK")
        wait_until(lambda: not dialog.visible(), 5, "the dialog to close")
        check(ini_sections() == [
            ("General", [("Load on Windows startup", "1"), ("Show on startup", "0"),
                         ("Suffix Carriage Return", "1")]),
            ("Ports", [("Port", ""), ("Baud rate", ""), ("Parity", "")])], "settings file %r" % ini_sections())
        command = (reg_values(RUN_KEY) or {}).get("Orvela Cardwick")
        expected = '"Z:%s"' % os.path.abspath(env.cardwick).replace("/", "\\")
        check(command == expected, "start-up value %r, expected %r" % (command, expected))
        main = state["main"]
        check(main.panels()[0] == "Disconnected" and main.fields() == ("", "", "", ""),
              "main window %r %r" % (main.panels(), main.fields()))

    def unchecked_and_ok_removes_twice():
        # The second time the box shows the stored "0", and the value is already gone.
        for attempt in range(2):
            dialog, _ = open_dialog()
            check(dialog.checked("cxLoadOnStartup") == (attempt == 0), "Load box at showing %d" % attempt)
            if attempt == 0:
                dialog.click("cxLoadOnStartup")
                wait_until(lambda: not dialog.checked("cxLoadOnStartup"), 5, "the box to clear")
            dialog.click("btnOK")
            wait_until(lambda: not dialog.visible(), 5, "the dialog to close")
            check(ui.message_box(500) is None, "a message box")
            check("Orvela Cardwick" not in (reg_values(RUN_KEY) or {}), "the start-up value is still there")

    def stored_values_select():
        ini = dict(ini_sections())
        general = dict(ini["General"])

        def shown_with(port, baud, parity):
            env.write_settings(general, {"Port": port, "Baud rate": baud, "Parity": parity})
            dialog, _ = open_dialog()
            selection = dialog.selection()
            dialog.click("btnCancel")
            wait_until(lambda: not dialog.visible(), 5, "the dialog to close")
            return selection

        check(shown_with("COM7", "9600", "None") == ("COM7", "9600", "None"), "stored values not selected")
        # Lower case is another name; 14400 is no entry, so the last selection stays.
        check(shown_with("com7", "14400", "Even") == (None, "9600", "Even"), "lower case port or odd baud rate")

    def test_against_reader_sim():
        main = state["main"]
        dialog, _ = open_dialog()
        dialog.select("cbPort", "COM6")
        dialog.select("cbBaudRate", "19200")
        dialog.select("cbParity", "Even")
        start = time.monotonic()
        dialog.click("btnTest")
        wait_until(lambda: all(dialog.marks_shown()), 10, "the check marks")
        check(dialog.idle(), "not idle after the Test")
        check(main.fields()[0] == "30571846", "serial number %r" % main.fields()[0])
        check(main.panels()[1].endswith(": Get Factory Code OK"), "status line %r" % main.panels()[1])
        check(time.monotonic() - start < 5, "the Test took too long")
        check(ui.message_box(300) is None, "a message box after a good Test")
        # OK after a Test that reached the reader: the main window's link is disconnected. The
        # settings file goes back as it was, for the steps after.
        with open(env.ini, "rb") as f:
            stored = f.read()
        dialog.click("btnOK")
        wait_until(lambda: not dialog.visible(), 5, "the dialog to close")
        check(main.panels()[0] == "Disconnected" and main.fields() == ("", "", "", ""),
              "main window after OK %r %r" % (main.panels(), main.fields()))
        with open(env.ini, "wb") as f:
            f.write(stored)
        dialog, _ = open_dialog()
        dialog.select("cbPort", "COM6")
        dialog.select("cbBaudRate", "4800")
        dialog.select("cbParity", "Even")
        dialog.click("btnTest")
        ui.dismiss(ui.expect_message_box("Warning", "warning", TEST_FAILED))
        check(dialog.marks_shown() == [False] * 3, "check marks after a failed Test")

    def auto_detect_four_ports():
        # COM4 has no reader (its device is gone), COM5 is silent, COM6 answers at 19200, COM7 too.
        set_serial_map({"\\Device\\Serial3": "COM4", "\\Device\\Serial4": "COM5", "\\Device\\Serial5": "COM6",
                        "\\Device\\Serial6": "COM7"})
        dialog = state["dialog"]
        ui.call("click " + dialog.by_name["btnCancel"])
        wait_until(lambda: not dialog.visible(), 5, "the dialog to close")
        dialog, _ = open_dialog()
        check(dialog.combo("cbPort")[1] == ["COM4", "COM5", "COM6", "COM7"], "ports %r" % (dialog.combo("cbPort"),))
        before = {p: len(s.commands()) for p, s in sims.items()}
        watcher = watch_selection(dialog)
        dialog.click("btnAutoDetect")
        wait_until(lambda: dialog.caption("btnAutoDetect") == "&Cancel", 5, "the scan to start")
        states = dialog.states()
        busy = {n: states[n]["enabled"] for n in ("cxLoadOnStartup", "cxShowOnStartup", "cbPort", "cbBaudRate",
                                                  "cbParity", "btnTest", "btnOK", "btnCancel", "cxReturn",
                                                  "btnAutoDetect")}
        check(states["btnAutoDetect"]["text"] == "&Cancel", "the scan ended before its state was read")
        check(busy == {"cxLoadOnStartup": False, "cxShowOnStartup": False, "cbPort": False, "cbBaudRate": False,
                       "cbParity": False, "btnTest": False, "btnOK": False, "btnCancel": False,
                       "cxReturn": True, "btnAutoDetect": True}, "busy state %r" % busy)
        screenshot(os.path.join(screenshots, "properties-busy.png"))
        # The clicked button has the focus, and Enter would press it: move to the carriage-return box.
        ui.call("keys TAB")
        wait_until(lambda: dialog.focused() == "cxReturn", 3, "Tab to skip the disabled controls")
        ui.call("keys RETURN")
        ui.call("keys ESCAPE")
        dialog.wait_idle(30)
        seen = watcher.stop()
        check(dialog.visible(), "Enter or Escape closed the busy dialog")
        check(ui.message_box(300) is None, "a message box after a successful scan")
        check(dialog.selection() == ("COM6", "19200", "Even"), "selection %r" % (dialog.selection(),))
        check(all(dialog.marks_shown()), "no check marks")
        sent = {p: len(s.commands()) - before[p] for p, s in sims.items()}
        check(sent == {"COM5": 12, "COM6": 5, "COM7": 0}, "commands per port %r" % sent)
        # The three texts are read one after the other while the dialog changes them, so a sample
        # can mix two combinations, and a parity shows for only 200 ms of pumping: what must be
        # seen is every baud rate of each waiting port in scan order (600 ms each), with both
        # parities on the silent port.
        bauds = ["4800", "9600", "19200", "38400", "57600", "115200"]
        for port, expected in (("COM5", bauds), ("COM6", bauds[:3])):
            shown = []
            for p, b, _ in seen:
                if p == port and b in bauds and b not in shown:
                    shown.append(b)
            check(shown == expected, "%s showed baud rates %r in %r" % (port, shown, seen))
        check({y for p, _, y in seen if p == "COM5"} == {"Even", "None"}, "parities on COM5: %r" % seen)
        check(seen[-1] == ("COM6", "19200", "Even"), "last combination shown %r" % (seen[-1],))

    def nothing_answers_then_cancel():
        dialog = state["dialog"]
        set_serial_map({"\\Device\\Serial3": "COM4", "\\Device\\Serial4": "COM5"})
        dialog.click("btnCancel")
        wait_until(lambda: not dialog.visible(), 5, "the dialog to close")
        dialog, _ = open_dialog()
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
        check(ui.message_box(1000) is None, "a message box after Cancel")
        check(dialog.selection() == (None, None, None), "selection after Cancel %r" % (dialog.selection(),))

    def no_ports_at_all():
        dialog = state["dialog"]
        set_serial_map({})
        dialog.click("btnCancel")
        wait_until(lambda: not dialog.visible(), 5, "the dialog to close")
        dialog, _ = open_dialog()
        check(dialog.combo("cbPort") == (-1, []), "ports %r" % (dialog.combo("cbPort"),))
        dialog.click("btnTest")
        ui.dismiss(ui.expect_message_box("Warning", "warning", CONFIGURE_FIRST))
        start = time.monotonic()
        dialog.click("btnAutoDetect")
        ui.dismiss(ui.expect_message_box("Warning", "warning", NOT_DETECTED))
        check(time.monotonic() - start < 3, "an empty scan took %.1f s" % (time.monotonic() - start))

    def auto_detect_during_a_test():
        dialog = state["dialog"]
        set_serial_map({"\\Device\\Serial4": "COM5", "\\Device\\Serial5": "COM6",
                        "\\Device\\Serial6": "COM7"})
        dialog.click("btnCancel")
        wait_until(lambda: not dialog.visible(), 5, "the dialog to close")
        dialog, _ = open_dialog()
        # The Test holds COM7, which answers only at 19200 and sorts after the ports the scan
        # tries first, so the scan never needs to open the held port: Windows, which refuses a
        # second open, and Wine, which allows it, see the same commands.
        dialog.select("cbPort", "COM7")
        dialog.select("cbBaudRate", "4800")
        dialog.select("cbParity", "Even")
        before = {p: len(s.commands()) for p, s in sims.items()}
        # The second click lands inside the Test's wait on the silent port: a whole scan runs there.
        dialog.click("btnTest")
        dialog.click("btnAutoDetect")
        dialog.wait_idle(30)
        check(ui.message_box(500) is None, "a message box: the Test's own attempt found the scan's reply")
        sent = {p: len(s.commands()) - before[p] for p, s in sims.items()}
        # The scan's first attempt goes out on the Test's still open port; the other eleven
        # combinations on COM5, then COM6 answers at its fifth.
        check(sent["COM5"] == 11 and sent["COM6"] == 5, "commands per port %r" % sent)
        check(dialog.selection() == ("COM6", "19200", "Even"), "selection %r" % (dialog.selection(),))
        check(all(dialog.marks_shown()), "no check marks")

    def cancel_discards_and_main_stays_disconnected():
        dialog = state["dialog"]
        main = state["main"]
        stored = ini_sections()
        dialog.click("btnCancel")
        wait_until(lambda: not dialog.visible(), 5, "the dialog to close")
        check(ini_sections() == stored, "Cancel wrote the settings")
        check(main.panels()[0] == "Disconnected" and main.fields() == ("", "", "", ""),
              "main window %r %r" % (main.panels(), main.fields()))
        counts = {p: len(s.commands()) for p, s in sims.items()}
        time.sleep(1.5)
        check({p: len(s.commands()) for p, s in sims.items()} == counts, "commands after the dialog closed")
        check(main.control("btnConnect")["enabled"], "Connect is not enabled")

    run.step("About box from the tray while hidden: texts, red link, window stays hidden",
             about_from_tray_while_hidden)
    run.step("the link: a failed open keeps red; a good one opens the caption, purple at the next showing",
             link_click_opens_caption_and_turns_purple)
    run.step("dialog without settings: defaults, layout, port list once each, sorted as text",
             defaults_port_list_and_layout)
    run.step("Test with nothing selected warns; tab order; Enter and Escape close nothing",
             test_without_selection_tab_order_and_keys)
    run.step("OK on a fresh machine writes six keys and registers the program's own file, quoted",
             ok_on_a_fresh_machine_registers)
    run.step("unchecked Load and OK removes the start-up value, twice without complaint",
             unchecked_and_ok_removes_twice)
    run.step("stored values select their entries; lower case and odd baud rates do not", stored_values_select)
    run.step("Test at 19200 shows the check marks and the probe's reply in the main window, OK "
             "disconnects it; 4800 fails", test_against_reader_sim)
    def scan_step(title, action):
        # Under Wine's emulated 32-bit half, a message from the UI driver to the 32-bit program never
        # returns once a scan has started, time-out or not: these steps run on the 64-bit build
        # until that is understood.
        if env.x86:
            run.skip(title, "the emulated 32-bit program does not answer the UI driver during a scan")
        else:
            run.step(title, action)

    scan_step("Auto-Detect over four ports stops at the answering one, busy state, keys ignored",
              auto_detect_four_ports)
    scan_step("no answer: the not-detected warning and no selection; Cancel ends a scan silently",
              nothing_answers_then_cancel)
    run.step("no ports listed: Test warns, Auto-Detect ends at once", no_ports_at_all)
    scan_step("Auto-Detect clicked during a Test runs a scan inside it", auto_detect_during_a_test)
    run.step("Cancel writes nothing; the main window stays disconnected", cancel_discards_and_main_stays_disconnected)
