"""The ARM64 module in Wine's ARM64 build (under qemu), each case run there and with the x86-64
module and compared byte for byte: the final pass (1, 3 and 4 planes, with and without a mask,
sampleStep 1 and 2, 8 and 16 bits), the dialog's OK path, the remembered settings and a
record/play round trip. A process start under emulation costs seconds, so the cases are few and
each ARM64 run does as much as one run can."""

import os
import subprocess
import sys

import numpy as np
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "wine"))

from dialog_helpers import gradient_image  # noqa: E402
from harness import (NO_ERR, OtherWine, begin_test_user, read_param_block,  # noqa: E402
                     run_host, winpath)
from test_final_pass import (chosen_step, control, deep, ellipse_mask,  # noqa: E402,F401
                             max_space_for, pattern)

PLUGIN = os.environ.get("VEXEL_ARM64_PLUGIN", "")
TESTHOST = os.environ.get("VEXEL_ARM64_TESTHOST", "")
WINE = os.environ.get("VEXEL_ARM64_WINE", "")
PREFIX = os.environ.get("VEXEL_ARM64_PREFIX", "")
BINFMT = "/proc/sys/fs/binfmt_misc/qemu-aarch64"


def missing():
    """Why the ARM64 runs cannot happen here, or None."""
    for path, what in [(PLUGIN, "the ARM64 module"), (TESTHOST, "the ARM64 test host"),
                       (WINE, "Wine's ARM64 build (scripts/setup-arm64.sh)"),
                       (os.path.join(PREFIX, "system.reg"), "the ARM64 Wine prefix")]:
        if not path or not os.path.exists(path):
            return f"{what} is missing: {path or 'not configured'}"
    if not os.path.exists(BINFMT):
        return "no binfmt_misc handler for aarch64 (scripts/setup-arm64.sh registers it as root)"
    return None


