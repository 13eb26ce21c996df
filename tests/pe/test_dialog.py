"""The parameter dialog template FILTERDLG, decoded field by field: the Chinese one (under the
language id 1033 it has always had) and the English one (English of no country, 0x0009), the same
but for their texts and font."""

import struct

import pytest

RT_DIALOG = 5

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_GROUP, WS_TABSTOP = 0x00C00000, 0x00800000, 0x00020000, 0x00010000
DS_SETFONT = 0x40
BS_PUSHBUTTON, BS_DEFPUSHBUTTON = 0, 1
SS_RIGHT, ES_LEFT, SBS_HORZ = 2, 0, 0
# Predefined control classes are stored as ordinals.
BUTTON, EDIT, STATIC, SCROLLBAR = 0x80, 0x81, 0x82, 0x84

CHILD = WS_CHILD | WS_VISIBLE
BUTTON_STYLE = CHILD | WS_TABSTOP | BS_PUSHBUTTON
LABEL_STYLE = CHILD | WS_GROUP | SS_RIGHT
EDIT_STYLE = CHILD | WS_BORDER | WS_TABSTOP | ES_LEFT
BAR_STYLE = CHILD | SBS_HORZ

CHINESE, ENGLISH = 1033, 0x0009  # resource languages of the two templates
# The texts of the items that have one, by id, in each language.
TEXTS = {
    CHINESE: {102: "预览", 2: "取消", 1: "确定", 103: "还原", 440: "伸展:", 152: "角度:",
              155: "高度:", 109: "宽度:", 112: "强度:"},
    ENGLISH: {102: "Preview", 2: "Cancel", 1: "OK", 103: "Restore", 440: "Stretch:",
              152: "Angle:", 155: "Height:", 109: "Width:", 112: "Strength:"},
}
CAPTION_HEAD = {CHINESE: "Vexel \u6ee4\u955c - ", ENGLISH: "Vexel Filter - "}  # 滤镜
FONT = {CHINESE: (9, "\u5b8b\u4f53"), ENGLISH: (8, "MS Shell Dlg")}  # 9-point 宋体, U+5B8B U+4F53

# (id, class, text, (x, y, cx, cy), style), in template (tab) order; a text of None is the
# language's.
EXPECTED_ITEMS = [
    (100, "big_view", "", (5, 5, 180, 180), CHILD | WS_BORDER),
    (101, "small_view", "", (190, 5, 90, 90), CHILD | WS_BORDER),
    (102, BUTTON, None, (290, 5, 40, 14), BUTTON_STYLE | WS_GROUP | BS_DEFPUSHBUTTON),
    (2, BUTTON, None, (290, 25, 40, 14), BUTTON_STYLE),
    (1, BUTTON, None, (290, 45, 40, 14), BUTTON_STYLE),
    (103, BUTTON, None, (290, 65, 40, 14), BUTTON_STYLE),
    (440, STATIC, None, (193, 104, 39, 10), LABEL_STYLE),
    (152, STATIC, None, (193, 119, 39, 10), LABEL_STYLE),
    (155, STATIC, None, (193, 134, 39, 10), LABEL_STYLE),
    (109, STATIC, None, (193, 148, 39, 10), LABEL_STYLE),
    (112, STATIC, None, (193, 163, 39, 10), LABEL_STYLE),
    (441, EDIT, "", (235, 102, 20, 12), EDIT_STYLE | WS_GROUP),
    (153, EDIT, "", (235, 117, 20, 12), EDIT_STYLE),
    (156, EDIT, "", (235, 132, 20, 12), EDIT_STYLE),
    (114, EDIT, "", (235, 147, 20, 12), EDIT_STYLE),
    (117, EDIT, "", (235, 162, 20, 12), EDIT_STYLE),
    (442, SCROLLBAR, "", (258, 103, 76, 10), BAR_STYLE | WS_GROUP),
    (154, SCROLLBAR, "", (258, 118, 76, 10), BAR_STYLE),
    (157, SCROLLBAR, "", (258, 133, 76, 10), BAR_STYLE),
    (119, SCROLLBAR, "", (258, 148, 76, 10), BAR_STYLE),
    (122, SCROLLBAR, "", (258, 163, 76, 10), BAR_STYLE),
]


