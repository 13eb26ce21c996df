"""Runs the real module through vexel_testhost.exe under Wine, for the tests in this folder.

ctest runs every test file once per build: VEXEL_ARCH is "x86" (Vexel.8bf) or "x64" (Vexel64.8bf),
and VEXEL_TESTHOST and VEXEL_PLUGIN name that build's test host and module; VEXEL_PLUGIN32/64 and
VEXEL_TESTHOST32/64 name both builds. It also sets WINEPREFIX, DISPLAY, WINEDEBUG and
WINEDLLOVERRIDES.

    from harness import run_host, param_block
    r = run_host("--log-calls", image=np.zeros((40, 50, 3), np.uint8),
                 params=param_block(angle=90, showDialog=0))
    r.results()            # {'prepare': 0, 'start': 0, 'continue': 0, 'finish': 0}
    r.output               # the filtered image as a numpy array (same shape as the input)
    r.report["call_log"]   # the rectangles the module left after every call

Every run passes --auto-answer (message boxes are answered and recorded) unless
auto_answer=False, and by default checks that the host exited with status 0 and saw no protocol
error (a write outside the record fields a module may write, a buffer overrun, an unwritten result).
"""

import fcntl
import hashlib
import json
import os
import shutil
import struct
import subprocess
import tempfile
import zlib
from dataclasses import dataclass, field

import numpy as np
import pytest
from PIL import Image

# Exit statuses of the test host.
EXIT_OK, EXIT_USAGE, EXIT_LOAD, EXIT_MAX_CALLS, EXIT_TIMEOUT, EXIT_CRASH, EXIT_SCRIPT = (
    0, 2, 3, 4, 5, 6, 7)

# Wine takes its ANSI code page from LANG. The module's texts are Chinese and pass through ANSI
# calls, so runs default to code page 936 (a glibc locale need not be installed for that).
CHINESE_LOCALE = "zh_CN.UTF-8"

# Result codes of the host interface.
NO_ERR, REPORTED, MEM_FULL_ERR, FILTER_BAD_PARAMETERS, FILTER_BAD_MODE = 0, 1, -108, -30100, -30101


# The build under test, and the mingw compiler prefix that targets it.
ARCH = os.environ.get("VEXEL_ARCH", "x86")
MINGW_PREFIX = {"x86": "i686-w64-mingw32", "x64": "x86_64-w64-mingw32"}[ARCH]

_SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
# Starts every Windows program through Wine's 64-bit loader, emulating i386 where need be.
WINE_RUN = os.path.join(_SCRIPTS, "wine-run.sh")


def i386_mode():
    """(mode, reason): how the 32-bit build's processes run here, "native", "emulated" or "none"
    (scripts/i386-mode.sh; test.sh has usually found out already and passes it on)."""
    if not os.environ.get("VEXEL_I386_MODE"):
        found = subprocess.run(["bash", os.path.join(_SCRIPTS, "i386-mode.sh")], check=True,
                               capture_output=True, text=True).stdout
        os.environ.update(line.split("=", 1) for line in found.splitlines() if "=" in line)
    return os.environ["VEXEL_I386_MODE"], os.environ.get("VEXEL_I386_REASON", "")


def skip_unless_i386_runs(testhost):
    """Skips the current test where a 32-bit test host cannot be run at all."""
    mode, reason = i386_mode()
    if mode == "none" and os.path.abspath(testhost) == os.path.abspath(build_paths("x86")[0]):
        pytest.skip(f"the 32-bit build cannot be run here: {reason}")


@dataclass(frozen=True)
class Profile:
    """What a test needs to know of a host kind the test host imitates (--profile)."""
    name: str
    null_handle: bool = False        # Parameters every run with a null handle: the dialog shows
    finish_after_success: bool = True
    finish_after_failure: bool = True
    edge_lost: bool = False          # filterRect without the last row and column


PROFILES = [
    Profile("original"),
    Profile("library", null_handle=True, finish_after_failure=False),
    Profile("filter-host", finish_after_success=False),
    Profile("short-rect", edge_lost=True),
]


