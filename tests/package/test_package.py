"""The release zip, as a user unpacks it: the files and where they are, the modules built for
their folders' architectures, the checksums, and the same bytes every time it is made."""

import hashlib
import io
import os
import subprocess
import sys
import zipfile

import pefile
import pytest

BUILD = os.environ.get("VEXEL_BUILD", "")
SOURCE = os.environ.get("VEXEL_SOURCE", "")
I386, AMD64, ARM64 = 0x14C, 0x8664, 0xAA64
EXPECTED_FILES = ["LICENSE", "README.txt", "SHA256SUMS", "arm64/VexelArm64.8bf",
                  "x64/Vexel64.8bf", "x86/Vexel.8bf"]


def make_zip(out_dir):
    result = subprocess.run([sys.executable, os.path.join(SOURCE, "scripts", "package.py"), BUILD,
                             str(out_dir)], capture_output=True, text=True, check=True)
    return result.stdout.strip()


@pytest.fixture(scope="module")
def package(tmp_path_factory):
    assert BUILD and SOURCE, "VEXEL_BUILD and VEXEL_SOURCE must name the build and the sources"
    path = make_zip(tmp_path_factory.mktemp("dist"))
    with open(path, "rb") as f:
        return path, f.read()


def product_version(data):
    pe = pefile.PE(data=data)
    tables = [t for info in pe.FileInfo[0] for t in getattr(info, "StringTable", [])]
    return tables[0].entries[b"ProductVersion"].decode()


def test_the_zip_holds_the_modules_the_guide_the_licence_and_their_sums(package):
    path, data = package
    archive = zipfile.ZipFile(io.BytesIO(data))
    assert archive.testzip() is None
    assert archive.namelist() == EXPECTED_FILES
    files = {name: archive.read(name) for name in EXPECTED_FILES}
    # Each module is the built one, for its folder's architecture.
    for name, built, machine in [("x86/Vexel.8bf", "win32/Vexel.8bf", I386),
                                 ("x64/Vexel64.8bf", "win64/Vexel64.8bf", AMD64),
                                 ("arm64/VexelArm64.8bf", "arm64/VexelArm64.8bf", ARM64)]:
        with open(os.path.join(BUILD, built), "rb") as f:
            assert files[name] == f.read(), name
        assert pefile.PE(data=files[name]).FILE_HEADER.Machine == machine, name
    # Named after the version the modules show (about box 1.6, version resource 1.6.0.0).
    version = product_version(files["x86/Vexel.8bf"])
    assert version == product_version(files["x64/Vexel64.8bf"]) == "1.6.0.0"
    assert product_version(files["arm64/VexelArm64.8bf"]) == version
    assert os.path.basename(path) == "Vexel-1.6.zip"
    # sha256sum -c format over every other file.
    lines = files["SHA256SUMS"].decode().splitlines()
    assert [line.split("  ", 1)[1] for line in lines] == sorted(set(EXPECTED_FILES) -
                                                               {"SHA256SUMS"})
    for line in lines:
        digest, name = line.split("  ", 1)
        assert hashlib.sha256(files[name]).hexdigest() == digest, name
    guide = files["README.txt"].decode("utf-8")
    assert "\r\n" in guide and "\n" not in guide.replace("\r\n", "")
    assert guide.startswith("Vexel 1.6 ")
    assert "x86\\Vexel.8bf" in guide and "x64\\Vexel64.8bf" in guide
    assert "arm64\\VexelArm64.8bf" in guide
    assert files["LICENSE"].startswith(b"MIT License")
    assert b"Copyright (c) 2026 Vexel developers" in files["LICENSE"]


def test_every_entry_has_fixed_time_and_permissions(package):
    for info in zipfile.ZipFile(io.BytesIO(package[1])).infolist():
        assert info.date_time == (2026, 1, 1, 0, 0, 0), info.filename
        assert info.external_attr >> 16 == 0o644, info.filename


def test_making_it_again_gives_the_same_bytes(package, tmp_path):
    with open(make_zip(tmp_path), "rb") as f:
        assert f.read() == package[1]
