"""Scripting: a run records its settings into the host's descriptor and a later run plays them
back, with each playInfo; hosts whose scripting is broken leave the run as it was without it."""

import struct

import numpy as np
import pytest

from dialog_helpers import gradient_image
from harness import NO_ERR, run_host, winpath

KEYS = {"stretch": b"vxSt", "angle": b"vxAn", "height": b"vxHt", "width": b"vxWd",
        "strength": b"vxSg", "centerX": b"vxCx", "centerY": b"vxCy"}
LONG = b"long"
PLAYED = dict(stretch=30, angle=90, height=40, width=60, strength=70, centerX=20, centerY=15)
BLOCK = dict(stretch=10, angle=45, height=80, width=80, strength=100, centerX=40, centerY=30)
EDITS = {"stretch": 441, "angle": 153, "height": 156, "width": 114, "strength": 117}


def code(text):
    return int.from_bytes(text, "big")


def descriptor(entries):
    """The test host's descriptor bytes: (key, type, value) triples after its magic."""
    return b"VXD1" + b"".join(struct.pack("<IIi", code(k), code(t), v) for k, t, v in entries)


def entries_of(values):
    return [(KEYS[name], LONG, values[name]) for name in KEYS if name in values]


def filter_run(*options, settings=BLOCK, **kwargs):
    """One run from a block that needs no dialog; a dialog that opens anyway is cancelled."""
    if "script" not in kwargs:
        options += ("--dialog-answer", "cancel")
    return run_host(*options, image=gradient_image(), settings=dict(settings, showDialog=0),
                    **kwargs)


def play_file(tmp_path, entries, name="play.bin"):
    path = tmp_path / name
    path.write_bytes(descriptor(entries))
    return winpath(path)


@pytest.fixture(scope="module")
def reference():
    """Outputs of plain runs (no scripting) at the block's and at the played settings."""
    outputs = {"block": filter_run().output, "played": filter_run(settings=PLAYED).output}
    assert not np.array_equal(outputs["block"], outputs["played"])
    return outputs


def test_record_then_play_gives_the_recorded_pixels_without_the_dialog(tmp_path, reference):
    recorded = tmp_path / "recorded.bin"
    first = filter_run("--record", winpath(recorded), settings=PLAYED)
    [run] = first.report["descriptors"]
    assert run["record_info"] == 0
    assert run["recorded"] == [[code(k), code(t), v] for k, t, v in entries_of(PLAYED)]
    assert recorded.read_bytes() == descriptor(entries_of(PLAYED))
    # A later run asks for the dialog and holds other settings: the played ones win, unasked.
    again = filter_run("--ask", "--play", winpath(recorded), "--play-info", "dont-display")
    assert again.results()["continue"] == NO_ERR
    assert again.report["descriptors"][0]["played_disposed"]
    assert np.array_equal(again.output, reference["played"])


@pytest.mark.parametrize("button,recorded", [(1, True), (2, False)], ids=["ok", "cancel"])
def test_display_opens_the_dialog_at_the_played_values(tmp_path, button, recorded):
    script = ["wait-dialog 15000", "sleep 400", *[f"get-text {edit}" for edit in EDITS.values()],
              f"click {button}", "wait-closed 10000"]
    r = filter_run("--play", play_file(tmp_path, entries_of(PLAYED)), "--play-info", "display",
                   "--record", winpath(tmp_path / "out.bin"), script=script)
    assert r.script_value("get-text") == [str(PLAYED[name]) for name in EDITS]
    # Only a run that goes on (OK) records; the dialog's values are the played ones.
    entries = r.report["descriptors"][0]["recorded"] or []
    assert (r.results()["continue"] == NO_ERR) is recorded is bool(entries)
    values = {key: value for key, _, value in entries}
    assert all(values[code(KEYS[name])] == PLAYED[name] for name in EDITS if recorded)


def test_silent_play_takes_a_missing_value_from_the_block(tmp_path):
    partial = {name: v for name, v in PLAYED.items() if name != "angle"}
    r = filter_run("--ask", "--play", play_file(tmp_path, entries_of(partial)),
                   "--play-info", "silent")
    expected = filter_run(settings=dict(PLAYED, angle=BLOCK["angle"]))
    assert r.results()["continue"] == NO_ERR
    assert np.array_equal(r.output, expected.output)


# Unusable descriptors: unknown keys, wrong types, values out of the dialog's ranges.
UNUSABLE = [(b"vxZz", LONG, 5), (KEYS["angle"], b"doub", 90), (KEYS["angle"], LONG, 361),
            (KEYS["stretch"], LONG, 0), (KEYS["height"], LONG, 4), (KEYS["centerX"], LONG, -1)]
BROKEN_HOSTS = [("null-parameters", True), ("no-procs", True), ("procs-version", True),
                ("few-procs", True), ("null-descriptor", False), ("empty-descriptor", False),
                ("unusable-values", False), ("no-handle-procs", False)]


@pytest.mark.parametrize("fault,unrecorded", BROKEN_HOSTS, ids=[f for f, _ in BROKEN_HOSTS])
def test_broken_scripting_hosts_run_as_without_scripting(tmp_path, reference, fault, unrecorded):
    entries = UNUSABLE if fault == "unusable-values" else entries_of(PLAYED)
    options = ["--play", play_file(tmp_path, entries), "--play-info", "dont-display",
               "--record", winpath(tmp_path / "out.bin")]
    if fault != "unusable-values":
        options += ["--descriptor-fault", fault]
    r = filter_run(*options)  # no protocol error: nothing written the interface does not allow
    assert r.results()["continue"] == NO_ERR
    [run] = r.report["descriptors"]
    # Without handle procs the played values are read but the descriptor stays the host's, so
    # nothing can be recorded over it.
    played = fault == "no-handle-procs"
    assert np.array_equal(r.output, reference["played" if played else "block"])
    assert run["played_disposed"] is (run["played"] and not played and not unrecorded)
    assert (run["recorded"] is None) is (unrecorded or played)
