"""The dialog in the user's language under Wine: a Chinese UI language gets the Chinese texts and
every other the English ones, in every control and the caption; each text is drawn (distinct
glyphs, not substitutes) and fits its control."""

import itertools

import numpy as np
import pytest

from dialog_helpers import open_dialog

CANCEL = 2
TEXTS = {
    "zh_CN.UTF-8": {
        "caption": "Vexel 滤镜 - ",
        "labels": {440: "伸展:", 152: "角度:", 155: "高度:", 109: "宽度:", 112: "强度:"},
        "buttons": {102: "预览", 2: "取消", 1: "确定", 103: "还原"},
    },
    "en_US.UTF-8": {
        "caption": "Vexel Filter - ",
        "labels": {440: "Stretch:", 152: "Angle:", 155: "Height:", 109: "Width:",
                   112: "Strength:"},
        "buttons": {102: "Preview", 2: "Cancel", 1: "OK", 103: "Restore"},
    },
}
NOTICE = "Copyright (c) 2026 Vexel developers"
# Room a push button keeps around its text: its border and the focus rectangle inside it.
BUTTON_MARGIN = 6


@pytest.mark.parametrize("lang", sorted(TEXTS), ids=["english", "chinese"])
def test_texts_of_the_user_language_are_drawn_and_fit(lang):
    texts = TEXTS[lang]
    ids = list(texts["labels"]) + list(texts["buttons"])
    run = open_dialog(["controls", "capture dialog.png"] + [f"text-extent {i}" for i in ids]
                      + [f"click {CANCEL}", "wait-closed 5000"], lang=lang)
    assert run.script_value("wait-dialog")[0] == texts["caption"] + NOTICE
    dialog = run.captures["dialog.png"]
    controls = {c["id"]: c for c in run.script_value("controls")[0]}
    for control_id, text in {**texts["labels"], **texts["buttons"]}.items():
        assert controls[control_id]["text"] == text

    for (control_id, extent) in zip(ids, run.script_value("text-extent")):
        margin = BUTTON_MARGIN if control_id in texts["buttons"] else 0
        assert extent["text_width"] + margin <= extent["client_width"], (control_id, extent)
        assert extent["text_height"] <= extent["client_height"], (control_id, extent)

    for group in (texts["labels"], texts["buttons"]):
        ink = {}
        for control_id, text in group.items():
            left, top, right, bottom = controls[control_id]["rect"]
            crop = dialog[top:bottom, left:right].astype(int)
            dark = crop.max(axis=2) < 160
            least = 40 if lang.startswith("zh") else 5 * len(text)
            assert dark.sum() >= least, (text, dark.sum())
            ink[text] = dark
        # Each text looks different: substituted glyphs (boxes, "?") would all look alike.
        for (a, ink_a), (b, ink_b) in itertools.combinations(ink.items(), 2):
            assert ink_a.shape != ink_b.shape or not np.array_equal(ink_a, ink_b), (a, b)
