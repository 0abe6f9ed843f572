#!/usr/bin/env python3
"""The installer, as an administrator rolling Cardwick out uses it, silently: bad options refused with
exit code 87 before anything is written; a first install with the fleet's port settings (cardwick.ini
written in the program's format, which the installed program connects with), the "Apps & features"
entry and the quoted start-up value the program itself writes; the installed program started in the
system folder, whose OK leaves that value alone; upgrades over a copy that does not answer (ended,
exit code 0) and over a running one (closed), each leaving the start at logon and every settings
file, the users' virtualised copies included, in agreement; an upgrade into another folder, which
removes the old install, and one that fails, which leaves it as it was; the waited-on quiet uninstall
while Cardwick runs, which takes everything away and leaves cardwick.ini.

The installer, its install folder and registry view are parameters, by default those of the program
under test: the real x86 release installer for the 32-bit program (Program Files (x86), the 32-bit
registry view, the zip beside it checked too), the 64-bit variant of the same script for the 64-bit
build."""

import argparse
import contextlib
import filecmp
import os
import re
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
# No space: /D= takes the rest of the line unquoted, and Wine would quote an argument with one.
OTHER_DIR = "C:\\Other\\Cardwick"
# Where Windows keeps the registry values of a program of this kind, and the other view.
VIEW = args.reg_view or env.registry_view
OTHER_VIEW = 96 - VIEW
RUN_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvelaCardwick"
PENDING_KEY = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"
PROFILE_LIST = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"
# A second profile, planted for the run, whose folder is given as Windows gives it: unexpanded.
OTHER_PROFILE = PROFILE_LIST + "\\S-1-5-21-0-0-0-1999"
OTHER_PROFILE_DIR = "%SystemDrive%\\users\\cardwick-other"
CARD = "0004211311"
STARTUP = "Load on Windows startup"
# ERROR_INVALID_PARAMETER; a Wine program's exit status on Linux keeps its low byte.
BAD_OPTION = 87
# Refused options. The first is given without /S, and its box must name it. Under the emulated
# 32-bit half every start of the installer costs seconds, so that tier runs the first only: the
# verdicts come from script code both installers share, and the 64-bit tier runs them all.
BAD_OPTIONS = [["/BAUD=19k2"], ["/STARTUP", "/NOSTARTUP"], ["/PORT=COM05"], ["/PORT=COM257"], ["/PORT=COM0"],
               ["/BAUD=14400"], ["/PARITY=Odd"], ["/PARITY=None\x07"], ["/PORT=COM3\t"],
               ["/PORT=COM3", "/PORT=COM4"], ["/NOSTARTUP=1"], ["/s"]]
X86_BAD_OPTIONS = 1


def unix_path(windows_path):
    return os.path.join(env.prefix, "drive_c", *windows_path[3:].split("\\"))


SHORTCUT = unix_path("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\%s.lnk" % PRODUCT)


class Install:
    """Where an install lives: its folder, as Windows and as Linux name it, and its program."""

    def __init__(self, folder):
        self.dir = folder
        self.path = unix_path(folder)
        self.exe = os.path.join(self.path, "Cardwick.exe")
        self.startup_value = '"%s\\Cardwick.exe"' % folder


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


def read_lines(path):
    """A settings file's lines, blank ones left out, or None when there is none. Every line must end
    in CR LF, as the platform writes them."""
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    check(text.endswith("\r\n") and "\n" not in text.replace("\r\n", ""), "%s: line ends %r" % (path, text))
    return [line for line in text.split("\r\n") if line]


def write_lines(path, lines):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("latin-1"))


def replaced_lines(lines, changes):
    """The lines with "key=..." lines given new values, in place."""
    def line(text):
        key = text.partition("=")[0]
        return "%s=%s" % (key, changes[key]) if "=" in text and key in changes else text
    return [line(text) for text in lines]


def virtual_store_copy(profile_dir):
    """The settings file a virtualised program of that profile reads, as a Linux path."""
    return unix_path(profile_dir + "\\AppData\\Local\\VirtualStore\\Windows\\cardwick.ini")


