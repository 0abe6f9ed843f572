#!/usr/bin/env python3
"""The installer, silently, on a machine that already has settings: the program, its shortcut with
the install folder as working directory, the "Apps & features" entry and the start-up value the
program itself would write; the installed program reading a card; then the silent uninstall, which
takes all of that away and leaves cardwick.ini alone. The installer's kind follows the program under
test: the real x86 release installer for the 32-bit program (Program Files (x86), the 32-bit
registry view), the 64-bit variant of the same script for the 64-bit build."""

import argparse
import filecmp
import os
import struct
import subprocess
import zipfile

from cardwick_e2e import (Cardwick, Environment, Failure, KeySink, ReaderSim, Run, UiDriver, check,
                          standard_settings, wait_until)

parser = argparse.ArgumentParser()
parser.add_argument("--installer", required=True)
args, rest = parser.parse_known_args()
env = Environment(rest + ["--port", "COM7"])
# The 32-bit tier tests the release's own installer, beside the zip it ships with.
args.installer = os.environ.get("CARDWICK_E2E_INSTALLER") or args.installer


def pe_machine(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    at = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[at:at + 4] == b"PE\0\0", "%s is not a PE file" % path)
    return struct.unpack_from("<H", data, at + 4)[0]


X86 = pe_machine(env.cardwick) == 0x14C
PRODUCT = "Orvela Cardwick"
INSTALL_DIR = "C:\\Program Files%s\\Orvela Cardwick" % (" (x86)" if X86 else "")
# Where Windows keeps the registry values of a program of this kind, and the other view.
VIEW, OTHER_VIEW = (32, 64) if X86 else (64, 32)
RUN_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvelaCardwick"
CARD = "0004211311"


def unix_path(windows_path):
    return os.path.join(env.prefix, "drive_c", *windows_path[3:].split("\\"))


SHORTCUT = unix_path("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\%s.lnk" % PRODUCT)
INSTALLED_EXE = unix_path(INSTALL_DIR + "\\Cardwick.exe")


def reg_value(key, name, view):
    """A value's data in one registry view, or None."""
    result = subprocess.run(["wine", "reg", "query", key, "/v", name, "/reg:%d" % view],
                            capture_output=True, text=True, errors="replace")
    for line in result.stdout.splitlines():
        parts = line.strip().split("    ")
        if len(parts) == 3 and parts[0] == name:
            return parts[2]
    return None


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
        subprocess.run(["wine", "reg", "delete", RUN_KEY, "/v", PRODUCT, "/f", "/reg:%d" % view],
                       capture_output=True)


def run_wine(*command, timeout_s=120):
    result = subprocess.run(["wine"] + list(command), capture_output=True, timeout=timeout_s)
    if result.returncode != 0:
        raise Failure("%r ended with %d" % (command, result.returncode))


with Run("silent install, the installed program, silent uninstall") as run:
    run.on_exit(remove_run_values)
    general, ports = standard_settings(port="COM7")
    env.write_settings(general, ports)
    with open(env.ini, "rb") as f:
        settings = f.read()

    def install():
        run_wine(args.installer, "/S")
        check(os.path.isfile(INSTALLED_EXE), "no %s" % INSTALLED_EXE)
        check(filecmp.cmp(INSTALLED_EXE, env.cardwick, shallow=False), "the installed program differs")
        check(os.path.isfile(os.path.join(os.path.dirname(INSTALLED_EXE), "README.txt")), "no README.txt")
        check(os.path.isfile(SHORTCUT), "no shortcut %s" % SHORTCUT)
        directory = shortcut_working_directory(SHORTCUT)
        check(directory == INSTALL_DIR, "the shortcut starts in %r" % directory)

    def registry_in_the_programs_view():
        # The start-up value the program writes when started from its folder: that folder followed
        # by "\Cardwick.exe", unquoted; in the view where a program of its kind writes it.
        command = reg_value(RUN_KEY, PRODUCT, VIEW)
        check(command == INSTALL_DIR + "\\Cardwick.exe", "start-up value %r" % command)
        check(reg_value(RUN_KEY, PRODUCT, OTHER_VIEW) is None, "a start-up value in the other view")
        uninstall = reg_value(UNINSTALL_KEY, "UninstallString", VIEW)
        check(uninstall == '"%s\\Uninstall.exe"' % INSTALL_DIR, "uninstall command %r" % uninstall)
        check(reg_value(UNINSTALL_KEY, "DisplayName", VIEW) == PRODUCT, "no \"Apps & features\" entry")

    def zip_ships_the_tested_program():
        # The release's two packages come from one build: the zip beside the installer holds the
        # very program this run tested.
        name = os.path.basename(args.installer).replace("-setup.exe", "-win32.zip")
        with zipfile.ZipFile(os.path.join(os.path.dirname(args.installer), name)) as archive:
            shipped = archive.read("Cardwick.exe")
        with open(env.cardwick, "rb") as f:
            check(shipped == f.read(), "the zip's Cardwick.exe differs from the program tested")

    def installed_program_types_a_card():
        sim = ReaderSim(env, "--cards", CARD)
        run.on_exit(sim.stop)
        ui = UiDriver(env)
        run.on_exit(ui.close)
        sink = KeySink(env)
        run.on_exit(sink.close)
        sink.focus(ui)
        # Started as its shortcut starts it: the installed file, in the install folder.
        env.cardwick = INSTALLED_EXE
        cwd = os.getcwd()
        os.chdir(os.path.dirname(INSTALLED_EXE))
        try:
            cardwick = Cardwick(env)
        finally:
            os.chdir(cwd)
        run.on_exit(cardwick.kill)
        wait_until(lambda: CARD in sink.text(), 30, "the card typed")
        check(sink.text() == CARD + "\r", "typed %r" % sink.text())
        ui.call("traymenu 0 X")
        check(cardwick.wait_exit(20), "the installed program did not end on Exit")

    def uninstall():
        # The uninstaller copies itself away and returns at once: wait for its work.
        run_wine(unix_path(INSTALL_DIR + "\\Uninstall.exe"), "/S")
        wait_until(lambda: not os.path.exists(unix_path(INSTALL_DIR)), 60, "the install folder removed")
        check(not os.path.exists(SHORTCUT), "the shortcut is left")
        wait_until(lambda: reg_value(UNINSTALL_KEY, "DisplayName", VIEW) is None, 10, "the entry removed")
        check(reg_value(RUN_KEY, PRODUCT, VIEW) is None, "the start-up value is left")
        with open(env.ini, "rb") as f:
            check(f.read() == settings, "cardwick.ini changed")

    run.step("installed: program, README, shortcut starting in the install folder", install)
    run.step("start-up value and uninstall entry in the %d-bit view" % VIEW, registry_in_the_programs_view)
    if X86:
        run.step("the zip ships the program tested", zip_ships_the_tested_program)
    run.step("the installed program types a card from reader-sim on COM7", installed_program_types_a_card)
    run.step("uninstalled: files, shortcut, start-up value and entry gone, cardwick.ini kept", uninstall)
