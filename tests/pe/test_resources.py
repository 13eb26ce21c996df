"""The resources the host reads before it runs any code, and the about-box strings, byte for byte.

Expected bytes are assembled here from the published layouts, not read from the resource script.
"""

import os
import struct

import pefile
from conftest import MODULE_VARIABLES, read_resources

RT_STRING = 6
RT_DIALOG = 5
RT_VERSION = 16
ENGLISH_US = 1033


def four_cc(code):
    """A four-character code as the little-endian int32 whose top byte is its first character."""
    return struct.pack("<I", int.from_bytes(code, "big"))


def pipl_property(key, data):
    return four_cc(b"8BIM") + four_cc(key) + struct.pack("<ii", 0, len(data)) + data


def filter_case(input_handling, output_handling, flags1, flags2=0):
    return bytes([input_handling, output_handling, flags1, flags2])


STRAIGHT_DATA, FILL_MASK, BACKGROUND_ZAP = 1, 9, 10
DONT_COPY_SOURCE, WORKS_WITH_BLANK_DATA = 1, 2


# The 64-bit module also offers Gray16, RGB48, CMYK64, DeepMultichannel and Duotone16 (bits 10,
# 11, 13, 14, 15 of the mode bit string), and names the same modes in its 'enbl' expression.
MODES_8BIT = bytes([0b01011001, 0b10000000, 0, 0])
MODES_16BIT = bytes([0b01011001, 0b10110111, 0, 0])
ENABLE_EXPRESSION = (
    b"in (PSHOP_ImageMode, GrayScaleMode, RGBMode, CMYKMode, MultichannelMode, DuotoneMode, "
    b"Gray16Mode, RGB48Mode, CMYK64Mode, DeepMultichannelMode, Duotone16Mode)"
)


def padded_to_four(data):
    return data + bytes(-len(data) % 4)


def expected_pipl(code_property, modes=MODES_8BIT, extra=()):
    """The property list with the code property of one build: 'wx86' (i686) or '8664' (x86-64)."""
    properties = [
        pipl_property(b"kind", four_cc(b"8BFM")),
        pipl_property(b"name", bytes([8]) + b"Vexel..." + bytes(3)),
        pipl_property(b"catg", bytes([9]) + b"Nolvarine" + bytes(2)),
        pipl_property(b"vers", struct.pack("<I", (4 << 16) | 0)),
        # grayscale, RGB, CMYK, multichannel | duotone, read from the most significant bit
        pipl_property(b"mode", modes),
        pipl_property(code_property, b"ENTRYPOINT1\0"),
        pipl_property(
            b"fici",
            filter_case(STRAIGHT_DATA, STRAIGHT_DATA, DONT_COPY_SOURCE) * 3
            + filter_case(BACKGROUND_ZAP, FILL_MASK, DONT_COPY_SOURCE | WORKS_WITH_BLANK_DATA) * 2
            + filter_case(BACKGROUND_ZAP, STRAIGHT_DATA, DONT_COPY_SOURCE) * 2,
        ),
        *extra,
    ]
    return struct.pack("<hii", 1, 0, len(properties)) + b"".join(properties)


EXPECTED_PIPL = {
    "x86": expected_pipl(b"wx86"),
    "x64": expected_pipl(
        b"8664",
        MODES_16BIT,
        [pipl_property(b"enbl", padded_to_four(ENABLE_EXPRESSION + b"\0"))],
    ),
}

EXPECTED_PIMI = (
    struct.pack("<h", 3)
    + b"Nolvarine\0"
    + struct.pack("<hhhhh", 4, 0, 0, 16, 0)
    + b"\xff\xff"
    + b"    "
)

EXPECTED_8BFM = struct.pack("<h", 3) + b"Vexel...\0"
EXPECTED_FLTS = bytes([0x00, 0x00, 0x03, 0x00])
EXPECTED_FLTD = bytes([0x00, 0x00]) + bytes([0x02, 0x00, 0x00, 0x00]) * 7


def only_english(resources, key):
    languages = resources[key]
    assert list(languages) == [ENGLISH_US], f"{key}: languages {list(languages)}"
    return languages[ENGLISH_US]