def profile_dirs():
    """ProfileImagePath of every profile, as the registry holds it."""
    listing = reg("query", PROFILE_LIST, "/s", "/v", "ProfileImagePath", view=64).stdout
    return [m.group(1) for m in re.finditer(r"ProfileImagePath\s+REG_\w+\s+(.*?)\r?$", listing, re.M)]


BUILD_EXE = env.cardwick
first = Install(args.install_dir or INSTALL_DIR)
other = Install(OTHER_DIR)
with Session("fleet install, bad options, upgrades over running and hung copies and into another folder, "
             "quiet uninstall", env=env, sim=("--cards", CARD), sink=True, cardwick=False) as s:
    ui, sink = s.ui, s.sink
    s.on_exit(remove_run_values)

    def start_installed(install, cwd=None):
        """The installed program, once its first window exists: the window the installer finds it
        by. Where the 32-bit half runs emulated, a start takes many seconds."""
        env.cardwick = install.exe
        cardwick = s.start_cardwick(cwd=cwd)
        wait_until(lambda: len(ui.tray_icons()) == 1, 120, "the started copy's tray icon")
        return cardwick

    def icon_gone():
        """The notification area keeps an ended program's icon for a moment, which would pass for
        the next copy's."""
        wait_until(lambda: ui.tray_icons() == [], 60, "the ended copy's tray icon to go")

    def stop(cardwick):
        cardwick.kill()
        icon_gone()

    def marked_copy(install):
        """Makes the installed program differ from the build's (trailing bytes, still a program), so
        that a replaced file can be told from one left alone."""
        with open(install.exe, "ab") as f:
            f.write(b"old copy" * 64)
        check(not filecmp.cmp(install.exe, BUILD_EXE, shallow=False), "the mark did not take")

    def replaced(install):
        return os.path.isfile(install.exe) and filecmp.cmp(install.exe, BUILD_EXE, shallow=False)

    def moved_aside(install):
        return [n for n in os.listdir(install.path) if n.startswith("Cardwick-old")]

    with s.step("bad options: exit code 87, the option named, nothing installed or written"):
        planted = ["[General]", STARTUP + "=0", "[Ports]", "Port=COM3"]
        write_lines(env.ini, planted)
        cases = BAD_OPTIONS[:X86_BAD_OPTIONS] if X86 else BAD_OPTIONS
        options = cases[0]
        setup = subprocess.Popen(["wine", args.installer] + options, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        try:
            box = ui.message_box(120000)
            check(box is not None and '"%s"' % options[0] in box["text"], "box %r" % box)
            ui.dismiss(box)
            check(setup.wait(60) == BAD_OPTION, "setup %r ended with %r" % (options, setup.returncode))
        finally:
            if setup.poll() is None:
                setup.kill()
        for options in cases[1:]:
            run_wine(args.installer, "/S", *options, expect=BAD_OPTION)
        check(read_lines(env.ini) == planted, "cardwick.ini changed: %r" % read_lines(env.ini))
        check(not os.path.exists(first.path), "the install folder was made")
        check(reg_values(UNINSTALL_KEY, VIEW) is None, "an uninstall entry was written")
        check(reg_value(RUN_KEY, PRODUCT, VIEW) is None, "a start-up value was written")
        os.remove(env.ini)

    with s.step("/S /PORT=com7 /BAUD /PARITY=none: program, README, LICENSE, shortcut, cardwick.ini in the program's "
                "format and spelling"):
        run_wine(args.installer, "/S", "/PORT=com7", "/BAUD=19200", "/PARITY=none")
        check(replaced(first), "the installed program differs")
        for name in ("README.txt", "LICENSE.txt", "Uninstall.exe"):
            check(os.path.isfile(os.path.join(first.path, name)), "no " + name)
        with open(os.path.join(first.path, "LICENSE.txt"), "rb") as f:
            check(b"MIT License" in f.read(), "LICENSE.txt is not the licence")
        check(os.path.isfile(SHORTCUT), "no shortcut %s" % SHORTCUT)
        check(shortcut_working_directory(SHORTCUT) == first.dir, "the shortcut's folder")
        # The program's own keys and order (as its OK writes them), the dialog's defaults, and the
        # start at logon on, as the dialog's box is on a machine without settings.
        check(read_lines(env.ini) == [
            "[General]", STARTUP + "=1", "Show on startup=0", "Suffix Carriage Return=1", "[Ports]",
            "Port=COM7", "Baud rate=19200", "Parity=None"], "cardwick.ini %r" % read_lines(env.ini))

    with s.step("quoted start-up value, Publisher, EstimatedSize, InstallLocation, QuietUninstallString"):
        command = reg_value(RUN_KEY, PRODUCT, VIEW)
        check(command == first.startup_value, "start-up value %r" % command)
        check(reg_value(RUN_KEY, PRODUCT, OTHER_VIEW) is None, "a start-up value in the other view")
        entry = reg_values(UNINSTALL_KEY, VIEW) or {}
        check(entry.get("DisplayName") == PRODUCT and entry.get("Publisher") == "Orvela", "entry %r" % entry)
        check(entry.get("InstallLocation") == first.dir, "entry %r" % entry)
        check(int(entry.get("EstimatedSize") or "0", 0) > 100, "EstimatedSize %r" % entry.get("EstimatedSize"))
        check(entry.get("QuietUninstallString") == '"%s\\Uninstall.exe" /S _?=%s' % (first.dir, first.dir),
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
        cardwick = start_installed(first, cwd=env.system32)
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
        check(command == first.startup_value, "OK changed the start-up value to %r" % command)

    # The users' own copies of the settings: one in the profile Wine made, one in a profile planted
    # for the run, whose folder the registry gives unexpanded.
    reg("add", OTHER_PROFILE, "/v", "ProfileImagePath", "/t", "REG_EXPAND_SZ", "/d", OTHER_PROFILE_DIR, "/f", view=64)
    s.on_exit(lambda: reg("delete", OTHER_PROFILE, "/f", view=64, check_result=False))
    user_copy = virtual_store_copy(next(d for d in profile_dirs() if d != OTHER_PROFILE_DIR))
    other_copy = virtual_store_copy(OTHER_PROFILE_DIR.replace("%SystemDrive%", "C:"))
    for path in (user_copy, other_copy):
        s.on_exit(lambda path=path: os.remove(path) if os.path.exists(path) else None)

    with s.step("upgrade over a copy that does not answer: ended, replaced, exit code 0; the file's 0x0 keeps "
                "the start off, in the registry and in the users' copies"):
        stop(cardwick)
        marked_copy(first)
        machine = replaced_lines(read_lines(env.ini), {STARTUP: "0x0"})
        write_lines(env.ini, machine)
        user = ["[General]", STARTUP + "=1", "Reconnect automatically=1", "[Ports]", "Port=COM3"]
        write_lines(user_copy, user)
        write_lines(other_copy, ["[Ports]", "Port=COM4"])
        cardwick = start_installed(first)
        # A hung program: it cannot answer the close.
        os.kill(cardwick.process.pid, signal.SIGSTOP)
        try:
            run_wine(args.installer, "/S")
        finally:
            with contextlib.suppress(ProcessLookupError):
                os.kill(cardwick.process.pid, signal.SIGCONT)
        check(cardwick.wait_exit(10), "the copy that does not answer is still running")
        check(replaced(first), "the old program is in place")
        check(moved_aside(first) == [], "files moved aside: %r" % moved_aside(first))
        pending = reg("query", PENDING_KEY, "/v", "PendingFileRenameOperations", check_result=False).stdout
        check("Cardwick" not in pending, "a file is left for the restart: %r" % pending)
        check(reg_value(RUN_KEY, PRODUCT, VIEW) is None, "the start-up value was written against the file")
        check(read_lines(env.ini) == machine, "cardwick.ini %r" % read_lines(env.ini))
        check(read_lines(user_copy) == replaced_lines(user, {STARTUP: "0"}), "the user's copy %r" % read_lines(user_copy))
        # A copy without the key reads it as on: the key is added, in the program's format.
        check(read_lines(other_copy) == ["[Ports]", "Port=COM4", "[General]", STARTUP + "=0"],
              "the other user's copy %r" % read_lines(other_copy))
        icon_gone()

    with s.step("/STARTUP /PORT over a running copy: closed, replaced; the named keys change, in every copy, "
                "and nothing else"):
        marked_copy(first)
        machine = replaced_lines(read_lines(env.ini), {"Port": "COM3"})
        write_lines(env.ini, machine)
        user, other_user = read_lines(user_copy), read_lines(other_copy)
        cardwick = start_installed(first)
        run_wine(args.installer, "/S", "/STARTUP", "/PORT=COM7")
        check(cardwick.wait_exit(60), "the running copy was not closed")
        check(replaced(first), "the old program is in place")
        check(ui.tray_icons() == [], "tray icons left %r" % ui.tray_icons())
        check(ui.message_box(0) is None, "a message box is left")
        check(moved_aside(first) == [], "files moved aside: %r" % moved_aside(first))
        check(reg_value(RUN_KEY, PRODUCT, VIEW) == first.startup_value, "no start-up value")
        changes = {STARTUP: "1", "Port": "COM7"}
        for path, before in ((env.ini, machine), (user_copy, user), (other_copy, other_user)):
            check(read_lines(path) == replaced_lines(before, changes), "%s: %r" % (path, read_lines(path)))

    with s.step("/NOSTARTUP /D= another folder, no cardwick.ini: the old install removed, one entry, the start "
                "off in a new file"):
        os.remove(env.ini)
        run_wine(args.installer, "/S", "/NOSTARTUP", "/D=" + other.dir)
        check(replaced(other), "the program is not in the new folder")
        for name in ("Cardwick.exe", "README.txt", "LICENSE.txt"):
            check(not os.path.exists(os.path.join(first.path, name)), "%s is left in the old folder" % name)
        entry = reg_values(UNINSTALL_KEY, VIEW) or {}
        check(entry.get("InstallLocation") == other.dir and entry.get("UninstallString") == '"%s\\Uninstall.exe"' %
              other.dir, "entry %r" % entry)
        check(reg_values(UNINSTALL_KEY, OTHER_VIEW) is None, "an entry in the other view")
        check(shortcut_working_directory(SHORTCUT) == other.dir, "the shortcut's folder")
        check(reg_value(RUN_KEY, PRODUCT, VIEW) is None, "the start-up value is left")
        check(read_lines(env.ini) == ["[General]", STARTUP + "=0"], "cardwick.ini %r" % read_lines(env.ini))

    with s.step("an upgrade that cannot put its program in place: exit code 2, the install as it was"):
        # A drive on which no folder can be made: /proc, read-only to everyone, root included.
        drive = os.path.join(env.prefix, "dosdevices", "r:")
        os.symlink("/proc", drive)
        s.on_exit(lambda: os.remove(drive))
        settings = read_lines(env.ini)
        run_wine(args.installer, "/S", "/STARTUP", "/D=R:\\Cardwick", expect=2)
        check(replaced(other), "the installed program changed")
        check(reg_value(UNINSTALL_KEY, "InstallLocation", VIEW) == other.dir, "the entry changed")
        check(reg_value(RUN_KEY, PRODUCT, VIEW) is None, "a start-up value was written")
        check(read_lines(env.ini) == settings, "cardwick.ini %r" % read_lines(env.ini))
        # The old uninstaller's own file and the folder go once it has ended: by now, or soon.
        wait_until(lambda: not os.path.exists(first.path), 120, "the old install folder to go")

    with s.step("quiet uninstall, waited on, while Cardwick runs: everything gone, cardwick.ini kept"):
        # The start-up value a default install leaves.
        reg("add", RUN_KEY, "/v", PRODUCT, "/d", other.dir + "\\Cardwick.exe", "/f", view=VIEW)
        cardwick = start_installed(other)
        settings = read_lines(env.ini)
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
            check(not os.path.exists(os.path.join(other.path, name)), "%s is left at the uninstaller's end" % name)
        check(not os.path.exists(SHORTCUT), "the shortcut is left")
        check(reg_value(UNINSTALL_KEY, "DisplayName", VIEW) is None, "the entry is left")
        check(reg_value(RUN_KEY, PRODUCT, VIEW) is None, "the start-up value is left")
        check(ui.tray_icons() == [], "tray icons left %r" % ui.tray_icons())
        check(read_lines(env.ini) == settings, "cardwick.ini changed")
        # The uninstaller's own file and the folder go once it has ended, not at a restart.
        wait_until(lambda: not os.path.exists(other.path), 120, "the install folder to go (%r)" % (
            os.listdir(other.path) if os.path.isdir(other.path) else None))
