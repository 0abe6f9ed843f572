#!/usr/bin/env python3
"""The build-time check of the program's manifest, on the manifest the program carries and on copies
of it that lack one entry each or ask for an execution level: each fault is found."""

import os
import sys
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "cmake"))
import check_executable  # noqa: E402

VERSION = "1.2.0.0"
with open(os.path.join(ROOT, "app", "res", "Cardwick.manifest.in"), encoding="utf-8") as f:
    MANIFEST = f.read().replace("@PROJECT_VERSION@", VERSION)


def faults(text):
    return check_executable.check_manifest(text.encode("utf-8"), VERSION)


class CheckManifestTest(unittest.TestCase):
    def test_the_programs_manifest_passes(self):
        self.assertEqual(faults(MANIFEST), [])

    def test_each_missing_entry_is_a_fault(self):
        cases = {
            "common controls version 6": ('version="6.0.0.0"', 'version="5.82.0.0"'),
            "Windows 7": ("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{00000000-0000-0000-0000-000000000000}"),
            "Windows 10 and 11": ("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{00000000-0000-0000-0000-000000000001}"),
            "dpiAwareness": ("PerMonitorV2, PerMonitor<", "PerMonitor<"),
            "dpiAware": (">true/pm<", ">true<"),
            "the project says": ('name="Orvela.Cardwick" version="1.2.0.0"', 'name="Orvela.Cardwick" version="1.1.0.0"'),
        }
        for expected, (old, new) in cases.items():
            with self.subTest(expected):
                self.assertIn(old, MANIFEST)
                found = faults(MANIFEST.replace(old, new))
                self.assertEqual(len(found), 1, found)
                self.assertIn(expected, found[0])

    def test_an_execution_level_is_a_fault(self):
        asking = MANIFEST.replace("</assembly>", """<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security>
<requestedPrivileges><requestedExecutionLevel level="asInvoker" uiAccess="false"/></requestedPrivileges>
</security></trustInfo></assembly>""")
        found = faults(asking)
        self.assertEqual(len(found), 1, found)
        self.assertIn("execution level", found[0])

    def test_a_broken_manifest_is_a_fault(self):
        self.assertIn("not well-formed", faults(MANIFEST[:-20])[0])


if __name__ == "__main__":
    unittest.main()
