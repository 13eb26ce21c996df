"""The live preview on the real module under Wine: the dialog opens showing the effect, every
accepted change is drawn without Preview (one render for a burst of changes, none for an invalid
text), and Restore stops it until Preview is pressed again. Pictures are compared with the model
of the preview, renders counted as the host's displayPixels calls of full redraws. With a selection
the outline's timer runs beside the live preview's."""

import math
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from harness import ok_script, run_host  # noqa: E402
from preview_model import decorations, edge  # noqa: E402
from test_preview import (SETTINGS, assert_same, captured_geometry, make_image,  # noqa: E402
                          selection_mask)

ANGLE_EDIT, STRETCH_EDIT, HEIGHT_EDIT, STRENGTH_EDIT = 153, 441, 156, 117
WIDTH_BAR = 119
PREVIEW, RESTORE = 102, 103
SETTLE = "sleep 600"  # well past the live preview's 100 ms pause, and the render


def shot(name):
    return [SETTLE, f"capture-control 100 {name}.png", "display-count"]


@pytest.mark.parametrize("selected", [False, True], ids=["whole", "selection"])
def test_changes_are_drawn_live_until_restore_and_again_after_preview(selected):
    image = make_image(seed=17)
    mask = selection_mask() if selected else None
    steps = (
        ["capture-control 100 open.png", "display-count"]
        + [f"set-text {ANGLE_EDIT} 75"] + shot("angle")
        # A burst: five changes, one render.
        + [f"type {STRETCH_EDIT} 60", f"type {STRENGTH_EDIT} 90", f"scroll {WIDTH_BAR} LINERIGHT"]
        + shot("burst")
        + [f"set-text {HEIGHT_EDIT} abc"] + shot("invalid")
        + [f"set-text {HEIGHT_EDIT} 30"] + shot("valid_again")
        + [f"click {RESTORE}"] + shot("restored")
        + [f"set-text {ANGLE_EDIT} 200"] + shot("restored_change")
        + [f"click {PREVIEW}"] + shot("preview")
        + ["mouse-down 100 40 30", "mouse-up 100 40 30"] + shot("centre")
    )
    r = run_host("--log-calls", "--display-pixels", image=image, mask=mask,
                 settings=dict(SETTINGS, showDialog=1), script=ok_script(*steps))
    geom = captured_geometry(image, r, "open.png")
    strips = math.ceil(geom.ph / 4)
    counts = r.script_value("display-count")
    renders = [(b - a) for a, b in zip(counts, counts[1:])]

    center = geom.default_center()
    selection = geom.selection(mask) if selected else None
    # The animated outline lies on the selection's edge.
    outline = edge(selection) if selected else False
    angle = dict(SETTINGS, angle=75)
    burst = dict(angle, stretch=60, strength=90, width=SETTINGS["width"] + 1)
    later = dict(burst, angle=200)
    def shown(settings=None, at=center):
        return geom.shown(settings, at, effect=settings is not None, selection=selection)

    expected = {
        "open.png": (shown(SETTINGS), SETTINGS, center),
        "angle.png": (shown(angle), angle, center),
        "burst.png": (shown(burst), burst, center),
        "invalid.png": (shown(burst), burst, center),
        "valid_again.png": (shown(burst), burst, center),
        "restored.png": (shown(), burst, center),
        "restored_change.png": (shown(), later, center),
        "preview.png": (shown(later), later, center),
        "centre.png": (shown(later, (40, 30)), later, (40, 30)),
    }
    for name, (picture, settings, at) in expected.items():
        assert_same(r.captures[name], picture, decorations(geom, at, settings) | outline, name)
    # displayPixels calls between the captures: one full redraw is `strips` calls; the click also
    # draws the block under the old marker once.
    assert renders == [strips, strips, 0, strips, strips, 0, strips, strips + 1], \
        f"{renders} ({strips} strips per redraw)"
