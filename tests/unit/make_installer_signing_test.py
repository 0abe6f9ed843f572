#!/usr/bin/env python3
"""The package step with a certificate given and an osslsigncode that fails at one of its three
signatures (the program, the uninstaller, the installer): the step fails and leaves no installer
behind. A run whose signer never fails makes the installer and signs exactly those three files."""

import os
import stat
import subprocess
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
MAKE_INSTALLER = os.path.join(ROOT, "packaging", "make-installer.sh")

# Signs as the real tool does (the output is a copy of the input), logs each input file, and fails
# with exit code 3 at the call whose number FAIL_AT names.
STUB = """#!/bin/sh
while [ $# -gt 0 ]; do
    case $1 in -in) in=$2; shift ;; -out) out=$2; shift ;; esac
    shift
done
echo "$in" >>"$SIGN_LOG"
[ "$(wc -l <"$SIGN_LOG")" = "$FAIL_AT" ] && exit 3
cp "$in" "$out"
"""


class MakeInstallerSigningTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="cardwick-make-installer-")
        bin_dir = os.path.join(self.work, "bin")
        os.mkdir(bin_dir)
        stub = os.path.join(bin_dir, "osslsigncode")
        with open(stub, "w") as f:
            f.write(STUB)
        os.chmod(stub, os.stat(stub).st_mode | stat.S_IXUSR)
        # makensis packs the program as it is: any file serves.
        self.inputs = []
        for name in ("Cardwick.exe", "README.txt", "LICENSE.txt"):
            path = os.path.join(self.work, name)
            with open(path, "wb") as f:
                f.write(b"MZ" + name.encode() * 64)
            self.inputs.append(path)
        self.log = os.path.join(self.work, "sign.log")
        self.environment = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"], SIGN_LOG=self.log,
                                CARDWICK_SIGN_CERT=os.path.join(self.work, "cert.pem"),
                                CARDWICK_SIGN_KEY=os.path.join(self.work, "key.pem"))
        self.environment.pop("CARDWICK_SIGN_PASS", None)
        self.environment.pop("CARDWICK_TIMESTAMP_URL", None)

    def make(self, fail_at):
        """Runs the package step; its exit code, the files signed and whether an installer is left."""
        if os.path.exists(self.log):
            os.remove(self.log)
        output = os.path.join(self.work, "out", "setup.exe")
        exe, readme, license_ = self.inputs
        result = subprocess.run([MAKE_INSTALLER, "x86", exe, readme, license_,
                                 os.path.join(ROOT, "app", "res", "Cardwick.ico"), "1.2.0.0", output],
                                env=dict(self.environment, FAIL_AT=str(fail_at)), capture_output=True, text=True)
        with open(self.log) as f:
            signed = f.read().split()
        return result.returncode, signed, os.path.exists(output)

    def test_each_failed_signature_fails_the_package(self):
        code, signed, made = self.make(fail_at=0)
        self.assertEqual((code, made), (0, True))
        # The program, the uninstaller (a file of makensis's own), the installer, in that order.
        self.assertEqual(len(signed), 3, signed)
        self.assertEqual(os.path.basename(signed[0]), "Cardwick.exe")
        self.assertNotIn(os.path.basename(signed[1]), ("Cardwick.exe", "setup.exe"))
        self.assertEqual(os.path.basename(signed[2]), "setup.exe")
        for fail_at, what in ((1, "program"), (2, "uninstaller"), (3, "installer")):
            with self.subTest(what):
                code, signed, made = self.make(fail_at)
                self.assertNotEqual(code, 0, "a failed signature of the %s passed" % what)
                self.assertEqual(len(signed), fail_at, "signing went on after the %s failed: %r" % (what, signed))
                self.assertFalse(made, "an installer is left after the %s failed" % what)


if __name__ == "__main__":
    unittest.main()
