#!/usr/bin/env python3
"""Checks a built Cardwick.exe for what users rely on and no test program can show from inside:
the processor it is for, its version resource against the project's version and the names
allow-listing rules use, its manifest (common controls 6, the supported Windows versions,
per-monitor DPI awareness with its fallbacks, and no execution level: Windows virtualises the
settings file only for a program without one), and no MinGW runtime DLL among its imports (it is
copied alone onto the target machine).

usage: check_executable.py EXE --machine i386|amd64 --version 1.2.0.0
Exits 1 with one line per fault."""

import argparse
import struct
import sys
import xml.etree.ElementTree as ElementTree

MACHINES = {"i386": 0x014C, "amd64": 0x8664}
RT_VERSION = 16
RT_MANIFEST = 24

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
COMMON_CONTROLS = ("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df")
# Windows 7, 8, 8.1, and 10 and 11 (which share one entry).
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an executable (no MZ header)")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.directory = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, virtual_size, address, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((address, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return rva - address + raw
        raise ValueError("address 0x%X lies in no section" % rva)

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def imported_dlls(self):
        rva, size = self.directory[1]
        names = []
        at = self.offset(rva) if size else None
        while at is not None:
            name_rva = struct.unpack_from("<I", self.data, at + 12)[0]
            if name_rva == 0:
                break
            names.append(self.c_string(name_rva))
            at += 20
        return names

    def resources(self, wanted_type):
        """The data of every resource of one type, in every language."""
        rva, size = self.directory[2]
        if not size:
            return []
        base = self.offset(rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield ident, target

        found = []

        def collect(target):
            if target & 0x80000000:
                for _, child in entries(target & 0x7FFFFFFF):
                    collect(child)
            else:
                data_rva, data_size = struct.unpack_from("<II", self.data, base + target)
                start = self.offset(data_rva)
                found.append(self.data[start:start + data_size])

        for ident, target in entries(0):
            if ident == wanted_type:
                collect(target)
        return found


def version_blocks(block):
    """Walks a VS_VERSIONINFO tree: yields (key, value bytes, is text) for every node."""
    length, value_length, is_text = struct.unpack_from("<HHH", block, 0)
    end = block.index(b"\0\0", 6)
    while (end - 6) % 2:
        end = block.index(b"\0\0", end + 1)
    key = block[6:end].decode("utf-16-le")
    at = (end + 2 + 3) & ~3
    value_size = value_length * 2 if is_text else value_length
    yield key, block[at:at + value_size], is_text
    at = (at + value_size + 3) & ~3
    while at < length:
        child_length = struct.unpack_from("<H", block, at)[0]
        if child_length == 0:
            break
        yield from version_blocks(block[at:at + child_length])
        at = (at + child_length + 3) & ~3


def check(image, machine, version):
    faults = []
    if image.machine != MACHINES[machine]:
        faults.append("built for machine 0x%04X, not %s" % (image.machine, machine))

    for name in image.imported_dlls():
        lower = name.lower()
        if lower.startswith(("libstdc++", "libgcc", "libwinpthread")):
            faults.append("imports the MinGW runtime DLL %s: link it statically" % name)

    manifests = image.resources(RT_MANIFEST)
    if len(manifests) != 1:
        faults.append("%d manifests instead of one" % len(manifests))
    for manifest in manifests:
        faults += check_manifest(manifest, version)

    numbers = [int(part) for part in version.split(".")]
    numbers += [0] * (4 - len(numbers))
    texts = {}
    fixed = None
    infos = image.resources(RT_VERSION)
    if len(infos) != 1:
        faults.append("%d version resources instead of one" % len(infos))
    for info in infos:
        for key, value, is_text in version_blocks(info):
            if key == "VS_VERSION_INFO" and len(value) >= 52:
                fixed = struct.unpack_from("<13I", value)
            elif is_text:
                texts[key] = value.decode("utf-16-le").rstrip("\0")
    if infos:
        expected = ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3])
        if fixed is None or fixed[0] != 0xFEEF04BD:
            faults.append("the version resource has no fixed file information")
        else:
            for name, words in (("file", fixed[2:4]), ("product", fixed[4:6])):
                got = "%d.%d.%d.%d" % (words[0] >> 16, words[0] & 0xFFFF, words[1] >> 16, words[1] & 0xFFFF)
                if words != expected:
                    faults.append("%s version %s, the project says %s" % (name, got, version))
        for key in ("FileVersion", "ProductVersion"):
            if texts.get(key) != version:
                faults.append("%s text %r, the project says %s" % (key, texts.get(key), version))
        # Allow-listing rules name the program by these two.
        for key, wanted in (("InternalName", "Cardwick"), ("OriginalFilename", "Cardwick.exe")):
            if texts.get(key) != wanted:
                faults.append("%s %r, not %r" % (key, texts.get(key), wanted))
    return faults


def check_manifest(text, version):
    """The faults of one application manifest."""
    faults = []
    if b"requestedExecutionLevel" in text or b"trustInfo" in text:
        faults.append("the manifest asks for an execution level: Windows would not virtualise "
                      "the settings file for a standard user")
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        return faults + ["the manifest is not well-formed XML: %s" % error]

    identity = root.find(ASM_V1 + "assemblyIdentity")
    if identity is None or identity.get("version") != version:
        faults.append("the manifest's own version is %r, the project says %s"
                      % (None if identity is None else identity.get("version"), version))

    dependencies = [(a.get("name"), a.get("version"), (a.get("publicKeyToken") or "").lower())
                    for a in root.iter(ASM_V1 + "assemblyIdentity") if a is not identity]
    if COMMON_CONTROLS not in dependencies:
        faults.append("the manifest does not depend on common controls version 6")

    listed = {(e.get("Id") or "").lower() for e in root.iter(COMPATIBILITY + "supportedOS")}
    for guid, name in SUPPORTED_OS.items():
        if guid not in listed:
            faults.append("the manifest does not list %s as supported" % name)

    def setting(tag):
        found = [e.text or "" for e in root.iter(tag)]
        return found[0].strip().lower() if len(found) == 1 else None

    # Per monitor v2 where Windows has it (10 1703 on), else per monitor (8.1), else system DPI.
    awareness = setting(SETTINGS_2016 + "dpiAwareness")
    if awareness is None or [p.strip() for p in awareness.split(",")][:2] != ["permonitorv2", "permonitor"]:
        faults.append("the manifest's dpiAwareness is %r, not \"PerMonitorV2, PerMonitor\"" % awareness)
    if setting(SETTINGS_2005 + "dpiAware") != "true/pm":
        faults.append("the manifest's dpiAware is %r, not \"true/pm\"" % setting(SETTINGS_2005 + "dpiAware"))
    return faults


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()
    with open(args.exe, "rb") as f:
        image = Image(f.read())
    faults = check(image, args.machine, args.version)
    for fault in faults:
        print("%s: %s" % (args.exe, fault), file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
