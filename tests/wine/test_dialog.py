"""The parameter dialog under Wine, driven with real messages: value rows, validation, scroll
bars, the four buttons and what OK and Cancel leave in the saved parameter block."""

import numpy as np
import pytest

from dialog_helpers import IMAGE_HEIGHT, IMAGE_WIDTH, Geometry, gradient_image, open_dialog, \
    saved_block
from harness import NO_ERR, PROFILES, REPORTED, param_block

ANGLE_EDIT, STRETCH_EDIT, HEIGHT_EDIT, WIDTH_EDIT, STRENGTH_EDIT = 153, 441, 156, 114, 117
ANGLE_BAR, STRETCH_BAR, HEIGHT_BAR, WIDTH_BAR, STRENGTH_BAR = 154, 442, 157, 119, 122
PREVIEW, CANCEL, OK, RESTORE = 102, 2, 1, 103
BIG_VIEW = 100


def focus_id(run, index):
    return run.script_value("focus")[index]["id"]


def filtered_size(profile):
    """The filter rectangle's size: the whole test image, or less what the host leaves out."""
    lost = 1 if profile.edge_lost else 0
    return IMAGE_WIDTH - lost, IMAGE_HEIGHT - lost


# OK and Cancel as every kind of host drives them (see docs/hosts.md).
@pytest.mark.parametrize("profile", PROFILES, ids=[p.name for p in PROFILES])
def test_ok_stores_the_five_values_and_the_centre(profile):
    run = open_dialog([
        f"set-text {ANGLE_EDIT} 135", f"set-text {STRETCH_EDIT} 33",
        f"set-text {STRENGTH_EDIT} 70", f"set-text {HEIGHT_EDIT} 40",
        f"set-text {WIDTH_EDIT} 60",
        f"mouse-down {BIG_VIEW} 50 40", f"mouse-up {BIG_VIEW} 50 40",
        f"capture-control {BIG_VIEW} big.png",
        f"click {OK}", "wait-closed 5000"], profile=profile)
    geometry = Geometry(run.captures["big.png"], *filtered_size(profile))
    assert run.results()["continue"] == NO_ERR
    assert ("finish" in run.results()) == profile.finish_after_success
    assert run.params == param_block(centerX=geometry.to_image(50), centerY=geometry.to_image(40),
                                     angle=135, stretch=33, strength=70, height=40, width=60,
                                     showDialog=0)


@pytest.mark.parametrize("profile", PROFILES, ids=[p.name for p in PROFILES])
def test_cancel_keeps_settings_and_centre_and_ends_the_run(profile):
    stored = dict(centerX=20, centerY=30, angle=45, stretch=7, strength=80, height=30, width=25)
    run = open_dialog([
        f"set-text {ANGLE_EDIT} 200", f"set-text {STRENGTH_EDIT} abc",
        f"mouse-down {BIG_VIEW} 10 10", f"mouse-up {BIG_VIEW} 10 10",
        f"click {CANCEL}", "wait-closed 5000"], params=saved_block(**stored), profile=profile)
    assert run.results()["continue"] == REPORTED
    assert ("finish" in run.results()) == profile.finish_after_failure
    # A host that hands over no block every run gets the defaults back, else its own settings.
    kept = {} if profile.null_handle else stored
    assert run.params == param_block(showDialog=0, **kept)
    assert np.array_equal(run.output, gradient_image())


def test_invalid_text_beeps_selects_and_keeps_the_dialog_open():
    script = []
    for text in ["", "-5", "400"]:
        script += [f"set-text {ANGLE_EDIT} {text}".rstrip(),
                   f"click {PREVIEW}", "beeps", "focus",
                   f"click {OK}", "beeps", "focus"]
    # Two invalid rows: one beep each, the focus ends on the later one (width after angle).
    script += [f"set-text {ANGLE_EDIT} 400", f"set-text {WIDTH_EDIT} 4",
               f"click {PREVIEW}", "beeps", "focus",
               f"click {CANCEL}", "wait-closed 5000"]
    run = open_dialog(script)
    assert run.script_value("beeps") == [1, 2, 3, 4, 5, 6, 8]
    assert [v["id"] for v in run.script_value("focus")] == [ANGLE_EDIT] * 6 + [WIDTH_EDIT]
    # The dialog stayed open through every OK until Cancel ended the run.
    assert run.results()["continue"] == REPORTED
    assert run.params == param_block(showDialog=0)