class Reader:
    def __init__(self, data):
        self.data, self.offset = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.offset)
        self.offset += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.offset
        while self.data[end : end + 2] != b"\0\0":
            end += 2
        value = self.data[self.offset : end].decode("utf-16-le")
        self.offset = end + 2
        return value

    def name_or_ordinal(self):
        if self.data[self.offset : self.offset + 2] == b"\xff\xff":
            self.offset += 2
            return self.take("H")
        return self.text()

    def align_dword(self):
        self.offset = (self.offset + 3) & ~3


def decode_template(data):
    r = Reader(data)
    dialog = {}
    dialog["style"], dialog["exstyle"], count = r.take("IIH")
    dialog["rect"] = r.take("hhhh")
    dialog["menu"] = r.name_or_ordinal()
    dialog["class"] = r.name_or_ordinal()
    dialog["caption"] = r.text()
    dialog["font"] = (r.take("H"), r.text()) if dialog["style"] & DS_SETFONT else None
    dialog["items"] = []
    for _ in range(count):
        r.align_dword()
        style, exstyle = r.take("II")
        rect = r.take("hhhh")
        item_id = r.take("H")
        item_class = r.name_or_ordinal()
        item_text = r.name_or_ordinal()
        extra = r.take("H")
        r.offset += extra
        dialog["items"].append((item_id, item_class, item_text, rect, style, exstyle))
    assert r.offset == len(data), "template has trailing bytes"
    return dialog


def filterdlg(resources, language):
    languages = resources[(RT_DIALOG, "FILTERDLG")]
    assert sorted(languages) == [ENGLISH, CHINESE]
    return decode_template(languages[language])


by_language = pytest.mark.parametrize("language", [CHINESE, ENGLISH], ids=["chinese", "english"])


@by_language
def test_dialog_frame(resources, language):
    dialog = filterdlg(resources, language)
    assert dialog["style"] == WS_POPUP | WS_CAPTION | DS_SETFONT
    assert dialog["exstyle"] == 0
    assert dialog["rect"] == (0, 20, 340, 191)
    assert dialog["menu"] == ""
    assert dialog["class"] == ""
    assert dialog["font"] == FONT[language]


@by_language
def test_caption_ends_with_the_about_box_notice(resources, language):
    caption = filterdlg(resources, language)["caption"]
    assert caption.startswith(CAPTION_HEAD[language])
    notice = caption[len(CAPTION_HEAD[language]) :]
    strings = resources[(6, 1)][language]
    assert notice and notice.encode("utf-16-le") in strings


@by_language
def test_items_in_tab_order(resources, language):
    items = filterdlg(resources, language)["items"]
    assert len(items) == 21
    for index, (actual, expected) in enumerate(zip(items, EXPECTED_ITEMS)):
        item_id, item_class, text, rect, style, exstyle = actual
        want_id, want_class, want_text, want_rect, want_style = expected
        want_text = TEXTS[language][want_id] if want_text is None else want_text
        where = f"item {index} (id {want_id})"
        assert item_id == want_id, where
        if isinstance(want_class, str):
            # The resource compiler upper-cases custom class names; class lookup ignores case.
            assert isinstance(item_class, str) and item_class.lower() == want_class, where
        else:
            assert item_class == want_class, where
        assert text == want_text, where
        assert rect == want_rect, where
        assert style == want_style, f"{where}: style {style:#010x}"
        assert exstyle == 0, where


def test_chinese_texts_arrive_as_utf16(resources):
    raw = resources[(RT_DIALOG, "FILTERDLG")][1033]
    # 预览 U+9884 U+89C8 and 伸展: U+4F38 U+5C55 ':' as little-endian code units.
    assert bytes.fromhex("8498 c889 0000") in raw
    assert bytes.fromhex("384f 555c 3a00 0000") in raw
