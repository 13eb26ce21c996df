"""scripts/i386-mode.sh: the way the 32-bit module's processes are run, as the set-up, the scripts
and the tests read it."""

import os
import subprocess

import pytest

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "i386-mode.sh")


def detect(**env):
    inherited = {k: v for k, v in os.environ.items() if not k.startswith("VEXEL_I386")}
    run = subprocess.run(["bash", SCRIPT], capture_output=True, text=True,
                         env=dict(inherited, **env))
    return run.returncode, dict(line.split("=", 1) for line in run.stdout.splitlines()), run.stderr


@pytest.mark.parametrize("env,mode,reason", [
    ({"VEXEL_I386_SIMULATE": "nothing"}, "none", "VEXEL_I386_SIMULATE=nothing"),
    ({"VEXEL_I386_SIMULATE": "nothing", "VEXEL_I386": "auto"}, "none", "VEXEL_I386_SIMULATE"),
    ({"VEXEL_I386_SIMULATE": "noexec", "VEXEL_BUILD_DIR": "/nonexistent"}, "none",
     "the emulation is not set up"),
])
def test_auto_says_when_nothing_runs_32_bit_code(env, mode, reason):
    status, found, _ = detect(**env)
    assert status == 0 and found["VEXEL_I386_MODE"] == mode and reason in found["VEXEL_I386_REASON"]
    assert found["VEXEL_I386_PRELOAD"] == ""


@pytest.mark.parametrize("env,message", [
    ({"VEXEL_I386": "sometimes"}, "must be native, emulated or auto"),
    ({"VEXEL_I386": "emulated", "VEXEL_I386_SIMULATE": "nothing"}, "VEXEL_I386=emulated, but"),
    ({"VEXEL_I386": "emulated", "VEXEL_BUILD_DIR": "/nonexistent"}, "not set up"),
])
def test_a_path_asked_for_that_cannot_be_had_fails(env, message):
    status, found, stderr = detect(**env)
    assert status != 0 and not found and message in stderr


def test_emulation_preloads_the_mend_for_both_kinds_of_process(tmp_path):
    for lib in ("i386-linux-gnu", "x86_64-linux-gnu"):
        os.makedirs(tmp_path / "i386-emulation" / "lib" / lib)
        (tmp_path / "i386-emulation" / "lib" / lib / "libvexel_mapfix.so").touch()
    status, found, _ = detect(VEXEL_I386="emulated", VEXEL_BUILD_DIR=str(tmp_path))
    if found.get("VEXEL_I386_MODE") != "emulated":
        pytest.skip("no i386 binfmt_misc handler can be had here")
    assert found["VEXEL_I386_PRELOAD"] == f"{tmp_path}/i386-emulation/$LIB/libvexel_mapfix.so"
