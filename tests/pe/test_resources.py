"""The resources the host reads before it runs any code, and the about-box strings, byte for byte.

Expected bytes are assembled here from the published layouts, not read from the resource script.
"""

import hashlib
import os
import struct

import pefile
import pytest
from conftest import MODULE_VARIABLES, read_resources

RT_STRING = 6
RT_DIALOG = 5
RT_VERSION = 16
ENGLISH_US = 1033
ENGLISH_ANY = 0x0009  # English of no particular country
# The user's texts (the about strings and the dialog) come in two languages: the Chinese ones under
# 1033, as every resource has always been, and the English ones beside them under 0x0009.
USER_TEXTS = {(RT_STRING, 1), (RT_DIALOG, "FILTERDLG")}


def four_cc(code):
    """A four-character code as the little-endian int32 whose top byte is its first character."""
    return struct.pack("<I", int.from_bytes(code, "big"))


def pipl_property(key, data):
    return four_cc(b"8BIM") + four_cc(key) + struct.pack("<ii", 0, len(data)) + data


def filter_case(input_handling, output_handling, flags1, flags2=0):
    return bytes([input_handling, output_handling, flags1, flags2])


STRAIGHT_DATA, FILL_MASK, BACKGROUND_ZAP = 1, 9, 10
DONT_COPY_SOURCE, WORKS_WITH_BLANK_DATA = 1, 2


def pascal(text):
    return bytes([len(text)]) + text


# The 64-bit module's terminology: the property that names it, and the resource itself.
SCOPE = b"c001c9f3-6e22-4225-ae7e-6cb3d48fc74d"
HSTM = pipl_property(
    b"hstm",
    struct.pack("<i", 0) + four_cc(b"Fltr") + four_cc(b"vexL") + struct.pack("<h", 16000)
    + SCOPE + b"\0" + bytes(1),  # zero-terminated, padded to 52 bytes
)
OPTIONAL_PARAMETER, DIRECT_IMAGE_FLAGS = 0x8000, 0xB000
TERMINOLOGY_KEYS = [(b"stretch", b"vxSt"), (b"angle", b"vxAn"), (b"height", b"vxHt"),
                    (b"width", b"vxWd"), (b"strength", b"vxSg"), (b"centre x", b"vxCx"),
                    (b"centre y", b"vxCy")]
EXPECTED_AETE = (
    struct.pack("<h", 1) + bytes([1, 0]) + struct.pack("<hhh", 0, 0, 1)  # version 1.0, one suite
    + pascal(b"Nolvarine") + pascal(b"") + four_cc(b"nolV") + struct.pack("<hhh", 1, 1, 1)
    + pascal(b"Vexel") + pascal(b"") + four_cc(b"Fltr") + four_cc(b"vexL")
    + four_cc(b"null") + pascal(b"") + struct.pack("<H", 0)
    + four_cc(b"#ImR") + pascal(b"") + struct.pack("<H", DIRECT_IMAGE_FLAGS)
    + struct.pack("<h", len(TERMINOLOGY_KEYS))
    + b"".join(pascal(name) + four_cc(key) + four_cc(b"long") + pascal(b"")
               + struct.pack("<H", OPTIONAL_PARAMETER) for name, key in TERMINOLOGY_KEYS)
    + struct.pack("<hhh", 0, 0, 0)  # no classes, comparison operators or enumerations
)


# The 64-bit module also offers Gray16, RGB48, CMYK64, DeepMultichannel and Duotone16 (bits 10,
# 11, 13, 14, 15 of the mode bit string), and names the same modes in its 'enbl' expression.
MODES_8BIT = bytes([0b01011001, 0b10000000, 0, 0])
MODES_16BIT = bytes([0b01011001, 0b10110111, 0, 0])
ENABLE_EXPRESSION = (
    b"in (PSHOP_ImageMode, GrayScaleMode, RGBMode, CMYKMode, MultichannelMode, DuotoneMode, "
    b"Gray16Mode, RGB48Mode, CMYK64Mode, DeepMultichannelMode, Duotone16Mode)"
)
ENBL = pipl_property(b"enbl", ENABLE_EXPRESSION + bytes(3))  # zero-terminated, padded to 160


def expected_pipl(code_property, extra_properties=(), modes=MODES_8BIT):
    """The property list with the code property of one build: 'wx86' (i686) or '8664' (x86-64),
    and the properties only that build has after the seven every build has."""
    return (
        struct.pack("<hii", 1, 0, 7 + len(extra_properties))
        + pipl_property(b"kind", four_cc(b"8BFM"))
        + pipl_property(b"name", bytes([8]) + b"Vexel..." + bytes(3))
        + pipl_property(b"catg", bytes([9]) + b"Nolvarine" + bytes(2))
        + pipl_property(b"vers", struct.pack("<I", (4 << 16) | 0))
        # grayscale, RGB, CMYK, multichannel | duotone, read from the most significant bit
        + pipl_property(b"mode", modes)
        + pipl_property(code_property, b"ENTRYPOINT1\0")
        + pipl_property(
            b"fici",
            filter_case(STRAIGHT_DATA, STRAIGHT_DATA, DONT_COPY_SOURCE) * 3
            + filter_case(BACKGROUND_ZAP, FILL_MASK, DONT_COPY_SOURCE | WORKS_WITH_BLANK_DATA) * 2
            + filter_case(BACKGROUND_ZAP, STRAIGHT_DATA, DONT_COPY_SOURCE) * 2,
        )
        + b"".join(extra_properties)
    )


