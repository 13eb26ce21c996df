"""The final pass of the real module, pixel for pixel against a plain numpy model of the effect.

The model is written from the rules, not from the module's code: the preview geometry that fixes
the effect rectangle's size, the steps taken with double-precision cosine and sine (pi as
3.14159265359), every row started at the middle of its pixels, each plane sampled one step further
than the one before (the black plane of CMYK never), samples outside the image keeping the
pixel's own byte, and the blend by strength. The host's mask only shapes the preview; the host
applies the selection itself, so the output is the same with and without one.

Also here: the memory the module holds against maxSpace, measured by the test host, and what it
gives back when a host unloads it in the middle of a run.
"""

import os
import subprocess
import tempfile

import numpy as np
import pytest

from fixed_point import HALF, half_extent, mix_weights, steps, wrap16, wrap32
from harness import (ARCH, NO_ERR, PROFILES, assert_nothing_held, build_paths, ok_script, param_block,
                     read_param_block, read_png, run_host)

FULL_RANGE = 65535  # a host that holds 16-bit samples in 0..65535


@pytest.fixture(scope="module")
def control():
    """The big preview control's size as Start measures it. A very wide image makes the preview
    as wide as the control and a very tall one as tall (up to 512)."""
    script = ok_script("capture-control 100 big.png")
    wide = run_host(image=np.full((8, 1000, 3), 90, np.uint8), settings=dict(showDialog=1),
                    script=script)
    tall = run_host(image=np.full((1000, 8, 3), 90, np.uint8), settings=dict(showDialog=1),
                    script=script)
    return wide.captures["big.png"].shape[1], tall.captures["big.png"].shape[0]


