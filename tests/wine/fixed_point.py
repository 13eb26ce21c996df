"""The fixed-point arithmetic the models of the module's output share: 16- and 32-bit wrap-around,
16.16 coordinates, the saturating setting-by-size product, and the effect's steps and blend
weights as the settings give them."""

import math

import numpy as np

HALF = 32768  # one half in 16.16
PI = 3.14159265359  # the value the effect's steps are defined with


def wrap16(v):
    return ((np.asarray(v, dtype=np.int64) + 0x8000) & 0xFFFF) - 0x8000


def wrap32(v):
    return ((np.asarray(v, dtype=np.int64) + 0x80000000) & 0xFFFFFFFF) - 0x80000000


def scaled(v, scale):
    """v times a 16.16 scale, rounded to a whole number (numbers or numpy arrays)."""
    return (v * scale + HALF) >> 16


def saturating_product(a, b):
    """a * b / 256, rounded, held within the int16 range short of -32768."""
    return max(-32767, min(32767, (a * b + 128) >> 8))


def half_extent(setting, preview_max, scale):
    """Half the effect rectangle's width or height in pixels of the given 16.16 scale."""
    return int(wrap16(wrap32(saturating_product(setting, preview_max) * scale) >> 15))


def steps(settings):
    """(step_x, step_y): how far, in 16.16, each plane samples beyond the one before."""
    angle = settings["angle"] * PI / 180
    return (int(math.cos(angle) * settings["stretch"] * 25000),
            int(math.sin(angle) * settings["stretch"] * 25000))


def mix_weights(settings):
    """(weight of the original, weight of the effect), out of 256."""
    mix_effect = settings["strength"] * 256 // 100
    return 256 - mix_effect, mix_effect

