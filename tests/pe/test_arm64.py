"""The ARM64 module image: a PE32+ DLL for ARM64 with the 64-bit module's exports and resources,
whose property list names the entry point under the ARM64 code property, importing only system
DLLs and built from objects that neither throw nor allocate."""

import glob
import os
import subprocess

import pefile
import pytest

from conftest import read_resources
from test_boundary import FORBIDDEN
from test_image import SYSTEM_DLLS

ARM64 = os.environ.get("VEXEL_PLUGINARM64", "")
X64 = os.environ.get("VEXEL_PLUGIN64", "")
IMAGE_FILE_MACHINE_ARM64 = 0xAA64
CODE_PROPERTY_AT = slice(126, 154)  # the seventh property of the list: the code property
ENGLISH_US = 1033

pytestmark = pytest.mark.skipif(not os.path.isfile(ARM64),
                                reason=f"the ARM64 module was not built: {ARM64 or 'not named'}")


@pytest.fixture(scope="module")
def image():
    return pefile.PE(ARM64)


def test_dll_for_windows_gui_on_arm64(image):
    assert image.FILE_HEADER.Machine == IMAGE_FILE_MACHINE_ARM64
    assert image.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS
    assert image.FILE_HEADER.Characteristics & 0x2000, "not marked as a DLL"
    assert image.OPTIONAL_HEADER.Subsystem == 2  # Windows GUI
    assert (image.OPTIONAL_HEADER.MajorSubsystemVersion,
            image.OPTIONAL_HEADER.MinorSubsystemVersion) == (6, 2)
    assert image.FILE_HEADER.TimeDateStamp == 0  # reproducible
    # Entered at DllMain itself: no runtime start-up code, so nothing may need constructing.
    assert not {s.Name.rstrip(b"\0") for s in image.sections} & {b".ctors", b".CRT", b".tls"}
    entry = image.OPTIONAL_HEADER.AddressOfEntryPoint
    assert any(s.contains_rva(entry) and s.Name.rstrip(b"\0") == b".text" for s in image.sections)


def test_exports_and_imports(image):
    assert {s.name: s.ordinal for s in image.DIRECTORY_ENTRY_EXPORT.symbols} == {
        b"ENTRYPOINT1": 1, b"big_procedure": 2, b"small_procedure": 3, b"FilterDlg": 4}
    imported = {entry.dll.decode().lower() for entry in image.DIRECTORY_ENTRY_IMPORT}
    assert imported <= SYSTEM_DLLS, f"unexpected imports: {imported - SYSTEM_DLLS}"
    assert {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll"} <= imported


def test_resources_are_the_x64_ones_but_for_the_code_property(image):
    arm64, x64 = read_resources(image), read_resources(pefile.PE(X64))
    assert set(arm64) == set(x64)
    assert {key for key in x64 if arm64[key] != x64[key]} == {("PIPL", 1)}
    pipl, pipl_x64 = arm64[("PIPL", 1)][ENGLISH_US], x64[("PIPL", 1)][ENGLISH_US]
    # 'wa64' (0x77613634) stored as the other keys are: the bytes 34 36 61 77.
    assert pipl[CODE_PROPERTY_AT] == b"MIB8" + bytes([0x34, 0x36, 0x61, 0x77]) + bytes(4) + (
        12).to_bytes(4, "little") + b"ENTRYPOINT1\0"
    assert pipl_x64[CODE_PROPERTY_AT][:8] == b"MIB84668"
    assert pipl[:126] + pipl[154:] == pipl_x64[:126] + pipl_x64[154:]


def test_module_objects_neither_throw_nor_allocate():
    build = os.path.dirname(ARM64)
    objects = glob.glob(os.path.join(build, "CMakeFiles", "vexel_module_objects.dir", "**",
                                     "*.obj"), recursive=True)
    assert len(objects) > 20, f"module objects not found under {build}"
    listing = subprocess.run(["llvm-nm-14", "--undefined-only", *objects], check=True,
                             capture_output=True, text=True).stdout
    undefined = {line.split()[-1].removeprefix("__imp_") for line in listing.splitlines()
                 if line.strip().startswith("U ")}
    assert sorted(n for n in undefined if any(n.startswith(f) for f in FORBIDDEN)) == []
