"""What a module meets in sessions and hosts that cannot give it what it needs: no dialog can be
created (a session without a window station or display), and mask buffers it cannot read whole.
The user is told, or the run is refused; nothing is read past a buffer and nothing stays held."""

import numpy as np
import pytest

from harness import NO_ERR, REPORTED, assert_nothing_held, run_host

PARAM_ERR = -50
DIALOG_WARNING = ("The filter's dialog could not be opened, so the filter cannot run. "
                  "The image is unchanged.")


def image(h=40, w=50):
    y, x = np.mgrid[0:h, 0:w]
    return np.dstack([x * 5, y * 6, (x + y) * 2]).astype(np.uint8)


@pytest.mark.parametrize("boxes_fail", [False, True])
def test_start_without_any_dialog_says_so_and_returns_one(boxes_fail):
    options = ["--instrument", "--fail-dialogs", "1"] + (["--fail-message-boxes"] * boxes_fail)
    r = run_host(*options, image=image(), settings=dict(angle=90, showDialog=0))
    assert r.results() == {"prepare": 0, "start": REPORTED}
    [box] = r.message_boxes()
    assert (box["selector"], box["caption"], box["text"]) == ("start", "Warning", DIALOG_WARNING)
    assert box["owner_is_host_window"]
    # Shown and answered, or (when no box can be made either) not shown: the result is 1 alike.
    assert box["answered"] is not boxes_fail
    assert np.array_equal(r.output, image())
    assert_nothing_held(r)


def test_parameter_dialog_that_cannot_be_made_says_so_and_ends_the_run():
    # The measuring pass works, the dialog of the last prepass call does not.
    r = run_host("--instrument", "--fail-dialogs", "2", image=image(),
                 settings=dict(angle=90, showDialog=1))
    assert r.results() == {"prepare": 0, "start": NO_ERR, "continue": REPORTED, "finish": 0}
    assert [(b["selector"], b["text"]) for b in r.message_boxes()] == [("continue",
                                                                        DIALOG_WARNING)]
    assert np.array_equal(r.output, image())
    assert_nothing_held(r)


MASK = np.full((40, 50), 255, np.uint8)


@pytest.mark.parametrize("fault", [["--mask-row-bytes", "49"], ["--mask-row-bytes", "1"],
                                   ["--null-mask-data"]], ids=["one-short", "one-byte", "null"])
def test_mask_rows_shorter_than_the_filter_row_are_refused(fault):
    # The byte after every host buffer is a no-access page: a read past the mask would crash.
    r = run_host("--instrument", "--guard-pages", "--log-calls", *fault, image=image(), mask=MASK,
                 settings=dict(angle=90, showDialog=0))
    assert r.results() == {"prepare": 0, "start": NO_ERR, "continue": PARAM_ERR, "finish": 0}
    assert r.report["runs"][0]["continue_calls"] == 1
    last = r.report["call_log"][-2]  # the Continue, before Finish
    assert last["in"] == last["out"] == last["mask"] == [0, 0, 0, 0]
    assert np.array_equal(r.output, image())
    assert_nothing_held(r)


def test_mask_rows_of_exactly_the_filter_row_work_at_a_page_end():
    settings = dict(angle=30, stretch=5, strength=100, centerX=25, centerY=20, showDialog=0)
    plain = run_host(image=image(), mask=MASK, settings=settings)
    guarded = run_host("--guard-pages", "--mask-row-bytes", "50", image=image(), mask=MASK,
                       settings=settings)
    assert guarded.results()["continue"] == NO_ERR
    assert np.array_equal(guarded.output, plain.output)
    assert not np.array_equal(plain.output, image())
