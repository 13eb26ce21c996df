"""Self-tests of the test host against a tiny stand-in filter (fixtures/standin_filter.cpp), so
that faults of the host are not mistaken for faults of the module."""

import os
import shutil
import subprocess

import numpy as np
import pytest

from harness import (ARCH, EXIT_CRASH, EXIT_MAX_CALLS, FILTER_BAD_PARAMETERS, MEM_FULL_ERR, MINGW_PREFIX,
                     fnv1a, i386_mode, run_host)

# The record up to handleProcs, all a module may read of the smallest record a host allocates.
RECORD_BYTES = {"x86": 212, "x64": 264}
FIXTURES = os.path.join(os.path.dirname(__file__), "fixtures")
SOURCE = os.environ.get("VEXEL_SOURCE") or os.path.dirname(os.path.dirname(FIXTURES))


@pytest.fixture(scope="module")
def standin(tmp_path_factory):
    if shutil.which(MINGW_PREFIX + "-g++") is None:
        pytest.skip("no mingw compiler")
    out = tmp_path_factory.mktemp("standin")
    res = out / "standin.o"
    subprocess.run([MINGW_PREFIX + "-windres", os.path.join(FIXTURES, "standin_filter.rc"),
                    "-O", "coff", "-o", str(res)], check=True)
    dll = out / "standin.8bf"
    subprocess.run([MINGW_PREFIX + "-g++", "-std=c++20", "-O1", "-Wall", "-Wextra", "-Werror",
                    "-shared", "-static", "-I" + SOURCE,
                    os.path.join(FIXTURES, "standin_filter.cpp"), str(res), "-o", str(dll),
                    "-luser32", "-lgdi32"], check=True)
    return str(dll)


def mode(word):
    return word.encode().ljust(32, b"\0")


def image(h, w, planes, seed=1):
    shape = (h, w) if planes == 1 else (h, w, planes)
    return np.random.default_rng(seed).integers(0, 256, shape, dtype=np.uint8)


@pytest.mark.parametrize("planes", [1, 3, 4])
def test_delivers_padded_rows_and_takes_output_back(standin, planes):
    img = image(21, 17, planes)
    whole = run_host("--pad-rows", "5", image=img, params=mode("whole"), plugin=standin)
    assert whole.calls() == [("prepare", 0), ("start", 0), ("continue", 0), ("finish", 0)]
    assert (whole.output == 255 - img).all()

    rows = run_host("--pad-rows", "3", "--rect", "4,2,19,15", image=img, params=mode("rows"),
                    plugin=standin)
    expected = img.copy()
    expected[4:19, 2:15] = 255 - img[4:19, 2:15]
    assert (rows.output == expected).all()
    assert rows.report["runs"][0]["continue_calls"] == 15
    assert rows.report["progress"] == [[0, r, 15] for r in range(15)]


@pytest.mark.parametrize("zeroed", [False, True])
def test_a_plane_never_requested_comes_back_as_zero_when_rows_go_back_whole(standin, zeroed):
    img = image(9, 7, 4)
    r = run_host("--mode", "3", *(["--zero-unrequested-planes"] if zeroed else []), image=img,
                 params=mode("whole"), plugin=standin)
    assert (r.output[:, :, :3] == 255 - img[:, :, :3]).all()
    assert (r.output[:, :, 3] == (0 if zeroed else img[:, :, 3])).all()


@pytest.mark.parametrize("ignore_low", [False, True])
def test_a_host_that_ignores_the_low_plane_counts_every_range_from_plane_0(standin, ignore_low):
    img = image(9, 7, 4)
    r = run_host("--mode", "3", *(["--ignore-low-plane"] if ignore_low else []), image=img,
                 params=mode("lastplane"), plugin=standin)
    written = 0 if ignore_low else 3  # the stand-in asks for plane 3 alone
    expected = img.copy()
    expected[:, :, written] = 255 - img[:, :, written]
    assert (r.output == expected).all()


def test_mask_rows_come_with_the_image_rows(standin):
    img = image(12, 10, 3)
    mask = np.zeros((12, 10), np.uint8)
    mask[3:9, 2:7] = 255
    mask[5, 5] = 254  # only 255 counts as selected in the stand-in
    r = run_host("--pad-rows", "2", "--log-calls", image=img, mask=mask, params=mode("rows"),
                 plugin=standin)
    expected = np.where((mask == 255)[:, :, None], 255 - img, img)
    assert (r.output == expected).all()
    first = r.report["call_log"][1]  # after Start
    assert first["selector"] == "start" and first["mask"] == [0, 0, 1, 10]


def test_protocol_faults_are_reported(standin):
    bad = run_host(params=mode("badwrite"), plugin=standin, allow_protocol_errors=True)
    max_space_at = {"x86": 44, "x64": 56}[ARCH]  # the stand-in writes maxSpace
    assert any(f"record byte {max_space_at} written" in e["what"]
               for e in bad.report["protocol_errors"])
    over = run_host(params=mode("overrun"), plugin=standin, allow_protocol_errors=True)
    assert [e["what"] for e in over.report["protocol_errors"]] == ["outData written past its end"]
    endless = run_host("--max-calls", "7", params=mode("forever"), plugin=standin,
                       expect_exit=EXIT_MAX_CALLS)
    assert endless.report["runs"][0]["continue_calls"] == 7
    assert endless.calls()[-1] == ("finish", 0)  # the module still gets to clean up