@pytest.fixture(scope="module")
def arm64():
    """The ARM64 Wine with its server kept running for the whole file (a cold process start
    costs 6-20 s, a warm one 1-2.5 s), ended afterwards."""
    reason = missing()
    if reason:
        pytest.skip(reason)
    wine = OtherWine(WINE, PREFIX)
    server = os.path.join(os.path.dirname(WINE), "wineserver")
    env = dict(os.environ, WINEPREFIX=PREFIX)
    # Kept for a minute past its last client only, so it ends even if this process is killed.
    subprocess.run([server, "-p60"], env=env, timeout=60, check=True)
    subprocess.run([WINE, "wineboot"], env=env, timeout=300, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    yield wine
    subprocess.run([server, "-k"], env=env, timeout=60)


@pytest.fixture(autouse=True)
def _fresh_user(request):
    begin_test_user(request.node.nodeid)


def both(arm64, *options, **kwargs):
    """The same run with the x86-64 module and with the ARM64 one: (x64 result, ARM64 result).
    Both start as the same fresh Windows user, each in its own prefix."""
    x64 = run_host(*options, **kwargs)
    begin_test_user(os.environ.get("PYTEST_CURRENT_TEST", ""))
    on_arm64 = run_host(*options, plugin=PLUGIN, testhost=TESTHOST, wine=arm64, timeout=600,
                        **kwargs)
    return x64, on_arm64


# (planes, sampleStep, mask, bits): every plane count at both steps and both depths, the mask
# on half of them.
FINAL_PASS = [(planes, step, (planes + step + bits // 8) % 2 == 0, bits)
              for bits in (8, 16) for planes in (1, 3, 4) for step in (1, 2)]


@pytest.mark.parametrize("planes,step,with_mask,bits", FINAL_PASS,
                         ids=[f"{p}p-step{s}" + ("-mask" if m else "") + f"-{b}bit"
                              for p, s, m, b in FINAL_PASS])
def test_final_pass_gives_the_x64_bytes(arm64, control, planes, step, with_mask, bits):
    w, h = 150, 100
    image = pattern(w, h, planes)
    if bits == 16:
        image = deep(image, planes * 10 + step)
    settings = dict(angle=60, stretch=100, strength=33, height=70, width=60, centerX=w // 3,
                    centerY=h // 2, showDialog=0)
    options = ["--log-calls", "--pad-rows", "6"]  # even: 16-bit rows keep whole samples
    if step > 1:
        options += ["--max-space", str(max_space_for(step, w, h, planes, with_mask, control,
                                                     sample_bytes=bits // 8))]
    x64, on_arm64 = both(arm64, *options, image=image, settings=settings,
                         mask=ellipse_mask(w, h) if with_mask else None)
    for r in (x64, on_arm64):
        assert r.results() == {"prepare": 0, "start": 0, "continue": 0, "finish": 0}
        assert chosen_step(r.report) == step
    assert on_arm64.output.dtype == x64.output.dtype
    assert on_arm64.output.tobytes() == x64.output.tobytes()
    assert not np.array_equal(x64.output, image)  # the effect did something


EDITS = {153: "135", 441: "33", 117: "70", 156: "40", 114: "60"}  # angle stretch strength h w


def test_dialog_ok_then_the_remembered_settings_give_the_x64_bytes(arm64):
    """Two runs in one process, as a host that keeps no settings: the first one's dialog takes
    new values, a click moves the centre and Preview draws; OK filters and remembers. The second
    run's dialog opens at the remembered values and OK filters with them."""
    dialog = ["wait-dialog 20000", "sleep 300"]
    script = (dialog + [f"set-text {edit} {text}" for edit, text in EDITS.items()]
              + ["mouse-down 100 50 40", "mouse-up 100 50 40", "click 102", "sleep 300",
                 "click 1", "wait-closed 10000"]
              + dialog + [f"get-text {edit}" for edit in EDITS] + ["click 1", "wait-closed 10000"])
    x64, on_arm64 = both(arm64, "--runs", "2", "--display-pixels", image=gradient_image(),
                         script=script, profile="library")
    for r in (x64, on_arm64):
        assert r.results(0)["continue"] == r.results(1)["continue"] == NO_ERR
        assert r.script_value("get-text") == list(EDITS.values())
        assert read_param_block(bytes.fromhex(r.report["runs"][0]["params_hex"]))["centerX"] > 0
    for run in (0, 1):
        assert (on_arm64.report["runs"][run]["params_hex"]
                == x64.report["runs"][run]["params_hex"])
    assert on_arm64.report["remembered_settings"] == x64.report["remembered_settings"] is not None
    assert on_arm64.output.tobytes() == x64.output.tobytes()
    assert not np.array_equal(x64.output, gradient_image())


def test_record_then_play_gives_the_x64_bytes(arm64, tmp_path):
    """A run records its settings into the host's descriptor; a later process plays them back
    without the dialog, over a block that holds other settings."""
    played = dict(stretch=30, angle=90, height=40, width=60, strength=70, centerX=20, centerY=15)
    block = dict(stretch=10, angle=45, height=80, width=80, strength=100, centerX=40, centerY=30)
    outputs = {}
    for build in ("x64", "arm64"):
        wine = arm64 if build == "arm64" else None
        to_windows = wine.path if wine else winpath
        recorded = tmp_path / f"{build}.bin"
        extra = dict(plugin=PLUGIN, testhost=TESTHOST, wine=wine, timeout=600) if wine else {}
        first = run_host("--record", to_windows(recorded), "--dialog-answer", "cancel",
                         image=gradient_image(), settings=dict(played, showDialog=0), **extra)
        again = run_host("--ask", "--play", to_windows(recorded), "--play-info", "dont-display",
                         "--dialog-answer", "cancel", image=gradient_image(),
                         settings=dict(block, showDialog=0), **extra)
        assert again.results()["continue"] == NO_ERR
        assert again.report["descriptors"][0]["played_disposed"]
        outputs[build] = (recorded.read_bytes(), first.output.tobytes(), again.output.tobytes())
    assert outputs["arm64"] == outputs["x64"]
    assert outputs["x64"][1] == outputs["x64"][2]  # played as recorded
