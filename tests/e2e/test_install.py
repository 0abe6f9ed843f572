#!/usr/bin/env python3
"""The installer, as an administrator rolling Cardwick out uses it, silently: a first install with
the fleet's port settings (cardwick.ini written in the program's format, which the installed program
connects with), the "Apps & features" entry and the quoted start-up value the program itself writes;
the installed program started in the system folder, whose OK leaves that value alone; an upgrade over
a running Cardwick (closed, then replaced), and over one that does not answer (moved aside, exit code
3010); /NOSTARTUP removing the value; the waited-on quiet uninstall while Cardwick runs, which takes
everything away and leaves cardwick.ini.

The installer, its install folder and registry view are parameters, by default those of the program
under test: the real x86 release installer for the 32-bit program (Program Files (x86), the 32-bit
registry view, the zip beside it checked too), the 64-bit variant of the same script for the 64-bit
build."""

import argparse
import filecmp
import os
import signal
import struct
import subprocess
import zipfile

from cardwick_e2e import Environment, Failure, Session, check, reg, reg_values, wait_until

parser = argparse.ArgumentParser()
parser.add_argument("--installer", required=True)
parser.add_argument("--install-dir", help="by default Program Files, or Program Files (x86) for x86")
parser.add_argument("--reg-view", type=int, choices=(32, 64), help="by default the program's own")
args, rest = parser.parse_known_args()
env = Environment(rest + ["--port", "COM7"])
# The 32-bit tier tests the release's own installer, beside the zip it ships with.
args.installer = os.environ.get("CARDWICK_E2E_INSTALLER") or args.installer

X86 = env.x86
PRODUCT = "Orvela Cardwick"
INSTALL_DIR = args.install_dir or "C:\\Program Files%s\\Orvela Cardwick" % (" (x86)" if X86 else "")
# Where Windows keeps the registry values of a program of this kind, and the other view.
VIEW = args.reg_view or env.registry_view
OTHER_VIEW = 96 - VIEW
RUN_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvelaCardwick"
PENDING_KEY = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"
CARD = "0004211311"
# ERROR_SUCCESS_REBOOT_REQUIRED (3010); a Wine program's exit status on Linux keeps its low byte.
REBOOT_REQUIRED = 3010 & 0xFF


def unix_path(windows_path):
    return os.path.join(env.prefix, "drive_c", *windows_path[3:].split("\\"))


INSTALL_PATH = unix_path(INSTALL_DIR)
STARTUP_VALUE = '"%s\\Cardwick.exe"' % INSTALL_DIR
SHORTCUT = unix_path("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\%s.lnk" % PRODUCT)
INSTALLED_EXE = unix_path(INSTALL_DIR + "\\Cardwick.exe")


def reg_value(key, name, view):
    """A value's data in one registry view, or None."""
    return (reg_values(key, view) or {}).get(name)


def shortcut_working_directory(path):
    """The working directory a .lnk file names (its StringData), or None."""
    with open(path, "rb") as f:
        data = f.read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x01:  # an item ID list
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if flags & 0x02:  # link information
        at += struct.unpack_from("<I", data, at)[0]
    wide = bool(flags & 0x80)
    for bit in (0x04, 0x08, 0x10):  # name, relative path, working directory, in this order
        if not flags & bit:
            continue
        count = struct.unpack_from("<H", data, at)[0]
        size = count * (2 if wide else 1)
        # Wine counts the terminating null in; Windows does not.
        text = data[at + 2:at + 2 + size].decode("utf-16-le" if wide else "latin-1").rstrip("\0")
        at += 2 + size
        if bit == 0x10:
            return text
    return None


def remove_run_values():
    # wineboot would start a left-over value in later tests.
    for view in (32, 64):
        reg("delete", RUN_KEY, "/v", PRODUCT, "/f", view=view, check_result=False)


def run_wine(*command, timeout_s=180, expect=0):
    result = subprocess.run(["wine"] + list(command), capture_output=True, timeout=timeout_s)
    if result.returncode != expect:
        raise Failure("%r ended with %d, not %d" % (command, result.returncode, expect))


def ini_lines():
    with open(env.ini, "rb") as f:
        return f.read().decode("latin-1").split("\r\n")


