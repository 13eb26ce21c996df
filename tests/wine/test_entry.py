"""The real module's entry point under Wine: selector results, the about box, Prepare's plane
counts and Lab warning, and the window-class registration at Start."""

import os
import tempfile

import numpy as np
import pytest

from dialog_helpers import open_dialog
from harness import (FILTER_BAD_MODE, FILTER_BAD_PARAMETERS, NO_ERR, from_png16, read_png16,
                     run_host, winpath)

# The about text's start in each user language: Chinese (a Chinese UI language, the ANSI code page
# 936), and English for every other.
STRING_1_START = {"zh_CN.UTF-8": "Vexel Filter. \u7248\u672c 1.6\n",
                  "en_US.UTF-8": "Vexel Filter. Version 1.6\n"}
STRING_2_START = "***** Vexel *****  "
MB_ICONINFORMATION = 0x40
LAB_WARNING = ("This plug-in does not support Lab Color. Use in this mode is permitted, but may "
               "result in incorrect colors. For better results, switch to RGB.")


def test_unknown_selectors_give_bad_parameters_and_do_nothing():
    r = run_host("--selectors", "6,255,-1", "--instrument")
    assert [c[1] for c in r.calls()] == [FILTER_BAD_PARAMETERS] * 3
    assert r.message_boxes() == []
    assert r.report["instrument"]["alloc_calls"] == 0


@pytest.mark.parametrize("lang", sorted(STRING_1_START))
def test_about_box_is_one_information_box_owned_by_the_host_window(lang):
    r = run_host("--selectors", "about", "--instrument", lang=lang)
    assert [c[1] for c in r.calls()] == [0]
    boxes = r.message_boxes()
    assert len(boxes) == 1
    box = boxes[0]
    assert box["owner_is_host_window"]
    assert box["style"] == MB_ICONINFORMATION
    assert box["text"].startswith(STRING_1_START[lang])
    assert box["caption"].startswith(STRING_2_START)
    # The copyright notice ends both strings, on one line.
    notice = box["text"][len(STRING_1_START[lang]):]
    assert notice and "\n" not in notice
    assert box["caption"] == STRING_2_START + notice
    assert r.report["instrument"]["alloc_calls"] == 0


def test_about_box_without_a_host_window_still_shows():
    r = run_host("--selectors", "about", "--null-window")
    assert [c[1] for c in r.calls()] == [0]
    assert len(r.message_boxes()) == 1 and r.message_boxes()[0]["owner"] == 0


def test_lab_warning_only_when_the_dialog_is_due():
    silent = run_host("--selectors", "prepare", "--mode", "9", "--settings", "showDialog=0")
    assert silent.message_boxes() == []
    for how in (["--selectors", "prepare"],  # first use: no block yet
                ["--selectors", "parameters,prepare", "--settings", "showDialog=0"]):
        r = run_host(*how, "--mode", "9")
        assert [c[1] for c in r.calls()] == [0] * len(r.calls())
        boxes = r.message_boxes()
        assert len(boxes) == 1
        assert boxes[0]["selector"] == "prepare"
        assert boxes[0]["caption"] == "Warning" and boxes[0]["text"] == LAB_WARNING
        assert boxes[0]["owner_is_host_window"]


def test_start_planes_follow_the_image_mode():
    image = np.zeros((6, 8, 4), np.uint8)
    expected = {0: 3, 1: 1, 2: 3, 3: 3, 4: 4, 7: 1, 8: 1, 9: 3,
                10: 1, 11: 3, 12: 3, 13: 4, 14: 1, 15: 1}  # the 16-bit twins
    for mode, planes in expected.items():
        r = run_host("--selectors", "prepare,start,finish", "--mode", str(mode), "--log-calls",
                     image=image, planes=4, settings={"showDialog": 0})
        start = [e for e in r.report["call_log"] if e["selector"] == "start"][0]
        assert start["result"] == 0, mode
        assert start["planes"] == [0, planes - 1, 0, planes - 1], mode


# Float samples (RGB96, Gray32) cannot be filtered. Refused in Prepare (and at a Start that comes
# anyway) with nothing shown, held or written: the image comes back exactly as the host holds it.
REFUSED_MODES = [16, 17]


def test_modes_it_cannot_filter_are_refused_and_nothing_else_happens():
    rng = np.random.default_rng(5)
    for mode in REFUSED_MODES:
        planes = {17: 1}.get(mode, 3)
        shape = (9, 7, planes) if planes > 1 else (9, 7)
        image = rng.integers(0, 32769, shape).astype(np.uint16)
        image.flat[:3] = [0, 32768, 1]
        r = run_host("--mode", str(mode), "--instrument", "--log-calls", image=image,
                     settings={"showDialog": 1})
        assert r.report["image"]["mode"] == mode
        assert r.results() == {"prepare": FILTER_BAD_MODE}, mode
        assert r.message_boxes() == []
        assert r.report["instrument"]["alloc_calls"] == 0
        assert np.array_equal(r.output, image), mode
        start = run_host("--selectors", "start,continue,finish", "--keep-going", "--mode",
                         str(mode), "--instrument", image=image, settings={"showDialog": 0})
        assert [c[1] for c in start.calls()][0] == FILTER_BAD_MODE
        assert start.report["instrument"]["live_blocks"] <= 1  # the parameter block at most
        assert np.array_equal(start.output, image), mode
        # The test host's 16-bit PNG output reads back as the same samples.
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "out.png")
            run_host("--mode", str(mode), "--output", winpath(path), image=image)
            assert np.array_equal(from_png16(read_png16(path)).reshape(image.shape), image)


def test_two_runs_in_one_process_both_register_and_succeed():
    image = np.arange(20 * 30 * 3, dtype=np.uint32).reshape(20, 30, 3).astype(np.uint8)
    r = run_host("--runs", "2", "--instrument", image=image,
                 settings={"strength": 0, "showDialog": 0})
    for run in (0, 1):
        assert set(r.results(run).values()) == {0}, r.results(run)
    assert r.message_boxes() == []
    assert np.array_equal(r.output, image)  # strength 0 leaves every pixel as it was
    assert r.report["instrument"]["live_blocks"] <= 1  # only the parameter block stays


def test_failed_registration_warns_once_and_gives_1():
    r = run_host("--register-big-view-first", "--instrument", image=np.zeros((8, 8, 3), np.uint8),
                 settings={"showDialog": 0})
    assert r.results()["start"] == 1
    assert "continue" not in r.results()
    boxes = r.message_boxes()
    assert [(b["caption"], b["text"]) for b in boxes] == [
        ("Warning", "Error while registering big class. Restart host.")]
    assert boxes[0]["owner_is_host_window"]


def test_nothing_is_read_past_the_smallest_record_hosts_allocate():
    # The record ends where a no-access page begins: a read of any later field would crash. Every
    # host allocates 452 bytes at least; descriptorParameters (356, or 432 on x86-64) lies within.
    smallest = ("--record-size", "452", "--record-guard-page")
    mask = np.full((48, 64), 255, np.uint8)
    mask[:, :20] = 0
    run = open_dialog(["click 102", "sleep 300", "click 1", "wait-closed 5000"], *smallest,
                      "--display-pixels", "--log-calls", mask=mask)
    assert run.results() == {"parameters": 0, "prepare": 0, "start": 0, "continue": NO_ERR,
                             "finish": 0}
    about = run_host("--selectors", "about,parameters", *smallest)
    assert [result for _, result in about.calls()] == [0, 0]
