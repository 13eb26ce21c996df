"""The big preview as the real module draws it under Wine, compared with an independent model:
the work image at preview scale, also when it already fills its control, the effect from the
opening and after Preview, the original after Restore, the effect only inside the host's
selection, white outside a floating selection, what the host's displayPixels is asked to draw, and
the dithered bitmap on an 8-bit display."""

import os
import sys

import numpy as np
import pytest

sys.path.insert(0, os.path.dirname(__file__))
from harness import fnv1a, ok_script, run_host  # noqa: E402
from preview_model import Geometry, decorations, edge, mismatches, sample_step  # noqa: E402

SETTINGS = dict(angle=30, stretch=40, strength=80, height=30, width=40)


def make_image(h=300, w=400, planes=3, seed=5):
    """Smooth gradients with texture, so every displaced sample differs from its neighbours, and
    no pure black or white."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:h, 0:w]
    base = [(x * 200) // w, (y * 200) // h, ((x + 2 * y) * 3) % 200, (x * y) % 200]
    image = np.stack(base[:planes], -1) + rng.integers(10, 50, (h, w, planes))
    return image.astype(np.uint8) if planes > 1 else image[:, :, 0].astype(np.uint8)


def selection_mask(h=300, w=400):
    """An ellipse and a bar along the left border, clear of the right border; some partly selected
    bytes, which count as unselected."""
    y, x = np.mgrid[0:h, 0:w]
    mask = np.zeros((h, w), np.uint8)
    mask[((x - 230) / 110.0) ** 2 + ((y - 150) / 90.0) ** 2 < 1] = 255
    mask[40:120, 0:90] = 255
    mask[200:260, 20:80] = 254
    return mask


def captured_geometry(image, result, capture):
    ph, pw = result.captures[capture].shape[:2]
    return Geometry(image, sample_step(result.report), pw, ph)


def assert_same(actual, expected, ignore, what):
    wrong = mismatches(actual, expected, ignore)
    assert not wrong, f"{what}: {len(wrong)} pixels differ, first {wrong[:8]}"


def test_preview_shows_the_effect_from_the_opening_and_the_original_after_restore():
    image = make_image()
    script = ok_script("capture-control 100 opening.png", "click 103", "sleep 400",
                       "capture-control 100 restored.png", "click 102", "sleep 400",
                       "capture-control 100 effect.png")
    r = run_host("--log-calls", image=image, settings=dict(SETTINGS, showDialog=1),
                 script=script)
    geom = captured_geometry(image, r, "opening.png")
    center = geom.default_center()
    covered = decorations(geom, center, SETTINGS)

    original = geom.shown()
    effect = geom.shown(SETTINGS, center, effect=True)
    assert mismatches(effect, original, covered), "the settings must change the picture"
    assert_same(r.captures["opening.png"], effect, covered, "at the opening")
    assert_same(r.captures["restored.png"], original, covered, "after Restore")
    assert_same(r.captures["effect.png"], effect, covered, "after Preview")


@pytest.mark.parametrize("side", [400, 1], ids=["larger", "one-pixel"])
def test_square_preview_is_drawn_when_it_already_fills_the_control(side):
    """A square image gives a preview exactly the size of the square control, so sizing the
    windows at the first paint changes nothing; the preview must be drawn all the same (with the
    effect), without pressing Preview."""
    image = make_image(side, side, seed=13)
    r = run_host("--log-calls", image=image, settings=dict(SETTINGS, showDialog=1),
                 script=ok_script("capture-control 100 first.png"))
    shot = r.captures["first.png"]
    ph, pw = shot.shape[:2]
    assert pw == ph, "the control is square"
    if side == 1:
        # Only the columns and rows that sample the one work pixel are drawn; the first ten are
        # among them at any scale, and the marker and the effect frame lie far from them.
        assert np.all(shot[:10, :10] == image[0, 0]), "the corner of the preview is not drawn"
        return
    geom = captured_geometry(image, r, "first.png")
    center = geom.default_center()
    assert_same(shot, geom.shown(SETTINGS, center, effect=True),
                decorations(geom, center, SETTINGS), "first paint")


def test_decimated_work_image_is_previewed_at_its_own_scale():
    image = make_image(360, 480, seed=9)
    script = ok_script("click 102", "sleep 400", "capture-control 100 effect.png")
    r = run_host("--log-calls", "--max-space", "500000", image=image,
                 settings=dict(SETTINGS, showDialog=1), script=script)
    geom = captured_geometry(image, r, "effect.png")
    assert geom.step > 1, "the budget should force a decimated work image"
    center = geom.default_center()
    assert_same(r.captures["effect.png"], geom.shown(SETTINGS, center, effect=True),
                decorations(geom, center, SETTINGS), "decimated preview")


@pytest.mark.parametrize("floating", [False, True], ids=["selection", "floating"])
def test_effect_only_inside_the_selection(floating):
    image = make_image(seed=11)
    mask = selection_mask()
    script = ok_script("click 103", "sleep 400", "capture-control 100 before.png", "click 102",
                       "sleep 400", "capture-control 100 effect.png")
    options = ["--log-calls"] + (["--floating"] if floating else [])
    r = run_host(*options, image=image, mask=mask, settings=dict(SETTINGS, showDialog=1),
                 script=script)
    geom = captured_geometry(image, r, "before.png")
    center = geom.default_center()
    selection = geom.selection(mask)
    # The animated outline lies on the selection's edge; the markers on their pixels.
    ignore = decorations(geom, center, SETTINGS) | edge(selection)

    before = geom.shown(selection=selection, floating=floating)
    after = geom.shown(SETTINGS, center, effect=True, selection=selection, floating=floating)
    assert_same(r.captures["before.png"], before, ignore, "after Restore")
    assert_same(r.captures["effect.png"], after, ignore, "after Preview")
    shown = r.captures["effect.png"]
    outside = ~selection & ~ignore
    if floating:
        assert np.all(shown[outside] == 255)
    else:
        assert_same(shown, geom.original(), ~outside, "outside the selection")


def full_redraws(records):
    """The displayPixels calls grouped into full redraws (each starts at row 0, full width)."""
    redraws, blocks = [], []
    for rec in records:
        if rec["dst_col"] == 0 and rec["dst_row"] == 0 and rec["bounds"][2] <= 4:
            redraws.append([rec])
        elif redraws and rec["dst_col"] == 0 and rec["dst_row"] == redraws[-1][-1]["dst_row"] + 4:
            redraws[-1].append(rec)
        else:
            blocks.append(rec)
    return redraws, blocks


@pytest.mark.parametrize("planes", [1, 3, 4])
def test_host_display_pixels_is_asked_to_draw_the_preview_strips(planes):
    image = make_image(planes=planes, seed=planes)
    # Click away from the centre: the block under the old marker is drawn again, and then the
    # whole preview with the effect around the new centre.
    script = ok_script("click 102", "sleep 400", "mouse-down 100 40 30", "mouse-up 100 40 30",
                       "sleep 600")
    r = run_host("--log-calls", "--display-pixels", image=image,
                 settings=dict(SETTINGS, showDialog=1), script=script)
    records = r.report["display_pixels"]
    assert records and r.report["display_pixels_count"] == len(records)
    redraws, blocks = full_redraws(records)
    assert len(redraws) >= 3, "the opening paint, the redraw of Preview and the live one"
    strips = redraws[-1]
    pw = strips[0]["bounds"][3]
    ph = sum(rec["bounds"][2] for rec in strips)
    geom = Geometry(image, sample_step(r.report), pw, ph)
    center = geom.default_center()
    before_click = geom.shown(SETTINGS, center, effect=True)
    expected = geom.shown(SETTINGS, (40, 30), effect=True)
    mode = {1: 1, 3: 3, 4: 4}[planes]
    for n, rec in enumerate(strips):
        lines = min(4, ph - 4 * n)
        assert rec["dst_row"] == 4 * n and rec["dst_col"] == 0
        assert rec["bounds"] == [0, 0, lines, pw] and rec["src_rect"] == rec["bounds"]
        assert (rec["row_bytes"], rec["col_bytes"], rec["plane_bytes"]) == (pw * planes, planes, 1)
        assert rec["image_mode"] == mode and rec["version"] == 0 and rec["has_context"]
        assert rec["checksum"] == fnv1a(expected[4 * n:4 * n + lines]), f"strip at row {4 * n}"

    assert len(blocks) == 1
    block = blocks[0]
    cx, cy = center
    assert (block["dst_row"], block["dst_col"], block["bounds"]) == (cy - 4, cx - 4, [0, 0, 8, 8])
    assert block["row_bytes"] == 8 * planes
    assert block["checksum"] == fnv1a(before_click[cy - 4:cy + 4, cx - 4:cx + 4])


def test_low_colour_display_dithers_by_screen_position():
    """On an 8-bit display each flat area alternates between a raised and a lowered colour: raised
    where x + y is even. A block drawn again after the marker moves, here clipped at the top edge
    to five rows, keeps the same alternation."""
    image = np.full((300, 400, 3), 100, np.uint8)
    image[:, 200:] = (30, 160, 220)
    # A saved centre one preview row from the top: the block under the marker is rows 0..4.
    settings = dict(SETTINGS, showDialog=1, centerX=200, centerY=1)
    # Restore first: the picture without the effect, which keeps the flat areas flat, and no live
    # redraw after the click.
    script = ok_script("click 103", "sleep 300", "capture-control 100 first.png",
                       "mouse-down 100 80 150", "mouse-up 100 80 150", "sleep 300",
                       "capture-control 100 moved.png")
    r = run_host("--log-calls", image=image, settings=settings, script=script, low_colour=True)
    geom = captured_geometry(image, r, "first.png")
    saved = ((200 * 65536 + geom.image_scale // 2) // geom.image_scale,
             (1 * 65536 + geom.image_scale // 2) // geom.image_scale)
    assert saved[1] == 1
    half = (geom.cols >= 200)[None].repeat(geom.ph, 0)
    parity_even = (np.add.outer(np.arange(geom.ph), np.arange(geom.pw)) % 2) == 0
    for name, center in (("first.png", saved), ("moved.png", (80, 150))):
        shot = r.captures[name].astype(np.int64)
        covered = decorations(geom, center, SETTINGS)
        for region in (~half, half):
            for even in (True, False):
                where = region & ~covered & (parity_even == even)
                colours = np.unique(shot[where], axis=0)
                assert len(colours) == 1, f"{name}: {len(colours)} colours at {even=}"
            raised = shot[region & ~covered & parity_even][0].sum()
            lowered = shot[region & ~covered & ~parity_even][0].sum()
            assert raised > lowered, name