def _env(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(f"{name} is not set; run the Wine tests through ctest")
    return value


def testhost_path():
    return _env("VEXEL_TESTHOST")


def plugin_path():
    return _env("VEXEL_PLUGIN")


def build_paths(arch):
    """(test host, module) of one build, whichever build this run tests."""
    suffix = {"x86": "32", "x64": "64"}[arch]
    return _env("VEXEL_TESTHOST" + suffix), _env("VEXEL_PLUGIN" + suffix)


def winpath(path):
    """A Unix path as the Windows program should see it (Wine maps Z: to /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


@dataclass(frozen=True)
class OtherWine:
    """A Wine other than the machine's (run_host's wine=): its wine command and its prefix, whose
    drives other than Z: map the host's folders (the ARM64 one under emulation cannot use Z:)."""
    command: str
    prefix: str

    def path(self, path):
        path = os.path.realpath(path)
        drives = os.path.join(self.prefix, "dosdevices")
        best = None
        for name in os.listdir(drives):
            if len(name) != 2 or name[1] != ":" or name == "z:":
                continue
            folder = os.path.realpath(os.path.join(drives, name))
            if (path + "/").startswith(folder.rstrip("/") + "/") and (
                    best is None or len(folder) > len(best[1])):
                best = (name.upper(), folder)
        if best is None:
            raise AssertionError(f"{path} is on no drive of {self.prefix}")
        rest = os.path.relpath(path, best[1])
        return best[0] + "\\" + ("" if rest == "." else rest.replace("/", "\\"))


def _low_colour_prefix():
    """A private copy of the Wine prefix for runs on an 8-bit screen.

    A prefix has one desktop process bound to one X display; sharing the main prefix with a
    short-lived 8-bit display would leave that desktop on a display that is gone.
    """
    base = _env("WINEPREFIX").rstrip("/")
    private = base + "-8bit"
    if not os.path.exists(os.path.join(private, "system.reg")):
        shutil.rmtree(private + ".tmp", ignore_errors=True)
        subprocess.run(["cp", "-a", base, private + ".tmp"], check=True)
        os.rename(private + ".tmp", private)
    return private


def param_block(centerX=0, centerY=0, angle=0, stretch=20, strength=50, height=50, width=50,
                showDialog=0):
    """The 20-byte saved settings: seven little-endian int16, two zero bytes, an int32."""
    return struct.pack("<7h2xi", centerX, centerY, angle, stretch, strength, height, width,
                       showDialog)


def read_param_block(data):
    """The settings of a saved block, by param_block's names."""
    names = ("centerX", "centerY", "angle", "stretch", "strength", "height", "width", "showDialog")
    return dict(zip(names, struct.unpack("<7h2xi", data[:20])))


def fnv1a(pixels):
    """The test host's checksum of the pixels it was asked to draw: rows, columns, planes."""
    h = 2166136261
    for v in np.asarray(pixels, dtype=np.uint8).reshape(-1).tolist():
        h = ((h ^ v) * 16777619) & 0xFFFFFFFF
    return h


def write_png(path, array):
    """Writes a (h, w) grey, (h, w, 3) RGB or (h, w, 4) RGBA/CMYK uint8 array."""
    array = np.asarray(array, dtype=np.uint8)
    mode = {2: "L", 3: {3: "RGB", 4: "RGBA"}.get(array.shape[-1])}[array.ndim]
    if array.ndim == 3 and array.shape[-1] == 1:
        array, mode = array[:, :, 0], "L"
    Image.fromarray(array, mode).save(path)


FULL_SCALE = 32768  # a 16-bit sample's full intensity as the original host holds it


def _png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def write_png16(path, array):
    """Writes a (h, w), (h, w, 3) or (h, w, 4) array of 0..65535 as a 16-bit PNG (PIL writes
    only grey at that depth)."""
    array = np.asarray(array, dtype=">u2")
    if array.ndim == 2:
        array = array[:, :, None]
    h, w, planes = array.shape
    colour = {1: 0, 3: 2, 4: 6}[planes]
    rows = b"".join(b"\0" + array[y].tobytes() for y in range(h))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n"
                + _png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 16, colour, 0, 0, 0))
                + _png_chunk(b"IDAT", zlib.compress(rows)) + _png_chunk(b"IEND", b""))


