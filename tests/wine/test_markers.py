"""The preview windows under Wine: the centre marker, the effect frame, the overview's rectangle
and direction line, and moving the centre with the mouse, checked pixel by pixel."""

import numpy as np

from dialog_helpers import Geometry, find_markers, open_dialog, saved_block
from fixed_point import saturating_product

BIG, SMALL = 100, 101
ANGLE_EDIT, WIDTH_EDIT = 153, 114
OK, CANCEL, RESTORE = 1, 2, 103
# Restore first where only the decorations may change: the live preview would otherwise draw the
# whole picture again after each change.
STILL_PICTURE = [f"click {RESTORE}", "sleep 300"]


def black(image, x, y):
    return bool(np.all(image[y, x] == 0))


def white(image, x, y):
    return bool(np.all(image[y, x] == 255))


def test_centre_marker_appears_at_the_centre_in_both_windows():
    run = open_dialog([f"capture-control {BIG} big.png", f"capture-control {SMALL} small.png",
                       f"click {CANCEL}", "wait-closed 5000"])
    big, small = run.captures["big.png"], run.captures["small.png"]
    x, y = Geometry(big).default_centre
    assert find_markers(big) == [(x, y)]
    assert find_markers(small) == [(x >> 1, y >> 1)]
    # The marker leaves its corner pixels alone: there the picture shows through.
    for dx, dy in [(-4, -1), (3, -1), (-1, -4), (0, 3)]:
        assert not white(big, x + dx, y + dy) and not black(big, x + dx, y + dy)


def test_centre_moves_redraw_exactly_what_changed():
    run = open_dialog(STILL_PICTURE + [
        f"mouse-down {BIG} 11 20", f"mouse-up {BIG} 11 20",
        f"capture-control {BIG} big_a.png", f"capture-control {SMALL} small_a.png",
        f"mouse-down {BIG} 10 20", f"mouse-up {BIG} 10 20",
        f"capture-control {BIG} big_b.png", f"capture-control {SMALL} small_b.png",
        f"mouse-down {BIG} 12 20", f"mouse-up {BIG} 12 20",
        f"capture-control {BIG} big_c.png", f"capture-control {SMALL} small_c.png",
        f"mouse-down {BIG} 12 20", f"mouse-up {BIG} 12 20",
        f"capture-control {BIG} big_d.png",
        f"mouse-down {BIG} 11 20", f"mouse-up {BIG} 11 20",
        f"capture-control {BIG} big_e.png", f"capture-control {SMALL} small_e.png",
        f"click {CANCEL}", "wait-closed 5000"])
    c = run.captures
    assert find_markers(c["big_a.png"]) == [(11, 20)]
    # (11, 20) -> (10, 20) stays on overview pixel (5, 10): the overview is not touched.
    assert find_markers(c["big_b.png"]) == [(10, 20)]
    assert np.array_equal(c["small_a.png"], c["small_b.png"])
    # (10, 20) -> (12, 20) moves the overview's marker to (6, 10).
    assert find_markers(c["big_c.png"]) == [(12, 20)]
    assert find_markers(c["small_c.png"]) == [(6, 10)]
    # A click on the centre changes nothing; moving back restores the earlier picture exactly,
    # so nothing of the old marker or frame was left behind.
    assert np.array_equal(c["big_c.png"], c["big_d.png"])
    assert np.array_equal(c["big_a.png"], c["big_e.png"])
    assert np.array_equal(c["small_a.png"], c["small_e.png"])


def frame_outline(shape, centre, half_width, half_height):
    """The pixels a 1-pixel GDI rectangle outline covers; right and bottom edges lie one inside."""
    h, w = shape[:2]
    x, y = centre
    left, top, right, bottom = x - half_width, y - half_height, x + half_width - 1, y + half_height - 1
    outline = np.zeros((h, w), bool)
    for column in (left, right):
        if 0 <= column < w:
            outline[max(top, 0):min(bottom, h - 1) + 1, column] = True
    for row in (top, bottom):
        if 0 <= row < h:
            outline[row, max(left, 0):min(right, w - 1) + 1] = True
    return outline