BUILD_EXE = env.cardwick
with Session("fleet install, upgrades over a running Cardwick, quiet uninstall", env=env,
             sim=("--cards", CARD), sink=True, cardwick=False) as s:
    ui, sink = s.ui, s.sink
    s.on_exit(remove_run_values)

    def start_installed(cwd=None):
        """The installed program, once its first window exists: the window the installer finds it
        by. Where the 32-bit half runs emulated, a start takes many seconds."""
        env.cardwick = INSTALLED_EXE
        cardwick = s.start_cardwick(cwd=cwd)
        wait_until(lambda: len(ui.tray_icons()) == 1, 120, "the started copy's tray icon")
        return cardwick

    def stop(cardwick):
        """Kills a copy and waits for its tray icon to go: the notification area keeps a killed
        program's icon for a moment, which would pass for the next copy's."""
        cardwick.kill()
        wait_until(lambda: ui.tray_icons() == [], 60, "the killed copy's tray icon to go")

    def marked_copy():
        """Makes the installed program differ from the build's (trailing bytes, still a program), so
        that a replaced file can be told from one left alone."""
        with open(INSTALLED_EXE, "ab") as f:
            f.write(b"old copy" * 64)
        check(not filecmp.cmp(INSTALLED_EXE, BUILD_EXE, shallow=False), "the mark did not take")

    def replaced():
        return filecmp.cmp(INSTALLED_EXE, BUILD_EXE, shallow=False)

    with s.step("/S /PORT /BAUD /PARITY: program, README, LICENSE, shortcut, cardwick.ini in the program's format"):
        run_wine(args.installer, "/S", "/PORT=COM7", "/BAUD=19200", "/PARITY=Even")
        check(replaced(), "the installed program differs")
        for name in ("README.txt", "LICENSE.txt", "Uninstall.exe"):
            check(os.path.isfile(os.path.join(INSTALL_PATH, name)), "no " + name)
        with open(os.path.join(INSTALL_PATH, "LICENSE.txt"), "rb") as f:
            check(b"MIT License" in f.read(), "LICENSE.txt is not the licence")
        check(os.path.isfile(SHORTCUT), "no shortcut %s" % SHORTCUT)
        check(shortcut_working_directory(SHORTCUT) == INSTALL_DIR, "the shortcut's folder")
        # The program's own keys and order (as its OK writes them), the dialog's defaults.
        check([line for line in ini_lines() if line] == [
            "[General]", "Load on Windows startup=1", "Show on startup=0", "Suffix Carriage Return=1", "[Ports]",
            "Port=COM7", "Baud rate=19200", "Parity=Even"], "cardwick.ini %r" % ini_lines())

    with s.step("quoted start-up value, Publisher, EstimatedSize, InstallLocation, QuietUninstallString"):
        command = reg_value(RUN_KEY, PRODUCT, VIEW)
        check(command == STARTUP_VALUE, "start-up value %r" % command)
        check(reg_value(RUN_KEY, PRODUCT, OTHER_VIEW) is None, "a start-up value in the other view")
        entry = reg_values(UNINSTALL_KEY, VIEW) or {}
        check(entry.get("DisplayName") == PRODUCT and entry.get("Publisher") == "Orvela", "entry %r" % entry)
        check(entry.get("InstallLocation") == INSTALL_DIR, "entry %r" % entry)
        check(int(entry.get("EstimatedSize") or "0", 0) > 100, "EstimatedSize %r" % entry.get("EstimatedSize"))
        check(entry.get("QuietUninstallString") == '"%s\\Uninstall.exe" /S _?=%s' % (INSTALL_DIR, INSTALL_DIR),
              "QuietUninstallString %r" % entry.get("QuietUninstallString"))

    if X86:
        with s.step("the zip ships the program tested and the licence"):
            # The release's two packages come from one build: the zip beside the installer holds the
            # very program this run tested, and the licence.
            name = os.path.basename(args.installer).replace("-setup.exe", "-win32.zip")
            with zipfile.ZipFile(os.path.join(os.path.dirname(args.installer), name)) as archive:
                shipped = archive.read("Cardwick.exe")
                check("LICENSE.txt" in archive.namelist(), "no LICENSE.txt in the zip")
            with open(BUILD_EXE, "rb") as f:
                check(shipped == f.read(), "the zip's Cardwick.exe differs from the program tested")

    with s.step("started in system32 it reads with the fleet settings; OK keeps the start-up value"):
        # Where Windows starts it from the Run key; it connects with the installer's settings.
        sink.focus(ui)
        cardwick = start_installed(cwd=env.system32)
        wait_until(lambda: CARD in sink.text(), 40, "the card typed")
        check(sink.text() == CARD + "\r", "typed %r" % sink.text())
        main = s.show_main(20)
        main.click("btnDisconnect")
        wait_until(lambda: main.control("btnProperties")["enabled"] and main.panels()[0] == "Disconnected", 10,
                   "disconnected")
        main.click("btnProperties")
        dialog = ui.values(ui.call("wait 10000 Properties"))["hwnd"]
        ok = [c for c in ui.controls(dialog) if c["text"] == "&OK"]
        check(len(ok) == 1, "no OK button")
        ui.call("click " + ok[0]["hwnd"])
        wait_until(lambda: ui.window(dialog)["visible"] == "0", 10, "the dialog to close")
        check(ui.message_box(1000) is None, "OK showed a box")
        command = reg_value(RUN_KEY, PRODUCT, VIEW)
        check(command == STARTUP_VALUE, "OK changed the start-up value to %r" % command)

    with s.step("silent upgrade closes the running copy and replaces it"):
        stop(cardwick)
        marked_copy()
        cardwick = start_installed()
        run_wine(args.installer, "/S")
        check(cardwick.wait_exit(60), "the running copy was not closed")
        check(replaced(), "the old program is in place")
        check(ui.tray_icons() == [], "tray icons left %r" % ui.tray_icons())
        check(ui.message_box(0) is None, "a message box is left")
        check([n for n in os.listdir(INSTALL_PATH) if n.startswith("Cardwick-old")] == [], "a file moved aside")

    with s.step("silent upgrade over a hung copy: new program in place, old one aside, exit code 3010"):
        marked_copy()
        cardwick = start_installed()
        # A hung program: it cannot answer the close.
        os.kill(cardwick.process.pid, signal.SIGSTOP)
        try:
            run_wine(args.installer, "/S", expect=REBOOT_REQUIRED)
        finally:
            os.kill(cardwick.process.pid, signal.SIGCONT)
        check(replaced(), "the old program is in place")
        aside = [n for n in os.listdir(INSTALL_PATH) if n.startswith("Cardwick-old")]
        check(len(aside) == 1, "files moved aside: %r" % aside)
        pending = reg("query", PENDING_KEY, "/v", "PendingFileRenameOperations", check_result=False).stdout
        check(aside[0] in pending, "%s is not deleted at the restart: %r" % (aside[0], pending))
        stop(cardwick)

    with s.step("/NOSTARTUP removes the start-up value; a named key changes only itself"):
        before = ini_lines()
        run_wine(args.installer, "/S", "/NOSTARTUP")
        check(reg_value(RUN_KEY, PRODUCT, VIEW) is None, "the start-up value is left")
        check(replaced(), "the program is not in place")
        check(ini_lines() == before, "cardwick.ini changed")
        run_wine(args.installer, "/S", "/NOSTARTUP", "/BAUD=9600")
        check(reg_value(RUN_KEY, PRODUCT, VIEW) is None, "the start-up value came back")
        after = ini_lines()
        check(after == [line if line != "Baud rate=19200" else "Baud rate=9600" for line in before],
              "cardwick.ini %r" % after)

    with s.step("quiet uninstall, waited on, while Cardwick runs: everything gone, cardwick.ini kept"):
        cardwick = start_installed()
        settings = ini_lines()
        quiet = reg_value(UNINSTALL_KEY, "QuietUninstallString", VIEW)
        check(quiet is not None and quiet.startswith('"'), "QuietUninstallString %r" % quiet)
        # What a deployment tool does: start that command line and wait for its end and exit code.
        # Each word a separate argument, so that Wine passes the line as it stands (it would quote
        # an argument with a space in it, and the uninstaller takes _?= only unquoted).
        program, _, options = quiet[1:].partition('"')
        run_wine(program, *options.split())
        # Done by the process waited on: it ran in place and not from a copy that outlives it.
        check(cardwick.wait_exit(60), "the running copy was not closed")
        for name in ("Cardwick.exe", "README.txt", "LICENSE.txt"):
            check(not os.path.exists(os.path.join(INSTALL_PATH, name)), "%s is left at the uninstaller's end" % name)
        check(not os.path.exists(SHORTCUT), "the shortcut is left")
        check(reg_value(UNINSTALL_KEY, "DisplayName", VIEW) is None, "the entry is left")
        check(reg_value(RUN_KEY, PRODUCT, VIEW) is None, "the start-up value is left")
        check(ui.tray_icons() == [], "tray icons left %r" % ui.tray_icons())
        check(ini_lines() == settings, "cardwick.ini changed")
        # The uninstaller's own file and the folder go once it has ended, not at a restart.
        wait_until(lambda: not os.path.exists(INSTALL_PATH), 120, "the install folder to go (%r)" % (
            os.listdir(INSTALL_PATH) if os.path.isdir(INSTALL_PATH) else None))
