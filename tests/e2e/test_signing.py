#!/usr/bin/env python3
"""Signing the packages: with a throwaway self-signed certificate in the environment, the installer
script signs the program, the uninstaller and the installer, and each signature verifies against
that certificate (the uninstaller as the installer writes it, installed under Wine); without one
nothing is signed."""

import argparse
import os
import subprocess
import tempfile

from cardwick_e2e import Environment, Run, check, wait_until

parser = argparse.ArgumentParser()
parser.add_argument("--make-installer", required=True)
parser.add_argument("--readme", required=True)
parser.add_argument("--license", required=True)
parser.add_argument("--icon", required=True)
args, rest = parser.parse_known_args()
env = Environment(rest)

# The installer's kind follows the program under test (the 32-bit tier runs x86 programs only).
ARCH = "x86" if env.x86 else "amd64"
# No space: /D= takes the rest of the line unquoted, and Wine would quote an argument with one.
INSTALL_DIR = "C:\\SigningTest"
INSTALL_PATH = os.path.join(env.prefix, "drive_c", "SigningTest")
work = tempfile.mkdtemp(prefix="cardwick-signing-")
cert, key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")


def make_installer(output, signing):
    environment = {k: v for k, v in os.environ.items() if not k.startswith("CARDWICK_SIGN")}
    environment.pop("CARDWICK_TIMESTAMP_URL", None)
    if signing:
        environment.update(CARDWICK_SIGN_CERT=cert, CARDWICK_SIGN_KEY=key)
    subprocess.run([args.make_installer, ARCH, env.cardwick, args.readme, args.license, args.icon,
                    os.environ.get("CARDWICK_VERSION", "1.2.0"), output], env=environment, check=True,
                   capture_output=True)


def verified(path):
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", path], capture_output=True,
                            text=True, errors="replace")
    return result.returncode == 0 and "Signature verification: ok" in result.stdout


with Run("signed packages") as run:
    with run.step("a throwaway self-signed certificate"):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=Cardwick throwaway signer"], check=True, capture_output=True)

    with run.step("no certificate: the installer is unsigned"):
        setup = os.path.join(work, "unsigned-setup.exe")
        make_installer(setup, signing=False)
        check(not verified(setup), "an installer made without a certificate is signed")

    with run.step("with it: the installer, the installed program and its uninstaller verify"):
        setup = os.path.join(work, "signed-setup.exe")
        make_installer(setup, signing=True)
        check(verified(setup), "the installer's signature does not verify")
        subprocess.run(["wine", setup, "/S", "/NOSTARTUP", "/D=" + INSTALL_DIR], check=True, capture_output=True,
                       timeout=180)
        for name in ("Cardwick.exe", "Uninstall.exe"):
            path = os.path.join(INSTALL_PATH, name)
            check(os.path.isfile(path), "no " + name)
            check(verified(path), "the installed %s's signature does not verify" % name)
        subprocess.run(["wine", INSTALL_DIR + "\\Uninstall.exe", "/S", "_?=" + INSTALL_DIR], check=True,
                       capture_output=True, timeout=180)
        # The uninstaller's own file goes once it has ended.
        wait_until(lambda: not os.path.exists(INSTALL_PATH), 120, "the test install to go")