def read_png16(path):
    """Reads a 16-bit PNG of unfiltered rows (as the test host writes them) as uint16 (h, w, n)."""
    with open(path, "rb") as f:
        data = f.read()
    at, idat, header = 8, b"", None
    while at < len(data):
        (length,) = struct.unpack_from(">I", data, at)
        kind, body = data[at + 4:at + 8], data[at + 8:at + 8 + length]
        header = struct.unpack(">IIBBBBB", body) if kind == b"IHDR" else header
        idat += body if kind == b"IDAT" else b""
        at += 12 + length
    w, h, depth, colour = header[:4]
    assert depth == 16
    planes = {0: 1, 2: 3, 6: 4}[colour]
    rows = np.frombuffer(zlib.decompress(idat), np.uint8).reshape(h, 1 + w * planes * 2)
    assert (rows[:, 0] == 0).all()
    return rows[:, 1:].copy().view(">u2").astype(np.uint16).reshape(h, w, planes)


def to_png16(samples, full_scale=FULL_SCALE):
    """Host samples (0..full_scale) as the PNG values the test host reads back to exactly them."""
    v = np.asarray(samples, dtype=np.int64)
    return np.minimum((v * 65535 + full_scale // 2) // full_scale, 65535)


def from_png16(values, full_scale=FULL_SCALE):
    """PNG values (0..65535) as the test host holds them: 0..full_scale, rounded."""
    return (np.asarray(values, dtype=np.int64) * full_scale + 32767) // 65535


def read_png(path, planes=None):
    """Reads a PNG as uint8: (h, w) for grey, (h, w, 3) or (h, w, 4) otherwise."""
    with Image.open(path) as im:
        if planes == 1:
            im = im.convert("L")
        elif planes == 3:
            im = im.convert("RGB")
        elif planes == 4:
            im = im.convert("RGBA")
        return np.array(im)


def ok_script(*steps, settle=400):
    """A dialog script: wait for the dialog, let it settle, the steps, then OK and its closing."""
    return ["wait-dialog 15000", f"sleep {settle}", *steps, "click 1", "wait-closed 10000"]


def assert_nothing_held(r, run=0):
    """The module holds no global block, GDI object or DC after the run (needs --instrument)."""
    held = r.report["runs"][run]["instrument"]
    assert held["live_blocks"] == 0 and held["live_gdi"] == 0 and held["live_dc"] == 0


@dataclass
class Result:
    report: dict
    output: np.ndarray = None       # the image after the last run, if an image was given
    params: bytes = None            # the parameter block after the last run
    captures: dict = field(default_factory=dict)  # script capture name -> array
    returncode: int = 0
    stdout: str = ""
    stderr: str = ""

    def results(self, run=0):
        """The last result of each selector in one run, e.g. {'start': 0, 'continue': 0}."""
        return self.report["runs"][run]["results"]

    def calls(self, run=None):
        """Every call as (selector, result), in order; one run or all."""
        return [(c["selector"], c["result"]) for c in self.report["calls"]
                if run is None or c["run"] == run]

    def message_boxes(self):
        return self.report["message_boxes"]

    def script_value(self, command):
        """The recorded values of the script commands starting with `command`, in order."""
        return [s.get("value") for s in self.report["script"] if s["command"].startswith(command)]


# The Windows user the runs of the current test act as (--user): each test has its own
# HKEY_CURRENT_USER, so settings one test leaves behind never reach another, even in parallel.
# Runs outside a test (module fixtures) share one user per build.
_user = {"name": f"{ARCH}-fixtures", "forget": False}


def begin_test_user(test_id):
    """Makes the runs of a new test act as a user of its own whose settings start forgotten."""
    digest = hashlib.sha1(test_id.encode()).hexdigest()[:16]
    _user.update(name=f"{ARCH}-{digest}", forget=True)


def _user_options():
    options = ["--user", _user["name"]] + (["--forget-settings"] if _user["forget"] else [])
    _user["forget"] = False
    return options


def _planes_of(image):
    return 1 if image.ndim == 2 else image.shape[2]


def run_host(*options, image=None, planes=None, mask=None, params=None, settings=None,
             script=None, plugin=None, testhost=None, low_colour=False, auto_answer=True, timeout=300,
             expect_exit=EXIT_OK, allow_protocol_errors=False, keep_dir=None,
             lang=CHINESE_LOCALE, profile=None, env=None, full_scale=FULL_SCALE, wine=None):
    """Runs the test host once and returns a Result.

    options: further command-line options, as strings ("--runs", "3" or "--runs=3").
    image: a uint8 array (h, w) or (h, w, planes); planes defaults to its channel count. 1, 3
        and 4 planes go to the host as a PNG, any other count as raw samples. A uint16 array
        holds 16-bit samples as the host holds them (0..32768): the host reports the 16-bit mode
        and Result.output comes back as uint16 samples, exactly as written.
        full_scale: 65535 for a host that holds 16-bit samples in 0..65535.
    mask: a (h, w) uint8 array, passed with --mask.
    params: bytes of a parameter block (--params-in); settings: dict for --settings.
    script: dialog script lines (a string or a list); relative capture files come back in
        Result.captures by name.
    plugin, testhost: another module or test host than this run's build (see build_paths).
    low_colour: run on a private 8-bit Xvfb screen (xvfb-run).
    lang: LANG and LC_ALL for Wine (the ANSI code page); None keeps the environment's.
    env: further environment variables for the run (VEXEL_BLEND: the module's blend path).
    expect_exit: the exit status to insist on, or None.
    keep_dir: a folder to keep the files in (otherwise a temporary one is removed).
    profile: a host kind (a Profile or its name) whose behaviour the test host takes on; the
        other options still override it.
    wine: an OtherWine to run in instead of the machine's Wine and the build's prefix.
    """
    to_windows = wine.path if wine is not None else winpath
    workdir = keep_dir or tempfile.mkdtemp(prefix="vexel-")
    os.makedirs(workdir, exist_ok=True)
    try:
        args = [to_windows(plugin or plugin_path())]
        if profile is not None:
            args += ["--profile", getattr(profile, "name", profile)]
        if auto_answer:
            args.append("--auto-answer")
        deep = image is not None and np.asarray(image).dtype == np.uint16
        raw = image is not None and _planes_of(np.asarray(image)) not in (1, 3, 4)
        output_name = "output.raw" if deep or raw else "output.png"
        input_name = "input.raw" if raw else "input.png"
        if image is not None:
            image = np.asarray(image, dtype=np.uint16 if deep else np.uint8)
            planes = planes or _planes_of(image)
            if raw:
                image.astype("<u2" if deep else np.uint8).tofile(os.path.join(workdir, input_name))
                args += ["--raw-size", f"{image.shape[1]},{image.shape[0]}"]
                if deep:
                    args += ["--depth", "16", "--full-scale", str(full_scale)]
            elif deep:
                write_png16(os.path.join(workdir, "input.png"), to_png16(image, full_scale))
                args += ["--depth", "16", "--full-scale", str(full_scale)]
            else:
                write_png(os.path.join(workdir, "input.png"), image)
            args += ["--input", to_windows(os.path.join(workdir, input_name)),
                     "--output", to_windows(os.path.join(workdir, output_name))]
        if planes is not None:
            args += ["--planes", str(planes)]
        if mask is not None:
            write_png(os.path.join(workdir, "mask.png"), np.asarray(mask, dtype=np.uint8))
            args += ["--mask", to_windows(os.path.join(workdir, "mask.png"))]
        if params is not None:
            with open(os.path.join(workdir, "params.bin"), "wb") as f:
                f.write(bytes(params))
            args += ["--params-in", to_windows(os.path.join(workdir, "params.bin"))]
        if settings is not None:
            args += ["--settings", ",".join(f"{k}={v}" for k, v in settings.items())]
        captures = []
        if script is not None:
            lines = script.splitlines() if isinstance(script, str) else list(script)
            for line in lines:
                words = line.split()
                if words and words[0] in ("capture", "capture-control"):
                    captures.append(words[-1])
            with open(os.path.join(workdir, "script.txt"), "w", encoding="utf-8") as f:
                f.write("\n".join(lines) + "\n")
            args += ["--script", to_windows(os.path.join(workdir, "script.txt"))]
        args += ["--params-out", to_windows(os.path.join(workdir, "params-out.bin")),
                 "--report", to_windows(os.path.join(workdir, "report.json"))]
        args += _user_options() + [str(o) for o in options]
        if not any(str(o).startswith("--timeout") for o in options):
            # The host gives up (and still writes its report) before we would kill it.
            args += ["--timeout", str(max(10, timeout - 30))]

        host = testhost or testhost_path()
        if wine:
            command = [wine.command, to_windows(host)] + args
        else:
            skip_unless_i386_runs(host)
            command = ["bash", WINE_RUN, host] + args
        env = dict(os.environ, **(env or {}))
        if wine is not None:
            env["WINEPREFIX"] = wine.prefix
        if lang is not None:
            env["LANG"] = env["LC_ALL"] = lang
        lock = None
        if low_colour:
            # One low-colour run at a time: they share the private prefix, whose Wine server is
            # ended after each run so the next one binds to its own display.
            lock = open(_env("WINEPREFIX").rstrip("/") + "-8bit.lock", "w")
            fcntl.flock(lock, fcntl.LOCK_EX)
            env["WINEPREFIX"] = _low_colour_prefix()
            command = ["xvfb-run", "-a", "-s", "-screen 0 1024x768x8", "sh", "-c",
                       '"$@"; status=$?; wineserver -k; exit $status', "sh"] + command
        try:
            proc = subprocess.run(command, cwd=workdir, capture_output=True, text=True,
                                  errors="replace", timeout=timeout, env=env)
        except subprocess.TimeoutExpired as e:
            raise AssertionError(f"test host timed out after {timeout} s: {' '.join(command)}\n"
                                 f"{e.stdout}\n{e.stderr}") from None
        finally:
            if lock is not None:
                lock.close()
        report_path = os.path.join(workdir, "report.json")
        if not os.path.exists(report_path):
            raise AssertionError(f"no report (exit {proc.returncode}): {' '.join(command)}\n"
                                 f"{proc.stdout}\n{proc.stderr}")
        with open(report_path, encoding="utf-8") as f:
            report = json.load(f)
        result = Result(report=report, returncode=proc.returncode, stdout=proc.stdout,
                        stderr=proc.stderr)
        output_path = os.path.join(workdir, output_name)
        if image is not None and os.path.exists(output_path):
            if deep or raw:
                # As many planes as the host held (an alpha plane too), those asked for returned.
                samples = np.fromfile(output_path, dtype="<u2" if deep else np.uint8)
                held = samples.astype(image.dtype).reshape(image.shape[0], image.shape[1],
                                                           -1)[:, :, :planes]
                result.output = held if planes > 1 else held[:, :, 0]
            else:
                result.output = read_png(output_path, planes)
        params_path = os.path.join(workdir, "params-out.bin")
        if os.path.exists(params_path):
            with open(params_path, "rb") as f:
                result.params = f.read()
        for name in captures:
            path = os.path.join(workdir, name)
            if os.path.exists(path):
                result.captures[name] = read_png(path)

        if expect_exit is not None and proc.returncode != expect_exit:
            raise AssertionError(f"test host exit {proc.returncode}, expected {expect_exit}: "
                                 f"{report.get('error')}\n{proc.stderr[-3000:]}")
        if not allow_protocol_errors and report["protocol_errors"]:
            raise AssertionError(f"protocol errors: {report['protocol_errors'][:10]}")
        return result
    finally:
        if keep_dir is None:
            shutil.rmtree(workdir, ignore_errors=True)
