"""Writes the release zip from built modules: Vexel-<version>.zip with x86/Vexel.8bf,
x64/Vexel64.8bf, arm64/VexelArm64.8bf, README.txt (the install guide), LICENSE and SHA256SUMS.

    python3 scripts/package.py BUILD_DIR OUT_DIR      # prints the zip's path

The version is the one the about boxes show (string 1 of the module's string table), checked
against the version resource. The zip is the same bytes every time for the same modules: fixed
entry order, timestamps, permissions and compression.
"""

import hashlib
import os
import re
import struct
import sys
import zipfile

import pefile

RT_STRING, RT_VERSION = 6, 16
ZIP_TIME = (2026, 1, 1, 0, 0, 0)  # no wall-clock time in the package
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODULES = [("x86/Vexel.8bf", "win32/Vexel.8bf"), ("x64/Vexel64.8bf", "win64/Vexel64.8bf"),
           ("arm64/VexelArm64.8bf", "arm64/VexelArm64.8bf")]


def about_version(path):
    """The version in the about boxes' text ("版本 1.6", "Version 1.6"), the same in every
    language."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = set()
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != RT_STRING:
            continue
        for name_entry in type_entry.directory.entries:
            if name_entry.id != 1:  # strings 0..15
                continue
            for language_entry in name_entry.directory.entries:
                data = language_entry.data.struct
                raw = pe.get_data(data.OffsetToData, data.Size)
                offset, strings = 0, []
                while offset + 2 <= len(raw) and len(strings) < 16:
                    (count,) = struct.unpack_from("<H", raw, offset)
                    strings.append(raw[offset + 2:offset + 2 + 2 * count].decode("utf-16-le"))
                    offset += 2 + 2 * count
                version = re.search("(?:\u7248\u672c|Version) ([0-9]+(?:\\.[0-9]+)*)",
                                    strings[1])
                if version:
                    found.add(version.group(1))
    if len(found) != 1:
        raise SystemExit(f"{path}: no single version in the about boxes' texts: {sorted(found)}")
    return found.pop()


def product_version(path):
    pe = pefile.PE(path)
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for table in getattr(info, "StringTable", []):
            version = table.entries.get(b"ProductVersion")
            if version:
                return version.decode()
    raise SystemExit(f"{path}: no version resource")


def entry(name, data):
    info = zipfile.ZipInfo(name, ZIP_TIME)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3  # Unix, so the permissions below are what unzip applies
    info.external_attr = 0o644 << 16
    return info, data


def install_guide(version):
    with open(os.path.join(ROOT, "docs", "install.txt"), encoding="utf-8") as f:
        text = f.read().replace("@VERSION@", version)
    # Windows users open it in Notepad.
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def build_zip(build_dir, out_dir):
    files = {}
    versions = set()
    for name, built in MODULES:
        path = os.path.join(build_dir, built)
        if not os.path.isfile(path):
            raise SystemExit(f"{path} is missing: build the modules first (scripts/build.sh)")
        with open(path, "rb") as f:
            files[name] = f.read()
        shown = about_version(path)
        if not product_version(path).startswith(shown + "."):
            raise SystemExit(f"{path}: the version resource does not match the about box's "
                             f"version {shown}")
        versions.add(shown)
    if len(versions) != 1:
        raise SystemExit(f"the modules show different versions: {sorted(versions)}")
    version = versions.pop()
    files["README.txt"] = install_guide(version)
    with open(os.path.join(ROOT, "LICENSE"), "rb") as f:
        files["LICENSE"] = f.read()
    sums = "".join(f"{hashlib.sha256(files[n]).hexdigest()}  {n}\n" for n in sorted(files))
    files["SHA256SUMS"] = sums.encode()

    os.makedirs(out_dir, exist_ok=True)
    target = os.path.join(out_dir, f"Vexel-{version}.zip")
    temporary = target + ".tmp"
    with zipfile.ZipFile(temporary, "w") as archive:
        for name in sorted(files):
            info, data = entry(name, files[name])
            archive.writestr(info, data, compresslevel=9)
    os.replace(temporary, target)
    return target


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit("usage: package.py BUILD_DIR OUT_DIR")
    print(build_zip(sys.argv[1], sys.argv[2]))
