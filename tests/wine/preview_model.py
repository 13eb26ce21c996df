"""A plain numpy model of what the big preview shows, for the Wine tests to compare against.

It is written from the rules, not from the module's code: the work image sampled at preview-pixel
centres, the dispersion effect at preview scale, the host mask turned into preview selection bits
and their edge, and the pixels that the centre marker and the effect frame cover.
"""

import numpy as np

from fixed_point import HALF, half_extent, mix_weights, saturating_product, scaled, steps, wrap16


def sample_step(report):
    """The decimation the module chose: the row it asks for after the first one."""
    log = report["call_log"]
    start = next(c for c in log if c["selector"] == "start")
    top, _, bottom, _ = start["in"]
    if bottom - top != 1:
        return 1  # the whole rectangle at once: the host holds the work image
    first = next(c for c in log if c["selector"] == "continue" and c["in"][2] - c["in"][0] == 1)
    return first["in"][0] - top


class Geometry:
    """The work image and the preview geometry of a width-limited (landscape) preview."""

    def __init__(self, image, step, preview_width, preview_height):
        image = image if image.ndim == 3 else image[:, :, None]
        h, w = image.shape[:2]
        self.step = step
        ww, wh = w // step, h // step
        self.work = image[0:wh * step:step, 0:ww * step:step].astype(np.int64)
        self.pw, self.ph = preview_width, preview_height
        self.scale = ww * 65536 // self.pw
        assert wh * self.pw // ww == self.ph, "not a width-limited preview"
        self.image_scale = step * self.scale
        self.pm = max(self.pw, self.ph)
        self.cols = scaled(np.arange(self.pw, dtype=np.int64), self.scale)
        self.rows = scaled(np.arange(self.ph, dtype=np.int64), self.scale)
        assert self.cols[-1] < ww and self.rows[-1] < wh
        # Preview columns and rows that sample the same work pixel as their predecessor are
        # copies of the first one.
        self.first_col = np.searchsorted(self.cols, self.cols, side="left")
        self.first_row = np.searchsorted(self.rows, self.rows, side="left")

    def default_center(self):
        return self.pw // 2, self.ph // 2

    def original(self):
        return self.work[self.rows][:, self.cols]

    def effect(self, settings, center):
        """The dispersion effect over the whole preview (selection not applied)."""
        s = self.scale
        work = self.work
        wh, ww, planes = work.shape
        orig = self.original()
        pos_x = HALF + self.first_col * s
        pos_y = HALF + self.first_row * s
        half_w = half_extent(settings["width"], self.pm, s)
        half_h = half_extent(settings["height"], self.pm, s)
        step_x, step_y = steps(settings)
        mix_original, mix_effect = mix_weights(settings)
        gcx, gcy = scaled(center[0], s), scaled(center[1], s)
        dx = wrap16(self.cols - gcx)
        dy = wrap16(self.rows - gcy)
        inside = ((-half_h < dy) & (dy < half_h))[:, None] & ((-half_w < dx) & (dx < half_w))[None]
        out = orig.copy()
        for k in range(planes):
            if k == 3:
                sample = orig[:, :, 3]
            else:
                sx = (pos_x - (k + 1) * step_x) >> 16
                sy = (pos_y + (k + 1) * step_y) >> 16
                valid = ((sy >= 0) & (sy < wh))[:, None] & ((sx >= 0) & (sx < ww))[None]
                fetched = work[np.clip(sy, 0, wh - 1)][:, np.clip(sx, 0, ww - 1)][:, :, k]
                sample = np.where(valid, fetched, orig[:, :, k])
            blended = (orig[:, :, k] * mix_original + sample * mix_effect) >> 8
            out[:, :, k] = np.where(inside, blended, orig[:, :, k])
        return out

    def selection(self, mask):
        """Preview selection bits from a host mask (only 255 selects)."""
        rows = scaled(np.arange(self.ph, dtype=np.int64), self.image_scale)
        cols = scaled(np.arange(self.pw, dtype=np.int64), self.image_scale)
        return np.asarray(mask)[rows][:, cols] == 255

    def shown(self, settings=None, center=None, effect=False, selection=None, floating=False):
        """The pixels of the preview after a full redraw, before any decoration."""
        out = self.effect(settings, center) if effect else self.original()
        if selection is not None:
            chosen = selection[self.first_row][:, self.first_col]
            unselected = np.full_like(out, 255) if floating else self.original()
            out = np.where(chosen[:, :, None], out, unselected)
        return out


def edge(selection):
    """Selected pixels with an unselected pixel among their eight neighbours. Rows above and below
    and columns right of the preview count as unselected, columns left of it as selected."""
    h, w = selection.shape
    padded = np.zeros((h + 2, w + 2), bool)
    padded[1:-1, 1:-1] = selection
    padded[:, 0] = True
    padded[0, :] = padded[-1, :] = False
    interior = np.ones_like(selection)
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            interior &= padded[1 + dy:h + 1 + dy, 1 + dx:w + 1 + dx]
    return selection & ~interior


def decorations(geom, center, settings, tolerance=1):
    """Pixels the centre marker and the effect frame may cover."""
    covered = np.zeros((geom.ph, geom.pw), bool)
    cx, cy = center
    covered[max(cy - 4, 0):max(cy + 4, 0), max(cx - 4, 0):max(cx + 4, 0)] = True
    hw = saturating_product(2 * settings["width"], geom.pm)
    hh = saturating_product(2 * settings["height"], geom.pm)
    left, right, top, bottom = cx - hw, cx + hw - 1, cy - hh, cy + hh - 1
    t = tolerance
    rows = np.arange(geom.ph)[:, None]
    cols = np.arange(geom.pw)[None]
    within_rows = (rows >= top - t) & (rows <= bottom + t)
    within_cols = (cols >= left - t) & (cols <= right + t)
    covered |= within_rows & ((abs(cols - left) <= t) | (abs(cols - right) <= t))
    covered |= within_cols & ((abs(rows - top) <= t) | (abs(rows - bottom) <= t))
    return covered


def mismatches(actual, expected, ignore=None):
    """Coordinates (x, y) where two pictures differ, outside the ignored pixels."""
    actual = np.asarray(actual, dtype=np.int64)
    expected = np.asarray(expected, dtype=np.int64)
    if actual.ndim == 3 and expected.ndim == 3 and expected.shape[2] == 1:
        expected = np.repeat(expected, actual.shape[2], axis=2)
    differ = np.any(actual != expected, axis=2) if actual.ndim == 3 else actual != expected
    if ignore is not None:
        differ &= ~ignore
    ys, xs = np.nonzero(differ)
    return list(zip(xs.tolist(), ys.tolist()))
