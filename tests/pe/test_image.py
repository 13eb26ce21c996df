"""The module image: 32-bit x86 DLL for subsystem 3.10, its exports and its imports."""

import pefile

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"}


def test_pe32_i386_dll_for_windows_3_10(image):
    assert image.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]
    assert image.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE
    assert image.FILE_HEADER.Characteristics & 0x2000, "not marked as a DLL"
    assert image.OPTIONAL_HEADER.Subsystem == 2  # Windows GUI
    assert (
        image.OPTIONAL_HEADER.MajorSubsystemVersion,
        image.OPTIONAL_HEADER.MinorSubsystemVersion,
    ) == (3, 10)
    assert image.OPTIONAL_HEADER.AddressOfEntryPoint != 0


def test_exports_by_name_and_ordinal(image):
    exports = image.DIRECTORY_ENTRY_EXPORT
    assert exports.name == b"VEXEL.dll"
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
    assert {"kernel32.dll", "user32.dll"} <= imported
