"""The module images: a 32-bit x86 DLL for subsystem 3.10 and a 64-bit x86-64 one for 5.02, their
exports and their imports."""

import pefile

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll"}


# machine, optional header magic, subsystem version, module name in the export directory
EXPECTED_IMAGE = {
    "x86": ("IMAGE_FILE_MACHINE_I386", pefile.OPTIONAL_HEADER_MAGIC_PE, (3, 10), b"VEXEL.dll"),
    "x64": ("IMAGE_FILE_MACHINE_AMD64", pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS, (5, 2), b"VEXEL64.dll"),
}


def test_dll_for_windows_gui_on_its_processor(image, arch):
    machine, magic, subsystem_version, _ = EXPECTED_IMAGE[arch]
    assert image.FILE_HEADER.Machine == pefile.MACHINE_TYPE[machine]
    assert image.OPTIONAL_HEADER.Magic == magic
    assert image.FILE_HEADER.Characteristics & 0x2000, "not marked as a DLL"
    assert image.OPTIONAL_HEADER.Subsystem == 2  # Windows GUI
    assert (
        image.OPTIONAL_HEADER.MajorSubsystemVersion,
        image.OPTIONAL_HEADER.MinorSubsystemVersion,
    ) == subsystem_version
    assert image.OPTIONAL_HEADER.AddressOfEntryPoint != 0


def test_exports_by_name_and_ordinal(image, arch):
    exports = image.DIRECTORY_ENTRY_EXPORT
    assert exports.name == EXPECTED_IMAGE[arch][3]
    assert {symbol.name: symbol.ordinal for symbol in exports.symbols} == {
        b"ENTRYPOINT1": 1,
        b"big_procedure": 2,
        b"small_procedure": 3,
        b"FilterDlg": 4,
    }
    assert all(not symbol.forwarder for symbol in exports.symbols)


def test_imports_only_system_dlls(image):
    imported = {entry.dll.decode().lower() for entry in image.DIRECTORY_ENTRY_IMPORT}
    assert imported <= SYSTEM_DLLS, f"unexpected imports: {imported - SYSTEM_DLLS}"
    assert {"kernel32.dll", "user32.dll", "advapi32.dll"} <= imported
