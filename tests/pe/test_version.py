"""The version resource that file dialogs show: the bytes assembled here from the published
VS_VERSIONINFO layout, and its version agreeing with the one the about box shows."""

import re
import struct

RT_VERSION, RT_STRING = 16, 6
ENGLISH_US, UNICODE_CODE_PAGE = 0x0409, 1200

VERSION = (1, 6, 0, 0)
STRINGS = [
    ("CompanyName", "Vexel developers"),
    ("FileDescription", "Vexel dispersion filter plug-in"),
    ("FileVersion", "1.6.0.0"),
    ("LegalCopyright", "Copyright (c) 2026 Vexel developers"),
    ("ProductName", "Vexel"),
    ("ProductVersion", "1.6.0.0"),
]


def pad4(data):
    return data + bytes(-len(data) % 4)


def node(key, value=b"", text=False, children=()):
    """One version node: wLength, wValueLength (words for text), wType, the key, the value and
    the children, each started on a 4-byte boundary."""
    data = pad4(bytes(6) + (key + "\0").encode("utf-16-le")) + value
    for child in children:
        data = pad4(data) + child
    value_length = len(value) // 2 if text else len(value)
    return struct.pack("<HHH", len(data), value_length, 1 if text else 0) + data[6:]


def text(key, value):
    return node(key, (value + "\0").encode("utf-16-le"), text=True)


def fixed_file_info():
    ms = (VERSION[0] << 16) | VERSION[1]
    ls = (VERSION[2] << 16) | VERSION[3]
    VOS_NT_WINDOWS32, VFT_DLL, VS_FFI_FILEFLAGSMASK = 0x40004, 2, 0x3F
    return struct.pack("<13I", 0xFEEF04BD, 0x00010000, ms, ls, ms, ls, VS_FFI_FILEFLAGSMASK, 0,
                       VOS_NT_WINDOWS32, VFT_DLL, 0, 0, 0)


EXPECTED = node("VS_VERSION_INFO", fixed_file_info(), children=[
    node("StringFileInfo", text=True, children=[
        node("040904B0", text=True, children=[text(k, v) for k, v in STRINGS])]),
    node("VarFileInfo", text=True, children=[
        node("Translation", struct.pack("<HH", ENGLISH_US, UNICODE_CODE_PAGE))]),
])


def about_version(resources):
    raw = resources[(RT_STRING, 1)][ENGLISH_US]
    length = struct.unpack_from("<H", raw, 2)[0]  # string 1 follows the empty string 0
    about = raw[4:4 + 2 * length].decode("utf-16-le")
    return re.search("\u7248\u672c ([0-9.]+)", about).group(1)  # 版本 1.6


def test_version_resource_bytes(resources):
    assert list(resources[(RT_VERSION, 1)]) == [ENGLISH_US]
    assert pad4(resources[(RT_VERSION, 1)][ENGLISH_US]) == pad4(EXPECTED)


def test_version_is_the_about_box_version(resources, image):
    shown = about_version(resources)
    assert shown == "1.6"
    assert ".".join(map(str, VERSION)).startswith(shown + ".")
    # What the system's file properties read, through an independent parser.
    info = {k.decode(): v.decode() for table in image.FileInfo[0] if hasattr(table, "StringTable")
            for st in table.StringTable for k, v in st.entries.items()}
    assert info == dict(STRINGS)
    fixed = image.VS_FIXEDFILEINFO[0]
    assert (fixed.FileVersionMS, fixed.FileVersionLS) == (0x10006, 0)
    assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x10006, 0)
