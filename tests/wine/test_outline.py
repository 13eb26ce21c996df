"""The animated selection outline on the real module under Wine: the edge of a known mask shows
the dashes of the start pattern at one phase, the phase moves with the ticks, a full redraw starts
the pattern afresh, and a block drawn again under the moving marker gets its outline back."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import ok_script, run_host  # noqa: E402
from preview_model import Geometry, decorations, edge, mismatches, sample_step  # noqa: E402

START_PATTERN = [0xF1, 0xE3, 0xC7, 0x8F, 0x1F, 0x3E, 0x7C, 0xF8]
SETTINGS = dict(angle=120, stretch=30, strength=90, height=20, width=25)
BLACK, WHITE = (0, 0, 0), (255, 255, 255)


def make_image(h=300, w=400, seed=21):
    """Mid-range colours only, so no picture pixel passes for a dash."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:h, 0:w]
    base = np.stack([(x * 150) // w, (y * 150) // h, ((x + y) * 2) % 150], -1)
    return (base + rng.integers(40, 90, (h, w, 3))).astype(np.uint8)


def dashes(n, height, width):
    """Black (True) where the dash pattern n steps after the start shows: row r takes start byte
    (r - n) mod 8, pixel x its bit 7 - x mod 8."""
    rows = np.array([START_PATTERN[(r - n) % 8] for r in range(height)])[:, None]
    bits = 7 - (np.arange(width) % 8)[None]
    return ((rows >> bits) & 1) == 1


def dash_phase(shot, outline, ignore):
    """The phase n at which every visible edge pixel is pure black or white as the pattern says,
    or None when no phase fits."""
    visible = outline & ~ignore
    for n in range(8):
        black = dashes(n, *outline.shape)
        expected = np.where(black[:, :, None], BLACK, WHITE)
        if not mismatches(shot, expected, ~visible):
            return n
    return None


def run_outline(mask, steps, **options):
    image = make_image()
    script = ok_script(*steps, settle=700)
    r = run_host("--log-calls", image=image, mask=mask, settings=dict(SETTINGS, showDialog=1),
                 script=script, **options)
    first = next(iter(r.captures.values()))
    geom = Geometry(image, sample_step(r.report), first.shape[1], first.shape[0])
    return r, geom


def captures(prefix, count, gap=130):
    steps = []
    for n in range(count):
        steps += [f"capture-control 100 {prefix}{n}.png", f"sleep {gap}"]
    return steps


def test_edge_shows_moving_dashes_and_a_full_redraw_restarts_them():
    h, w = 300, 400
    y, x = np.mgrid[0:h, 0:w]
    mask = np.zeros((h, w), np.uint8)
    mask[30:120, 0:140] = 255  # touches the left border: no outline there
    mask[((x - 270) / 80.0) ** 2 + ((y - 200) / 70.0) ** 2 < 1] = 255
    mask[200:203, 40:120] = 255  # a thin bar: all edge
    # Restore shows the picture without the effect; Preview then draws it again in full.
    steps = (["click 103", "sleep 250"] + captures("tick", 5) + ["click 102", "sleep 250"]
             + captures("redrawn", 4))
    r, geom = run_outline(mask, steps)
    selection = geom.selection(mask)
    outline = edge(selection)
    assert outline.sum() > 500
    inside_left = selection[:-2, 0] & selection[1:-1, 0] & selection[2:, 0]
    assert inside_left.any() and not (outline[1:-1, 0] & inside_left).any()
    center = geom.default_center()
    covered = decorations(geom, center, SETTINGS)

    for prefix, picture in (("tick", geom.shown(selection=selection)),
                            ("redrawn", geom.shown(SETTINGS, center, effect=True,
                                                   selection=selection))):
        shots = [v for k, v in sorted(r.captures.items()) if k.startswith(prefix)]
        phases = [dash_phase(shot, outline, covered) for shot in shots]
        # A capture may catch a tick half drawn; all but one must show a whole phase.
        fitting = [n for n in phases if n is not None]
        assert len(fitting) >= len(shots) - 1, f"{prefix}: phases {phases}"
        assert len(set(fitting)) >= 2, f"{prefix}: the dashes do not move: {phases}"
        for shot in shots:
            wrong = mismatches(shot, picture, covered | outline)
            assert not wrong, f"{prefix}: picture changed off the edge at {wrong[:8]}"


def test_block_drawn_again_under_the_marker_gets_the_outline_back():
    """The selection's top edge runs through the centre marker; after the marker moves away, the
    edge pixels of the block drawn again show the same dash phase as the rest of the edge."""
    h, w = 300, 400
    mask = np.zeros((h, w), np.uint8)
    mask[148:260, 60:330] = 255
    # After Restore the click draws only the block again, no live redraw of the whole preview.
    steps = ["click 103", "sleep 300", "mouse-down 100 60 40", "mouse-up 100 60 40", "sleep 250"]
    steps += captures("moved", 4)
    r, geom = run_outline(mask, steps)
    selection = geom.selection(mask)
    outline = edge(selection)
    cx, cy = geom.default_center()
    block = np.zeros_like(outline)
    block[cy - 4:cy + 4, cx - 4:cx + 4] = True
    assert (outline & block).sum() >= 8, "the edge must cross the old marker block"
    covered = decorations(geom, (60, 40), SETTINGS)
    phases = [dash_phase(v, outline, covered) for k, v in sorted(r.captures.items())]
    fitting = [n for n in phases if n is not None]
    assert len(fitting) >= len(phases) - 1, f"phases {phases}"