def test_effect_frame_is_the_inverted_outline_of_the_rectangle():
    run = open_dialog(STILL_PICTURE + [
        f"capture-control {BIG} framed.png",
        f"set-text {WIDTH_EDIT}", f"capture-control {BIG} plain.png",
        f"capture-control {SMALL} small_plain.png",
        f"set-text {WIDTH_EDIT} 40", f"capture-control {BIG} framed_again.png",
        f"click {CANCEL}", "wait-closed 5000"], params=saved_block(height=20, width=40))
    c = run.captures
    geometry = Geometry(c["framed.png"])
    half_width = saturating_product(2 * 40, geometry.max)
    half_height = saturating_product(2 * 20, geometry.max)
    outline = frame_outline(c["framed.png"].shape, geometry.default_centre, half_width,
                            half_height)
    assert outline.sum() > 0
    framed = c["framed.png"].astype(int)
    plain = c["plain.png"].astype(int)
    assert np.array_equal(framed[outline], 255 - plain[outline])
    assert np.array_equal(framed[~outline], plain[~outline])
    # Back with a valid width, the frame is drawn exactly once again.
    assert np.array_equal(c["framed_again.png"], c["framed.png"])
    # With the width invalid the overview shows the marker and nothing else.
    small = c["small_plain.png"]
    x, y = geometry.default_centre
    dark = np.any(small != 255, axis=2)
    dark[(y >> 1) - 4:(y >> 1) + 4, (x >> 1) - 4:(x >> 1) + 4] = False
    assert not dark.any()


def test_overview_rectangle_and_direction_line():
    # End points of the 25-pixel line: 0 right, 90 up, 180 left, 270 down.
    ends = {0: (25, 0), 90: (0, -25), 180: (-25, 0), 270: (0, 25)}
    script = []
    for angle in ends:
        script += [f"set-text {ANGLE_EDIT} {angle}", f"capture-control {SMALL} a{angle}.png"]
    script += [f"capture-control {BIG} big.png", f"click {CANCEL}", "wait-closed 5000"]
    run = open_dialog(script)
    geometry = Geometry(run.captures["big.png"])
    ox, oy = geometry.default_centre[0] // 2, geometry.default_centre[1] // 2
    half = saturating_product(50, geometry.max)  # width and height 50 at half scale
    for angle, (dx, dy) in ends.items():
        small = run.captures[f"a{angle}.png"]
        ex, ey = ox + dx, oy + dy
        ux, uy = dx // 25, dy // 25
        # The hollow 5-pixel circle around the end point.
        for cx, cy in [(ex - 2, ey), (ex + 2, ey), (ex, ey - 2), (ex, ey + 2)]:
            assert black(small, cx, cy), (angle, cx, cy)
        assert white(small, ex, ey), angle
        assert white(small, ex + 3 * ux, ey + 3 * uy), angle
        # The line from the centre: black just outside the marker and just before the end.
        for k in (5, 12, 24):
            assert black(small, ox + k * ux, oy + k * uy), (angle, k)
        # The rectangle's left and right edges (the right edge one pixel inside).
        for x in (ox - half, ox + half - 1):
            assert black(small, x, oy + 10) and white(small, x + 1 if x < ox else x - 1, oy + 10)


def test_clicks_and_drags_move_the_centre_and_clamp_it():
    run = open_dialog(STILL_PICTURE + [
        # A click at (u, v) in the overview puts the centre at (2u, 2v).
        f"mouse-down {SMALL} 20 30", f"mouse-up {SMALL} 20 30",
        f"capture-control {BIG} after_click.png",
        # A drag whose capture is taken by the other window ends there: later moves over the
        # first window do nothing.
        f"mouse-down {BIG} 50 50", f"mouse-down {SMALL} 20 30", f"mouse-up {SMALL} 20 30",
        f"mouse-move {BIG} 100 100", f"capture-control {BIG} after_lost_capture.png",
        # A drag from the big preview past its right edge and then past its top.
        f"mouse-down {BIG} 20 20", f"mouse-move {BIG} 2000 20", f"mouse-move {BIG} 2000 -40",
        f"mouse-up {BIG} 2000 -40",
        # The drag is over: moving without the button changes nothing.
        f"mouse-move {BIG} 5 5",
        f"click {OK}", "wait-closed 5000"])
    big = run.captures["after_click.png"]
    geometry = Geometry(big)
    assert find_markers(big) == [(40, 60)]
    assert find_markers(run.captures["after_lost_capture.png"]) == [(40, 60)]
    assert run.params[0:4] == (geometry.to_image(geometry.width - 1).to_bytes(2, "little")
                               + (0).to_bytes(2, "little"))