def test_access_violations_are_reported(standin):
    if ARCH == "x86" and i386_mode()[0] == "emulated":
        # qemu-user 7.2 hands Wine an i386 page fault with a trap number Wine does not take for
        # one, so it reports 0xc000001d (an illegal instruction); any null write shows it.
        pytest.skip("under qemu-user an i386 access violation arrives as 0xc000001d")
    crash = run_host(params=mode("crash"), plugin=standin, expect_exit=EXIT_CRASH)
    assert crash.report["error"].startswith("exception 0xc0000005")
    # A read past the smallest record faults only when the record ends at a no-access page.
    smallest = ("--record-size", str(RECORD_BYTES[ARCH]))
    assert run_host(*smallest, params=mode("readpast"), plugin=standin).results()["finish"] == 0
    past = run_host(*smallest, "--record-guard-page", params=mode("readpast"), plugin=standin,
                    expect_exit=EXIT_CRASH)
    assert past.report["error"].startswith("exception 0xc0000005")


def test_counts_blocks_and_objects_the_module_keeps(standin):
    r = run_host("--instrument", "--runs", "3", params=mode("leak"), plugin=standin)
    per_run = [run["instrument"] for run in r.report["runs"]]
    assert [i["live_blocks"] for i in per_run] == [1, 2, 3]
    assert [i["live_gdi"] for i in per_run] == [1, 2, 3]
    assert per_run[0]["peak_live_bytes"] == 6000  # 1000 kept plus 5000 freed later
    assert r.report["instrument"]["live_bytes"] == 3000
    assert r.report["instrument"]["live_gdi_kinds"] == ["CreateBitmap"] * 3

    assert run_host(params=mode("alloc"), plugin=standin).results()["start"] == 0
    starved = run_host("--fail-alloc-above", "99999", params=mode("alloc"), plugin=standin)
    assert starved.results() == {"prepare": 0, "start": MEM_FULL_ERR}
    assert starved.report["runs"][0]["finished"] is False


@pytest.mark.parametrize("null_window", [False, True])
def test_message_boxes_are_answered_and_recorded(standin, null_window):
    extra = ["--null-window"] if null_window else []
    r = run_host(*extra, params=mode("message"), plugin=standin)
    assert r.results() == {"prepare": 0, "start": 1}
    (box,) = r.message_boxes()
    assert (box["caption"], box["shown_text"], box["answered"]) == (
        "Warning", "Stand-in says hello", True)
    assert box["owner_is_host_window"] is not null_window
    assert box["actual_owner"] == (0 if null_window else r.report["host_window"])


def test_selectors_raw_and_named(standin):
    r = run_host("--selectors", "about,6,255,-1,prepare", plugin=standin)
    assert r.calls() == [("about", 0), ("6", FILTER_BAD_PARAMETERS),
                         ("255", FILTER_BAD_PARAMETERS), ("-1", FILTER_BAD_PARAMETERS),
                         ("prepare", 0)]
    s = run_host("--settings", "angle=90,showDialog=1,centerX=-2", plugin=standin)
    assert s.params == bytes.fromhex("feff0000 5a001400 32003200 32000000 01000000")


def test_dialog_script_drives_controls(standin):
    script = ["wait-dialog 10000", "set-text 10 hello", "get-text 12", "type 10 abc",
              "get-text 12", "click 11", "beeps", "scroll 13 THUMBPOSITION 40",
              "scroll 13 LINERIGHT", "get-scroll 13", "mouse-down 0 30 20", "get-text 12",
              "mouse-up 0 31 21", "get-text 12", "capture dialog.png", "click 1",
              "wait-closed"]
    r = run_host(params=mode("dialog"), plugin=standin, script=script)
    assert r.script_value("get-text 12") == ["changes 1", "changes 4", "down 30,20 1",
                                              "up 31,21 0"]
    assert r.script_value("beeps") == [1]
    assert r.script_value("get-scroll")[0]["pos"] == 41
    assert r.params[:4] == b"abc\0"
    cap = r.captures["dialog.png"]
    assert cap.shape[0] > 50 and cap.shape[1] > 200 and cap.std() > 10  # real pixels


def test_display_pixels_on_an_8bit_screen(standin):
    img = image(10, 12, 3)
    r = run_host("--display-pixels", image=img, params=mode("display"), plugin=standin,
                 low_colour=True)
    assert r.report["screen"]["bits_pixel"] == 8
    (call,) = r.report["display_pixels"]
    assert (call["src_rect"], call["dst_row"], call["dst_col"]) == ([0, 0, 2, 3], 5, 7)
    assert call["checksum"] == fnv1a(img[0:2, 0:3])