def test_a_stored_value_out_of_range_is_shown_but_refused_until_corrected():
    run = open_dialog([
        f"get-text {HEIGHT_EDIT}", f"click {OK}", "beeps", "focus",
        f"set-text {HEIGHT_EDIT} 100", f"click {OK}", "wait-closed 5000"],
        params=saved_block(height=200))
    assert run.script_value("get-text") == ["200"]
    assert run.script_value("beeps") == [1]
    assert focus_id(run, 0) == HEIGHT_EDIT
    assert run.results()["continue"] == NO_ERR
    assert run.params[4:] == param_block(height=100, showDialog=0)[4:]


def test_scroll_codes_land_on_page_multiples_and_clamp_to_the_range():
    steps = [
        # (bar, code and position, text of the row's edit afterwards)
        (ANGLE_BAR, "PAGERIGHT", "10"),
        (ANGLE_BAR, "THUMBTRACK 275", "275"),
        (ANGLE_BAR, "PAGELEFT", "270"),
        (ANGLE_BAR, "PAGELEFT", "260"),
        (ANGLE_BAR, "RIGHT", "360"),
        (ANGLE_BAR, "PAGERIGHT", "360"),
        (ANGLE_BAR, "LINERIGHT", "360"),
        (ANGLE_BAR, "THUMBPOSITION 25", "25"),
        (ANGLE_BAR, "PAGERIGHT", "30"),
        (ANGLE_BAR, "PAGELEFT", "20"),
        (STRENGTH_BAR, f"set {STRENGTH_EDIT} 95", "95"),
        (STRENGTH_BAR, "PAGERIGHT", "100"),
        (STRENGTH_BAR, "PAGERIGHT", "100"),
        (STRENGTH_BAR, f"set {STRENGTH_EDIT} 0", "0"),
        (STRENGTH_BAR, "PAGELEFT", "0"),
        (STRENGTH_BAR, "LINELEFT", "0"),
        (STRENGTH_BAR, "LINERIGHT", "1"),
        (HEIGHT_BAR, f"set {HEIGHT_EDIT} 5", "5"),
        (HEIGHT_BAR, "PAGELEFT", "5"),
        (HEIGHT_BAR, "LINELEFT", "5"),
        (HEIGHT_BAR, "LINERIGHT", "6"),
        (HEIGHT_BAR, "PAGERIGHT", "10"),
        (HEIGHT_BAR, "LEFT", "5"),
        (STRETCH_BAR, "ENDSCROLL", "20"),
        (STRETCH_BAR, "LEFT", "1"),
        (STRETCH_BAR, "RIGHT", "100"),
        (STRETCH_BAR, "LINELEFT", "99"),
        (WIDTH_BAR, "PAGELEFT", "40"),
    ]
    edit_of = {ANGLE_BAR: ANGLE_EDIT, STRENGTH_BAR: STRENGTH_EDIT, HEIGHT_BAR: HEIGHT_EDIT,
               STRETCH_BAR: STRETCH_EDIT, WIDTH_BAR: WIDTH_EDIT}
    script = []
    for bar, action, _ in steps:
        if action.startswith("set "):
            script.append("set-text " + action[4:])
        else:
            script.append(f"scroll {bar} {action}")
        script += [f"get-text {edit_of[bar]}", f"get-scroll {bar}"]
    script += [f"click {OK}", "wait-closed 5000"]
    run = open_dialog(script)
    assert run.script_value("get-text") == [text for _, _, text in steps]
    # The bar follows the value read back from its edit.
    assert [v["pos"] for v in run.script_value("get-scroll")] == [int(t) for _, _, t in steps]
    # The settings changed through the edits' notifications.
    assert run.params[4:14] == param_block(angle=20, stretch=99, strength=1, height=5,
                                           width=40)[4:14]


def test_preview_shows_the_effect_and_restore_takes_it_away():
    run = open_dialog([
        f"click {RESTORE}", f"capture-control {BIG_VIEW} plain.png",
        f"click {PREVIEW}", f"capture-control {BIG_VIEW} effect.png",
        f"click {PREVIEW}", f"capture-control {BIG_VIEW} again.png",
        f"click {RESTORE}", f"capture-control {BIG_VIEW} restored.png",
        f"click {CANCEL}", "wait-closed 5000"])
    geometry = Geometry(run.captures["plain.png"])
    # Only the part of the preview whose samples lie inside the image is drawn.
    c = {name: image[:geometry.drawn_height, :geometry.drawn_width]
         for name, image in run.captures.items()}
    assert not np.array_equal(c["plain.png"], c["effect.png"])
    assert np.array_equal(c["effect.png"], c["again.png"])
    assert np.array_equal(c["plain.png"], c["restored.png"])
