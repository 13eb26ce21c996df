"""Settings remembered per Windows user: what OK keeps, what a run without a host-held block opens
with in each host kind and build, the centre rule, and records that must be ignored."""

import struct

import numpy as np
import pytest

from dialog_helpers import gradient_image
from harness import ARCH, NO_ERR, REPORTED, build_paths, param_block, read_param_block, run_host

ANGLE, STRETCH, STRENGTH, HEIGHT, WIDTH = 153, 441, 117, 156, 114
VALUES = {ANGLE: "135", STRETCH: "33", STRENGTH: "70", HEIGHT: "40", WIDTH: "60"}
DIALOG = ["wait-dialog 20000", "sleep 300"]


def record(angle=135, stretch=33, strength=70, height=40, width=60, cx=10, cy=20, w=40, h=30,
           version=1):
    """The stored value: a version byte, then nine little-endian int16."""
    return struct.pack("<B9h", version, angle, stretch, strength, height, width, cx, cy, w, h)


def set_values():
    return [f"set-text {edit} {text}" for edit, text in VALUES.items()]


def get_values():
    return [f"get-text {edit}" for edit in VALUES]


@pytest.mark.parametrize("profile,options", [("library", []), ("filter-host", ["--ask-first"])])
def test_ok_is_offered_by_the_next_run_without_a_block(profile, options):
    script = DIALOG + set_values() + ["mouse-down 100 50 40", "mouse-up 100 50 40", "click 1",
                                      "wait-closed 5000"]
    script += DIALOG + get_values() + ["click 1", "wait-closed 5000"]
    run = run_host("--runs", "2", *options, image=gradient_image(), script=script,
                   profile=profile)
    assert run.results(0)["continue"] == run.results(1)["continue"] == NO_ERR
    assert run.script_value("get-text") == list(VALUES.values())
    # The centre came back too: the second OK stored what the first one did.
    first, second = (bytes.fromhex(r["params_hex"]) for r in run.report["runs"])
    assert second == first and read_param_block(first)["centerX"] > 0
    b = read_param_block(first)
    assert run.report["remembered_settings"] == {"type": 3, "hex": record(
        cx=b["centerX"], cy=b["centerY"], w=64, h=48).hex()}
    assert run.report["module_loads"] == (2 if profile == "library" else 1)


def test_cancel_remembers_nothing():
    script = DIALOG + set_values() + ["click 2", "wait-closed 5000"]
    script += DIALOG + get_values() + ["click 2", "wait-closed 5000"]
    run = run_host("--runs", "2", image=gradient_image(), script=script, profile="library",
                   expect_exit=None)
    assert run.results(0)["continue"] == run.results(1)["continue"] == REPORTED
    assert run.script_value("get-text") == ["0", "20", "50", "50", "50"]
    assert run.report["remembered_settings"] is None


def start_without_a_block(*options, **kwargs):
    """The block Start creates when the host holds none (no dialog runs: no Continue)."""
    r = run_host("--selectors", "prepare,start,finish", *options,
                 image=np.zeros((30, 40, 3), np.uint8), **kwargs)
    return read_param_block(r.params)


def test_settings_of_one_build_are_offered_by_the_other():
    other = {"x86": "x64", "x64": "x86"}[ARCH]
    script = DIALOG + set_values() + ["click 1", "wait-closed 5000"]
    run_host(image=np.zeros((30, 40, 3), np.uint8), script=script, profile="library")
    testhost, plugin = build_paths(other)
    block = start_without_a_block(testhost=testhost, plugin=plugin)
    assert {k: block[k] for k in ("angle", "stretch", "strength", "height", "width")} == dict(
        angle=135, stretch=33, strength=70, height=40, width=60)


DEFAULTS = read_param_block(param_block(showDialog=1))
TAKEN = dict(DEFAULTS, angle=135, stretch=33, strength=70, height=40, width=60)
CASES = {
    "same-size": ("3:" + record().hex(), dict(TAKEN, centerX=10, centerY=20)),
    "other-size": ("3:" + record(cx=30, cy=45, w=80, h=60).hex(),
                   dict(TAKEN, centerX=15, centerY=23)),
    "outside": ("3:" + record(cx=41, cy=5).hex(), TAKEN),
    "other-version": ("3:" + record(version=2).hex(), DEFAULTS),
    "short": ("3:" + record()[:-1].hex(), DEFAULTS),
    "long": ("3:" + (record() + b"\0").hex(), DEFAULTS),
    "out-of-range": ("3:" + record(stretch=0).hex(), DEFAULTS),
    "no-rectangle": ("3:" + record(w=0).hex(), DEFAULTS),
    "not-binary": ("1:" + record().hex(), DEFAULTS),
}


@pytest.mark.parametrize("case", CASES)
def test_a_new_block_takes_a_valid_record_only(case):
    stored, expected = CASES[case]
    assert start_without_a_block("--remembered-value", stored) == expected


def test_a_block_the_host_holds_always_wins():
    given = dict(angle=7, stretch=9, showDialog=0)
    block = start_without_a_block("--remembered-value", "3:" + record().hex(), settings=given)
    assert block == read_param_block(param_block(**given))