def preview_fit(work_w, work_h, control_w, control_h):
    """(previewWidth, previewHeight, previewScale): the largest rectangle with the work image's
    aspect ratio inside the control and 512 x 512; a side never shrinks to nothing."""
    pw, ph = min(control_w, 512), min(control_h, 512)
    x_ratio, y_ratio = work_w * 65536 // pw, work_h * 65536 // ph
    if y_ratio < x_ratio:
        return pw, max(1, work_h * pw // work_w), x_ratio
    return max(1, work_w * ph // work_h), ph, y_ratio


def work_size(w, h, step):
    return (w, h) if step == 1 else (max(1, w // step), max(1, h // step))


def reference(image, settings, step, control):
    """The filtered image the final pass must produce, 8-bit (uint8) or 16-bit (uint16): the same
    geometry at both depths, and the blend (original x weight + sample x weight) >> 8 on the
    samples as they are, whatever their range."""
    img = (image if image.ndim == 3 else image[:, :, None]).astype(np.int64)
    h, w, planes = img.shape
    pw, ph, scale = preview_fit(*work_size(w, h, step), *control)
    image_scale = int(wrap32(step * scale))
    preview_max = max(pw, ph)
    half_w = half_extent(settings["width"], preview_max, image_scale)
    half_h = half_extent(settings["height"], preview_max, image_scale)
    step_x, step_y = steps(settings)
    mix_original, mix_effect = mix_weights(settings)

    y, x = np.mgrid[0:h, 0:w].astype(np.int64)
    dx, dy = wrap16(x - settings["centerX"]), wrap16(y - settings["centerY"])
    inside = (-half_w < dx) & (dx < half_w) & (-half_h < dy) & (dy < half_h)
    pos_x, pos_y = x * 65536 + HALF, y * 65536 + HALF
    out = img.copy()
    for k in range(planes):
        pos_x, pos_y = wrap32(pos_x - step_x), wrap32(pos_y + step_y)
        own = img[:, :, k]
        if k == 3:
            sample = own
        else:
            sx, sy = pos_x >> 16, pos_y >> 16
            found = (sx >= 0) & (sx < w) & (sy >= 0) & (sy < h)
            sample = np.where(found, img[np.clip(sy, 0, h - 1), np.clip(sx, 0, w - 1), k], own)
        out[:, :, k] = np.where(inside, (own * mix_original + sample * mix_effect) >> 8, own)
    out = out.astype(image.dtype)
    return out if image.ndim == 3 else out[:, :, 0]


def held_before_work(w, h, planes, step, mask, control, sample_bytes=1, host_planes=None):
    """Everything the plan holds back from maxSpace besides the work image: the probe, the fixed
    reserve, the preview strip and DIB buffer, two host rows once decimated, and with a mask one
    host mask row (one byte per pixel at every depth) and the mask blocks of the step's own
    preview. Host rows (the probe's and the two) hold every plane the host has."""
    row = w * (host_planes or planes) * sample_bytes
    held = (row + 1) * 32 + h + 2000 + (4352 if planes > 1 else 512) + 8192 + 6144
    if step > 1:
        held += 2 * row
    if mask:
        pw, ph, _ = preview_fit(*work_size(w, h, step), *control)
        stride = 2 * ((pw + 15) >> 4)
        held += w + 3 * (stride * ph + stride)
    return held


def max_space_for(step, w, h, planes, mask, control, sample_bytes=1, host_planes=None):
    """The smallest maxSpace with which the plan takes this step."""
    ww, wh = work_size(w, h, step)
    return (held_before_work(w, h, planes, step, mask, control, sample_bytes, host_planes)
            + ww * wh * planes * sample_bytes + 1)


def chosen_step(report):
    """The decimation the module chose: how far the first image-prepass call moved inRect."""
    log = report["call_log"]
    start = next(c for c in log if c["selector"] == "start")
    top, _, bottom, _ = start["in"]
    if bottom - top != 1:
        return 1
    moved = next(c for c in log if c["selector"] == "continue" and c["in"][0] != top)
    return moved["in"][0] - top


def rose(w, h, planes):
    """The built-in photograph of ImageMagick, at the given size."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "rose.png")
        subprocess.run(["convert", "rose:", "-resize", f"{w}x{h}!", path], check=True)
        rgb = read_png(path, 3).astype(np.int64)
    if planes == 1:
        return ((rgb[:, :, 0] * 3 + rgb[:, :, 1] * 5 + rgb[:, :, 2] * 2) // 10).astype(np.uint8)
    if planes == 4:
        y, x = np.mgrid[0:h, 0:w]
        return np.dstack([rgb, (x * 255) // w ^ (y * 3) % 64]).astype(np.uint8)
    return rgb.astype(np.uint8)


def pattern(w, h, planes):
    """Stripes and gradients with noise, so that a sample one pixel off shows."""
    rng = np.random.default_rng(w * 7 + planes)
    y, x = np.mgrid[0:h, 0:w]
    base = [(x * 9) % 256, (y * 13) % 256, ((x // 3 + y // 2) % 2) * 200, (x * y) % 251]
    noisy = np.stack(base[:planes], -1) + rng.integers(0, 40, (h, w, planes))
    image = np.clip(noisy, 0, 255).astype(np.uint8)
    return image if planes > 1 else image[:, :, 0]


def ellipse_mask(w, h):
    y, x = np.mgrid[0:h, 0:w]
    mask = np.zeros((h, w), np.uint8)
    mask[((x - w / 2) / (w / 3)) ** 2 + ((y - h / 2) / (h / 3)) ** 2 < 1] = 255
    mask[: h // 4, : w // 4] = 254  # partly selected: unselected
    return mask


# (image, planes, angle, stretch, strength, height, width, centre, sampleStep, mask)
CASES = [
    ("rose", 3, 0, 100, 100, 50, 50, "middle", 1, False),
    ("rose", 3, 60, 1, 33, 30, 60, "left", 1, False),
    ("rose", 3, 90, 100, 33, 100, 100, "top", 2, False),
    ("rose", 3, 180, 100, 100, 50, 50, "right", 5, False),
    ("rose", 3, 270, 1, 100, 100, 100, "bottom", 2, True),
    ("rose", 3, 60, 100, 0, 100, 100, "middle", 5, True),
    ("rose", 1, 90, 100, 100, 50, 50, "middle", 1, False),
    ("rose", 1, 180, 1, 33, 20, 80, "left", 5, True),
    ("rose", 4, 60, 100, 100, 100, 100, "middle", 2, False),
    ("rose", 4, 270, 100, 33, 40, 40, "top", 1, True),
    ("pattern", 3, 60, 100, 100, 60, 60, "middle", 1, False),
    ("pattern", 3, 0, 1, 100, 100, 100, "right", 5, True),
    ("pattern", 1, 270, 100, 100, 100, 100, "bottom", 2, False),
    ("pattern", 4, 180, 1, 100, 100, 100, "left", 1, False),
    ("pattern", 3, 90, 1, 33, 70, 30, "right", 1, True),
    ("pattern", 4, 0, 100, 33, 60, 90, "bottom", 5, True),
]

SIZES = {"rose": (160, 120), "pattern": (150, 100)}


def centre(where, w, h):
    return {"middle": (w // 2, h // 2), "left": (2, h // 2), "right": (w - 3, h // 2),
            "top": (w // 2, 2), "bottom": (w // 2, h - 3)}[where]


def case_id(case):
    kind, planes, angle, stretch, strength, _, _, where, step, mask = case
    return (f"{kind}-{planes}p-a{angle}-s{stretch}-k{strength}-{where}-step{step}"
            + ("-mask" if mask else ""))


# The module blends with the widest vectors the processor has; VEXEL_BLEND makes it take a given
# path (a vector path the processor lacks falls back to the widest it has). All give the same bytes.
@pytest.mark.parametrize("blend", ["plain", "sse2", "avx2"])
@pytest.mark.parametrize("case", CASES, ids=[case_id(c) for c in CASES])
def test_final_pass_matches_the_model(case, blend, control):
    kind, planes, angle, stretch, strength, height, width, where, step, with_mask = case
    w, h = SIZES[kind]
    image = (rose if kind == "rose" else pattern)(w, h, planes)
    cx, cy = centre(where, w, h)
    settings = dict(angle=angle, stretch=stretch, strength=strength, height=height, width=width,
                    centerX=cx, centerY=cy)
    options = ["--log-calls", "--instrument", "--move-buffers", "--pad-rows", "3"]
    if step > 1:
        options += ["--max-space", str(max_space_for(step, w, h, planes, with_mask, control))]
    r = run_host(*options, image=image, mask=ellipse_mask(w, h) if with_mask else None,
                 settings=dict(settings, showDialog=0),
                 env={"VEXEL_BLEND": blend})

    assert r.results() == {"prepare": 0, "start": 0, "continue": 0, "finish": 0}
    assert chosen_step(r.report) == step
    expected = reference(image, settings, step, control)
    wrong = np.argwhere(np.any((r.output != expected).reshape(h, w, -1), axis=2))
    assert len(wrong) == 0, f"{len(wrong)} pixels differ, first (y, x) {wrong[:8].tolist()}"
    if strength == 0:
        assert np.array_equal(r.output, image)
    # One progress report per render call, counted from the top of the filter rectangle.
    done = [p[1] for p in r.report["progress"]]
    assert done[0] == 0 and done[-1] == h - 1 and done == sorted(done)
    assert {p[2] for p in r.report["progress"]} == {h}
    assert_nothing_held(r)


BOTH_BUILDS_CASES = [(planes, step, mask) for planes in (1, 3, 4) for step in (1, 2)
                     for mask in (False, True)]


@pytest.mark.skipif(ARCH != "x64", reason="compares both builds; runs once, with the 64-bit tests")
@pytest.mark.parametrize("planes,step,with_mask", BOTH_BUILDS_CASES,
                         ids=[f"{p}p-step{s}" + ("-mask" if m else "")
                              for p, s, m in BOTH_BUILDS_CASES])
def test_both_builds_write_the_same_bytes(planes, step, with_mask, control):
    w, h = SIZES["pattern"]
    image = pattern(w, h, planes)
    settings = dict(angle=60, stretch=100, strength=33, height=70, width=60, centerX=w // 3,
                    centerY=h // 2, showDialog=0)
    options = ["--log-calls", "--pad-rows", "3"]
    if step > 1:
        options += ["--max-space", str(max_space_for(step, w, h, planes, with_mask, control))]
    mask = ellipse_mask(w, h) if with_mask else None
    outputs = []
    for arch in ("x86", "x64"):
        testhost, plugin = build_paths(arch)
        r = run_host(*options, image=image, mask=mask, settings=settings, testhost=testhost,
                     plugin=plugin)
        assert r.results() == {"prepare": 0, "start": 0, "continue": 0, "finish": 0}, arch
        assert chosen_step(r.report) == step, arch
        outputs.append(r.output)
    assert outputs[0].tobytes() == outputs[1].tobytes()
    assert not np.array_equal(outputs[0], image)  # the effect did something


def deep(image, seed, full_scale=32768):
    """The 8-bit picture as 16-bit samples with detail below the 8-bit steps, in 0..32768, or
    spread over 0..65535."""
    rng = np.random.default_rng(seed)
    v = image.astype(np.int64) * (full_scale // 256) + rng.integers(0, full_scale // 256 + 1,
                                                                    image.shape)
    return v.astype(np.uint16)


DEEP_CASES = [(planes, step, mask, full_scale) for planes in (1, 3, 4) for step in (1, 2)
              for mask in (False, True) for full_scale in (32768,)] + [(3, 1, False, FULL_RANGE),
                                                                      (4, 2, True, FULL_RANGE)]


@pytest.mark.parametrize("planes,step,with_mask,full_scale", DEEP_CASES,
                         ids=[f"{p}p-step{s}" + ("-mask" if m else "") + f"-{f}"
                              for p, s, m, f in DEEP_CASES])
def test_final_pass_at_16_bits_matches_the_model(planes, step, with_mask, full_scale, control):
    w, h = SIZES["pattern"]
    image = deep(pattern(w, h, planes), planes * 10 + step, full_scale)
    settings = dict(angle=60, stretch=100, strength=33, height=70, width=60, centerX=w // 3,
                    centerY=h // 2)
    options = ["--log-calls", "--instrument", "--move-buffers", "--pad-rows", "6"]
    if step > 1:
        options += ["--max-space",
                    str(max_space_for(step, w, h, planes, with_mask, control, sample_bytes=2))]
    r = run_host(*options, image=image, mask=ellipse_mask(w, h) if with_mask else None,
                 settings=dict(settings, showDialog=0), full_scale=full_scale)
    assert r.report["image"]["mode"] == {1: 10, 3: 11, 4: 13}[planes]
    assert r.results() == {"prepare": 0, "start": 0, "continue": 0, "finish": 0}
    assert chosen_step(r.report) == step
    expected = reference(image, settings, step, control)
    wrong = np.argwhere(np.any((r.output != expected).reshape(h, w, -1), axis=2))
    assert len(wrong) == 0, f"{len(wrong)} pixels differ, first (y, x) {wrong[:8].tolist()}"
    assert not np.array_equal(r.output, image)
    assert_nothing_held(r)


def test_an_8_bit_image_filtered_at_16_bits_differs_by_at_most_1(control):
    """v x 32768 / 255 rounded in, v x 255 / 32768 rounded out: the blend at 16 bits keeps what the
    8-bit blend truncates, so the two differ by a rounding step at most."""
    w, h = SIZES["rose"]
    image = rose(w, h, 3)
    settings = dict(angle=60, stretch=100, strength=33, height=100, width=100, centerX=w // 2,
                    centerY=h // 2, showDialog=0)
    eight = run_host(image=image, settings=settings)
    widened = ((image.astype(np.int64) * 32768 + 127) // 255).astype(np.uint16)
    sixteen = run_host(image=widened, settings=settings)
    back = np.minimum((sixteen.output.astype(np.int64) * 255 + 16384) // 32768, 255)
    assert np.abs(back - eight.output.astype(np.int64)).max() <= 1
    assert (back != eight.output).any()  # the two depths do round differently


def test_dialog_ok_at_16_bits_filters_as_the_model(control):
    """The dialog's OK path with a 16-bit image: preview drawn, settings taken, output at 16
    bits."""
    w, h = SIZES["rose"]
    image = deep(rose(w, h, 3), 7)
    script = ok_script("click 102", "sleep 300", settle=300)
    settings = dict(angle=30, stretch=3, strength=100, height=100, width=100)
    r = run_host("--log-calls", "--display-pixels", image=image, script=script,
                 params=param_block(centerX=w // 2, centerY=h // 2, showDialog=1, **settings))
    assert r.results()["continue"] == NO_ERR
    assert r.report["display_pixels"], "the preview was drawn through the host"
    assert {d["image_mode"] for d in r.report["display_pixels"]} == {3}  # shown as 8-bit RGB
    assert np.array_equal(r.output, reference(image, read_param_block(r.params), 1, control))


# A few small cases under every kind of host, with the host's own maxSpace (sampleStep 1).
PROFILE_CASES = [
    ("rose", 3, 60, 3, 100, 60, 60, "middle", False),
    ("pattern", 1, 90, 2, 100, 100, 100, "left", True),
    ("pattern", 3, 180, 4, 33, 100, 80, "top", True),
    ("deep", 3, 120, 4, 50, 100, 80, "middle", True),
]
EDITS = dict(stretch=441, angle=153, height=156, width=114, strength=117)


def profile_case_id(case):
    kind, planes, angle, *_, mask = case
    return f"{kind}-{planes}p-a{angle}" + ("-mask" if mask else "")


@pytest.mark.parametrize("case", PROFILE_CASES, ids=[profile_case_id(c) for c in PROFILE_CASES])
@pytest.mark.parametrize("profile", PROFILES, ids=[p.name for p in PROFILES])
def test_final_pass_matches_the_model_under_every_host(profile, case, control):
    kind, planes, angle, stretch, strength, height, width, where, with_mask = case
    w, h = SIZES["rose" if kind == "rose" else "pattern"]
    image = (rose if kind == "rose" else pattern)(w, h, planes)
    if kind == "deep":
        image = deep(image, 3)
    values = dict(angle=angle, stretch=stretch, strength=strength, height=height, width=width)
    lost = 1 if profile.edge_lost else 0
    fw, fh = w - lost, h - lost  # the filter rectangle
    cx, cy = centre(where, fw, fh)
    options = dict(image=image, mask=ellipse_mask(w, h) if with_mask else None)
    pad = "6" if kind == "deep" else "3"  # 16-bit rows stay whole samples
    if profile.null_handle:
        # The host asks every run with no block: the user sets the values in the dialog and
        # the centre stays where the dialog puts it.
        script = ["wait-dialog 20000", "sleep 200"]
        script += [f"set-text {EDITS[k]} {v}" for k, v in values.items()]
        script += ["click 1", "wait-closed 10000"]
        r = run_host("--instrument", "--pad-rows", pad, profile=profile, script=script,
                     **options)
    else:
        r = run_host("--instrument", "--pad-rows", pad, profile=profile,
                     settings=dict(values, centerX=cx, centerY=cy, showDialog=0), **options)

    expected_results = {"prepare": 0, "start": 0, "continue": 0}
    if profile.null_handle:
        expected_results["parameters"] = 0
    if profile.finish_after_success:
        expected_results["finish"] = 0
    assert r.results() == expected_results
    settings = read_param_block(r.params)
    assert {k: settings[k] for k in values} == values
    # Only the filter rectangle is filtered; what a host leaves out stays as it was.
    expected = image.copy()
    expected[:fh, :fw] = reference(image[:fh, :fw], settings, 1, control)
    wrong = np.argwhere(np.any((r.output != expected).reshape(h, w, -1), axis=2))
    assert len(wrong) == 0, f"{len(wrong)} pixels differ, first (y, x) {wrong[:8].tolist()}"
    assert_nothing_held(r)


# Images whose host holds planes beside the image mode's: (name, mode's planes, planes besides,
# mode at 8 and at 16 bits). The editor's host library hands every RGB image over as BGRA.
EXTRA_PLANE_LAYOUTS = [("rgb+alpha", 3, 1, 3, 11), ("grey+alpha", 1, 1, 1, 10),
                       ("cmyk+1", 4, 1, 4, 13)]
# Each layout under the host library (every plane range taken from plane 0) and the filter host
# (outData holds the requested planes only; rows go back whole from a buffer starting at 0), at
# both depths, sampleStep 1 and 2, with the mask at one step or the other.
EXTRA_PLANE_CASES = [(layout, profile, depth, step, (step == 2) == (depth == 8))
                     for layout in EXTRA_PLANE_LAYOUTS for profile in ("library", "filter-host")
                     for depth in (8, 16) for step in (1, 2)]


def extra_plane_case_id(case):
    layout, profile, depth, step, mask = case
    return f"{layout[0]}-{profile}-{depth}bit-step{step}" + ("-mask" if mask else "")


@pytest.mark.parametrize("case", EXTRA_PLANE_CASES,
                         ids=[extra_plane_case_id(c) for c in EXTRA_PLANE_CASES])
def test_planes_beside_the_modes_come_back_unchanged_and_every_request_starts_at_plane_0(case,
                                                                                        control):
    """The mode's planes are filtered as without the others, the others come back as they went
    in, whatever the host does with the low planes and with outData, and no request starts above
    plane 0 or reaches past the filter rectangle or the host's planes."""
    (name, colour, extra, mode8, mode16), profile, depth, step, with_mask = case
    w, h = SIZES["rose"]
    planes = colour + extra
    image = rose(w, h, 3) if colour == 3 else pattern(w, h, colour)
    image = image if image.ndim == 3 else image[:, :, None]
    y, x = np.mgrid[0:h, 0:w]
    others = np.dstack([((x * 7 + y * 13 + 50 * k) % 256) for k in range(extra)]).astype(np.uint8)
    image = np.dstack([image, others])
    if depth == 16:
        image = deep(image, planes * 10 + step)
    values = dict(angle=60, stretch=4, strength=100, height=80, width=80)
    options = ["--log-calls", "--instrument", "--pad-rows", "6",
               "--mode", str(mode8 if depth == 8 else mode16)]
    if step > 1:
        options += ["--max-space", str(max_space_for(step, w, h, colour, with_mask, control,
                                                     depth // 8, host_planes=planes))]
    mask = ellipse_mask(w, h) if with_mask else None
    if profile == "library":
        # The host asks every run with no block: the values are set in the dialog.
        script = ["wait-dialog 20000", "sleep 200"]
        script += [f"set-text {EDITS[k]} {v}" for k, v in values.items()]
        script += ["click 1", "wait-closed 10000"]
        r = run_host(*options, image=image, mask=mask, profile=profile, script=script)
        assert r.results() == {"parameters": 0, "prepare": 0, "start": 0, "continue": 0,
                               "finish": 0}
    else:
        r = run_host(*options, image=image, mask=mask, profile=profile,
                     settings=dict(values, centerX=w // 2, centerY=h // 2, showDialog=0))
        assert r.results() == {"prepare": 0, "start": 0, "continue": 0}
    assert r.report["image"]["planes"] == planes
    assert chosen_step(r.report) == step
    settings = read_param_block(r.params)
    assert {k: settings[k] for k in values} == values
    expected = reference(image[:, :, :colour], settings, step, control)
    assert np.array_equal(r.output[:, :, :colour].reshape(expected.shape), expected)
    assert np.array_equal(r.output[:, :, colour:], image[:, :, colour:])
    assert not np.array_equal(r.output, image)  # the effect did something
    highest = set()
    for call in r.report["call_log"]:
        if call["selector"] not in ("start", "continue"):
            continue
        in_lo, in_hi, out_lo, out_hi = call["planes"]
        assert in_lo == 0 and out_lo == 0 and max(in_hi, out_hi) < planes, call
        highest.add(in_hi)
        for rect in (call["in"], call["out"]):
            assert rect == [0, 0, 0, 0] or (0 <= rect[0] < rect[2] <= h and rect[1:4:2] == [0, w])
    assert highest == {colour - 1, planes - 1}  # the prepass, then every plane in the render pass
    assert_nothing_held(r)


def test_a_drawn_preview_does_not_change_the_output(control):
    """The preview leaves the production position's fractions wherever its last pixel was; the
    final pass starts every row at the middle of its pixels all the same."""
    w, h = SIZES["rose"]
    image = rose(w, h, 3)
    script = ok_script("click 102", "sleep 300", settle=300)
    settings = dict(angle=30, stretch=3, strength=100, height=100, width=100)
    r = run_host("--log-calls", image=image, script=script,
                 params=param_block(centerX=w // 2, centerY=h // 2, showDialog=1, **settings))
    assert r.results()["continue"] == NO_ERR
    settings = read_param_block(r.params)
    assert np.array_equal(r.output, reference(image, settings, 1, control))


def smooth(w, h):
    y, x = np.mgrid[0:h, 0:w]
    return np.dstack([(x // 8) % 256, (y // 8) % 256, ((x + y) // 16) % 256]).astype(np.uint8)


@pytest.mark.parametrize("w,h,max_space,step", [(2000, 1500, 4_000_000, 2),
                                                (6000, 4000, 20_000_000, 2)])
def test_memory_held_stays_within_max_space(w, h, max_space, step, control):
    settings = dict(angle=45, stretch=100, strength=50, height=30, width=30, centerX=w // 2,
                    centerY=h // 2, showDialog=0)
    image = smooth(w, h)
    r = run_host("--log-calls", "--instrument", "--quiet", "--max-space", str(max_space),
                 image=image, settings=settings, timeout=600)
    assert r.results() == {"prepare": 0, "start": 0, "continue": 0, "finish": 0}
    assert chosen_step(r.report) == step
    held = r.report["runs"][0]["instrument"]
    print(f"{w} x {h}, maxSpace {max_space}: peak held {held['peak_live_bytes']} bytes, "
          f"{r.report['runs'][0]['continue_calls']} Continue calls")
    assert held["peak_live_bytes"] <= max_space
    assert held["live_blocks"] == 0 and held["live_gdi"] == 0
    if w == 2000:
        assert np.array_equal(r.output, reference(image, settings, step, control))


def test_memory_failures_end_with_mem_full_and_nothing_held():
    image = smooth(400, 300)
    settings = dict(showDialog=0)
    # Too little maxSpace for even the fifth of the image: Start fails.
    r = run_host("--instrument", "--max-space", "60000", image=image, settings=settings)
    assert r.results() == {"prepare": 0, "start": -108}
    assert_nothing_held(r)
    # 400 x 100 decimated by 2 (maxSpace 150,000): the probe (40,532 bytes) and the work image
    # (30,000) can be had, the row cache (at least 1201 x 35 + 100 = 42,135) cannot, so the
    # Continue that ends the prepass fails.
    r = run_host("--instrument", "--log-calls", "--max-space", "150000", "--fail-alloc-above",
                 "41000", image=smooth(400, 100), settings=settings)
    assert chosen_step(r.report) == 2
    assert r.results()["continue"] == -108
    assert r.report["runs"][0]["continue_calls"] == 50
    assert_nothing_held(r)


# What a run holds after two Continue calls: the row cache once the prepass is over (whole
# rectangle), or every buffer, bitmap and class of the prepass (decimated, with a mask).
HELD_MID_RUN = [(1, False, dict(blocks=1, gdi=0, dc=0, classes=0)),
                (2, True, dict(blocks=6, gdi=2, dc=1, classes=2))]


@pytest.mark.parametrize("step,with_mask,held", HELD_MID_RUN, ids=["row-cache", "prepass"])
def test_unloading_in_the_middle_of_a_run_gives_everything_back(step, with_mask, held, control):
    """A host that stops after the second Continue and unloads the module without Finish; loaded
    again, the module filters the next run as ever."""
    w, h = SIZES["pattern"]
    image = pattern(w, h, 3)
    settings = dict(angle=60, stretch=100, strength=100, height=70, width=60, centerX=w // 3,
                    centerY=h // 2)
    options = ["--instrument", "--runs", "2", "--unload-mid-run", "2"]
    if step > 1:
        options += ["--max-space", str(max_space_for(step, w, h, 3, with_mask, control))]
    r = run_host(*options, image=image, mask=ellipse_mask(w, h) if with_mask else None,
                 settings=dict(settings, showDialog=0))
    first = r.report["runs"][0]
    assert first["results"] == {"prepare": 0, "start": 0, "continue": 0}
    counts = {when: {k: first["unload"][when]["live_" + k] for k in [*held, "bytes"]}
              for when in ("before", "after")}
    print(f"step {step}: held before and after the unload {counts}")
    assert {k: counts["before"][k] for k in held} == held
    assert set(counts["after"].values()) == {0}
    assert r.results(1) == {"prepare": 0, "start": 0, "continue": 0, "finish": 0}
    assert np.array_equal(r.output, reference(image, settings, step, control))
    assert_nothing_held(r, run=1)