EXPECTED_PIPL = {"x86": expected_pipl(b"wx86"),
                 "x64": expected_pipl(b"8664", [HSTM, ENBL], MODES_16BIT)}

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


def test_module_carries_exactly_the_expected_resources(resources, arch):
    terminology = {("AETE", 16000)} if arch == "x64" else set()
    assert set(resources) == terminology | {
        ("PIPL", 1),
        ("PIMI", 1),
        ("FLTD", 1),
        ("FLTS", 1),
        ("_8BFM", 1),
        (RT_STRING, 1),
        (RT_DIALOG, "FILTERDLG"),
        (RT_VERSION, 1),
    }
    for key in set(resources) - USER_TEXTS:
        only_english(resources, key)
    for key in USER_TEXTS:
        assert sorted(resources[key]) == [ENGLISH_ANY, ENGLISH_US], key


def test_property_list_bytes(resources, arch):
    pipl = only_english(resources, ("PIPL", 1))
    assert len(EXPECTED_PIPL[arch]) == {"x86": 198, "x64": 198 + 16 + 52 + 16 + 160}[arch]
    assert pipl == EXPECTED_PIPL[arch]
    # Each property starts where the previous one's data ends.
    code_key = {"x86": b"68xw", "x64": b"4668"}[arch]
    starts = [
        (10, b"dnik"), (30, b"eman"), (58, b"gtac"), (86, b"srev"),
        (106, b"edom"), (126, code_key), (154, b"icif"),
    ]
    if arch == "x64":
        starts += [(198, b"mtsh"), (266, b"lbne")]
        # 157 characters, the terminating zero and two bytes of padding, counted.
        assert struct.unpack_from("<i", pipl, 278) == (160,)
        assert pipl[282:442].rstrip(b"\0") == ENABLE_EXPRESSION
    for offset, key in starts:
        assert pipl[offset : offset + 8] == b"MIB8" + key


def test_terminology_bytes(resources, arch):
    if arch == "x86":
        return  # only the 64-bit module announces terminology
    assert only_english(resources, ("AETE", 16000)) == EXPECTED_AETE
    assert len(EXPECTED_AETE) == 199
    # Our keys and event start lower-case and hold an upper-case letter (host-reserved start upper).
    for code in [key for _, key in TERMINOLOGY_KEYS] + [b"vexL", b"nolV"]:
        assert code[:1].islower() and any(chr(c).isupper() for c in code)


def test_builds_differ_only_in_the_code_property_modes_and_terminology():
    x86, x64 = (read_resources(pefile.PE(os.environ[MODULE_VARIABLES[a]])) for a in ("x86", "x64"))
    assert set(x64) - set(x86) == {("AETE", 16000)} and set(x86) <= set(x64)
    differing = {key for key in x86 if x86[key] != x64[key]}
    assert differing == {("PIPL", 1)}
    code_at = slice(126, 154)
    assert x86[("PIPL", 1)][ENGLISH_US][code_at][:8] == b"MIB868xw"
    assert x64[("PIPL", 1)][ENGLISH_US][code_at][:8] == b"MIB84668"
    # The 64-bit mode bits offer the 16-bit modes too.
    assert x86[("PIPL", 1)][ENGLISH_US][122:124] == b"\x59\x80"
    assert x64[("PIPL", 1)][ENGLISH_US][122:124] == b"\x59\xb7"
    # Past the count, the mode bits and the code property, the 64-bit list only adds properties
    # at its end.
    unchanged = lambda pipl: pipl[10:122] + pipl[124:126] + pipl[154:198]  # noqa: E731
    assert unchanged(x86[("PIPL", 1)][ENGLISH_US]) == unchanged(x64[("PIPL", 1)][ENGLISH_US])


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


@pytest.mark.parametrize("language, head", [
    (ENGLISH_US, "Vexel Filter. \u7248\u672c 1.6\n"),  # 版本
    (ENGLISH_ANY, "Vexel Filter. Version 1.6\n"),
], ids=["chinese", "english"])
def test_about_strings(resources, language, head):
    raw = resources[(RT_STRING, 1)][language]
    strings = string_table_block(raw)
    assert [i for i, s in enumerate(strings) if s] == [1, 2]
    text, caption = strings[1], strings[2]

    assert text.startswith(head)
    notice = text[len(head) :]
    assert notice and "\n" not in notice and "\r" not in notice
    assert caption == "***** Vexel *****  " + notice
    if language == ENGLISH_US:
        # The Chinese word arrives as UTF-16 code units 7248 672C.
        assert bytes.fromhex("4872 2c67") in raw

    # Read as ANSI into 256- and 60-byte buffers, terminator included.
    assert len(text.encode("cp936")) <= 255
    assert len(caption.encode("cp936")) <= 59


# The Chinese texts as released, byte for byte (SHA-256 of the string block and of the dialog
# template); both builds carry the same.
PINNED_CHINESE = {
    (RT_STRING, 1): "24eddebd2b35fc40219529262d509870e925acb89fe60ce46f62c8eabe243a4e",
    (RT_DIALOG, "FILTERDLG"): "0d0b1de6cb8249ff5caf61436e40cb665dcc3567b1c6f3f844a812fb85339a08",
}


def test_chinese_texts_are_unchanged(resources):
    for key, digest in PINNED_CHINESE.items():
        assert hashlib.sha256(resources[key][ENGLISH_US]).hexdigest() == digest, key
