"""What the dialog and marker tests share: a test image, opening the dialog with a script, the
preview geometry worked out from what the dialog shows, and finding the centre marker."""

import numpy as np

from fixed_point import scaled
from harness import param_block, run_host

# A 64 x 48 RGB image with no flat areas near the centre, so the marker's untouched pixels and
# the effect frame's inversion are never pure black or white.
IMAGE_WIDTH, IMAGE_HEIGHT = 64, 48


def gradient_image():
    image = np.zeros((IMAGE_HEIGHT, IMAGE_WIDTH, 3), np.uint8)
    image[:, :, 0] = 20 + 3 * np.arange(IMAGE_WIDTH)[None, :]
    image[:, :, 1] = 100
    image[:, :, 2] = 30 + 4 * np.arange(IMAGE_HEIGHT)[:, None]
    return image


def open_dialog(script, *host_options, params=None, **options):
    """Runs one filter whose dialog is driven by `script` (after waiting for it to show), with
    further test-host options. Without params the host holds no block and the module creates
    one with the defaults."""
    # The pause lets the mouse moves Wine makes up when windows appear or resize under the real
    # pointer arrive before a scripted drag can take them up.
    lines = ["wait-dialog 20000", "sleep 300"] + list(script)
    args = host_options if params is not None else ("--ask",) + host_options
    return run_host(*args, image=gradient_image(), params=params, script=lines, **options)


def saved_block(**fields):
    """A parameter block that asks for the dialog."""
    return param_block(showDialog=1, **fields)


class Geometry:
    """The preview geometry for the test image, from the big preview's captured size: the control
    is square and the image wider than high, so the fit is width-limited at sampleStep 1."""

    def __init__(self, big_capture, image_width=IMAGE_WIDTH, image_height=IMAGE_HEIGHT):
        self.height, self.width = big_capture.shape[:2]
        assert self.height == image_height * self.width // image_width
        self.scale = (image_width << 16) // self.width  # image pixels per preview pixel, 16.16
        self.max = max(self.width, self.height)
        self.default_centre = (self.width // 2, self.height // 2)
        # Preview rows and columns whose sample (at the pixel's centre) lies inside the image.
        self.drawn_width = sum(1 for j in range(self.width)
                               if scaled(j, self.scale) < image_width)
        self.drawn_height = sum(1 for i in range(self.height)
                                if scaled(i, self.scale) < image_height)

    def to_image(self, v):
        return scaled(v, self.scale)


# The 8 x 8 centre marker: W white, B black, . whatever was there.
MARKER = ["WWW..WWW",
          "WBWWWWBW",
          "WWBWWBWW",
          ".WWBBWW.",
          ".WWBBWW.",
          "WWBWWBWW",
          "WBWWWWBW",
          "WWW..WWW"]


def find_markers(capture):
    """Centres (x, y) of every complete marker pattern in a captured window."""
    white = np.all(capture == 255, axis=2)
    black = np.all(capture == 0, axis=2)
    h, w = white.shape
    if h < 8 or w < 8:
        return []
    hits = np.ones((h - 7, w - 7), bool)
    for r, row in enumerate(MARKER):
        for c, cell in enumerate(row):
            if cell == "W":
                hits &= white[r:r + h - 7, c:c + w - 7]
            elif cell == "B":
                hits &= black[r:r + h - 7, c:c + w - 7]
    return [(int(x) + 4, int(y) + 4) for y, x in zip(*np.nonzero(hits))]
