#!/usr/bin/env python3
"""The soak benchmark samples the memory of the process it believes runs Cardwick.exe. Every
process of a run carries the run's WINEPREFIX, and the benchmark's own Python process and its
launchers name Cardwick.exe on their command lines too: only the process whose first word is the
program must be taken, or the figures describe the wrong process. The 32-bit program runs under the
user-mode emulator, whose path stays the first word while Wine names the process after the program.
No Wine needed: stand-ins with these kinds of command line show the difference."""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import soak  # noqa: E402


def main():
    prefix = tempfile.mkdtemp(prefix="soak-process-test-")
    emulated = None
    os.environ["WINEPREFIX"] = prefix
    sleeper = "import time; time.sleep(60)"
    # Started first, so that a search in process order meets it first: a launcher that passes
    # the program as an argument, as the benchmark's own command line does.
    launcher = subprocess.Popen([sys.executable, "-c", sleeper, "--cardwick", "/x/app/Cardwick.exe"])
    # Wine names the program as the first word, Windows path or Linux path, any case.
    program = subprocess.Popen(["bash", "-c", "exec -a 'Z:\\x\\app\\CARDWICK.EXE' sleep 60"])
    # The same first word in another run's prefix belongs to another run.
    elsewhere = subprocess.Popen(["bash", "-c", "exec -a /x/app/Cardwick.exe sleep 60"],
                                 env=dict(os.environ, WINEPREFIX=prefix + "-other"))
    try:
        found = soak.cardwick_linux_pid(timeout_s=5)
        if found != program.pid:
            print("FAIL: took process %d, the program is %d (launcher %d, other run %d)" % (
                found, program.pid, launcher.pid, elsewhere.pid))
            return 1
        program.kill()
        program.wait()
        try:
            found = soak.cardwick_linux_pid(timeout_s=0.5)
            print("FAIL: with no program running, took process %d" % found)
            return 1
        except RuntimeError:
            pass
        # The 32-bit program: the emulator's path first, the program's name as the process name.
        emulated = subprocess.Popen(["/usr/bin/qemu-i386-static", "-c",
                                     "open('/proc/self/comm', 'w').write('Cardwick.exe'); " + sleeper],
                                    executable=sys.executable)
        found = soak.cardwick_linux_pid(timeout_s=5)
        if found != emulated.pid:
            print("FAIL: took process %d, the emulated program is %d" % (found, emulated.pid))
            return 1
    finally:
        for process in filter(None, (launcher, program, elsewhere, emulated)):
            process.kill()
            process.wait()
        os.rmdir(prefix)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