def test_module_carries_exactly_the_expected_resources(resources):
    assert set(resources) == {
        ("PIPL", 1),
        ("PIMI", 1),
        ("FLTD", 1),
        ("FLTS", 1),
        ("_8BFM", 1),
        (RT_STRING, 1),
        (RT_DIALOG, "FILTERDLG"),
        (RT_VERSION, 1),
    }
    for key in resources:
        only_english(resources, key)


def test_property_list_bytes(resources, arch):
    pipl = only_english(resources, ("PIPL", 1))
    assert len(EXPECTED_PIPL[arch]) == {"x86": 198, "x64": 374}[arch]
    assert pipl == EXPECTED_PIPL[arch]
    # Each property starts where the previous one's data ends.
    code_key = {"x86": b"68xw", "x64": b"4668"}[arch]
    starts = [
        (10, b"dnik"), (30, b"eman"), (58, b"gtac"), (86, b"srev"),
        (106, b"edom"), (126, code_key), (154, b"icif"),
    ]
    if arch == "x64":
        starts.append((198, b"lbne"))
        # 157 characters, the terminating zero and two bytes of padding.
        assert struct.unpack_from("<i", pipl, 210) == (160,)
        assert pipl[214:374].rstrip(b"\0") == ENABLE_EXPRESSION
    for offset, key in starts:
        assert pipl[offset : offset + 8] == b"MIB8" + key


def test_builds_differ_only_in_the_property_list():
    x86, x64 = (read_resources(pefile.PE(os.environ[MODULE_VARIABLES[a]])) for a in ("x86", "x64"))
    assert set(x86) == set(x64)
    differing = {key for key in x86 if x86[key] != x64[key]}
    assert differing == {("PIPL", 1)}
    # In it: the count, the 16-bit mode bits, the code property and the appended 'enbl'.
    x86_pipl, x64_pipl = x86[("PIPL", 1)][ENGLISH_US], x64[("PIPL", 1)][ENGLISH_US]
    assert x86_pipl[126:134] == b"MIB868xw" and x64_pipl[126:134] == b"MIB84668"
    assert x86_pipl[122:124] == b"\x59\x80" and x64_pipl[122:124] == b"\x59\xb7"
    same = lambda pipl: pipl[10:122] + pipl[124:126] + pipl[154:198]  # noqa: E731
    assert same(x86_pipl) == same(x64_pipl)


def test_older_plugin_resources_bytes(resources):
    assert only_english(resources, ("PIMI", 1)) == EXPECTED_PIMI
    assert len(EXPECTED_PIMI) == 28
    assert only_english(resources, ("_8BFM", 1)) == EXPECTED_8BFM
    assert len(EXPECTED_8BFM) == 11
    assert only_english(resources, ("FLTS", 1)) == EXPECTED_FLTS
    assert only_english(resources, ("FLTD", 1)) == EXPECTED_FLTD
    assert len(EXPECTED_FLTD) == 30


def string_table_block(data):
    """The 16 strings of one string-table block, decoded from their counted UTF-16."""
    strings, offset = [], 0
    for _ in range(16):
        (count,) = struct.unpack_from("<H", data, offset)
        offset += 2
        strings.append(data[offset : offset + 2 * count].decode("utf-16-le"))
        offset += 2 * count
    assert offset <= len(data)
    return strings


def test_about_strings(resources):
    raw = only_english(resources, (RT_STRING, 1))
    strings = string_table_block(raw)
    assert [i for i, s in enumerate(strings) if s] == [1, 2]
    text, caption = strings[1], strings[2]

    head = "Vexel Filter. \u7248\u672c 1.6\n"  # 版本
    assert text.startswith(head)
    notice = text[len(head) :]
    assert notice and "\n" not in notice and "\r" not in notice
    assert caption == "***** Vexel *****  " + notice
    # The Chinese word arrives as UTF-16 code units 7248 672C.
    assert bytes.fromhex("4872 2c67") in raw

    # LoadStringA fills 256- and 60-byte buffers in the ANSI code page, terminator included.
    assert len(text.encode("cp936")) <= 255
    assert len(caption.encode("cp936")) <= 59
