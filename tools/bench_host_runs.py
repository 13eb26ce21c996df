"""Whole filtering runs in the test host, timed by the host from Prepare to the last call, beside
the same runs of the test host's stand-in filter, which only copies (inverted) what it reads:
"stand-in" in one Continue call for the whole rectangle, "rows" one row per call, which shows what
the host's own work per call costs. For each: seconds, seconds per megapixel (of the whole run,
and of the Continue loop alone, without Start's fixed cost of measuring the dialog), Continue
calls per output row, and the ratios to the two stand-in runs. With --alpha each module also
runs on the image held with a fourth (alpha) plane, as the editors' host library holds every RGB
image ("+a" rows): against the row above it, what one more plane per row costs, beside the
stand-in's "rows+a", which moves every plane of each row (one more than "rows"). Prints numbers;
nothing checks them.

Run through tools/bench_host_runs.sh, which builds what is needed and sets up Wine.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

SIZES = [(1000, 750), (2000, 1500), (4000, 3000), (8000, 6000)]
BUDGETS = [100_000_000, 2_100_000_000]
# Starts Windows programs through Wine's 64-bit loader (see the script).
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "wine-run.sh")
# A visible effect over most of the image, no dialog.
SETTINGS = "angle=30,stretch=20,strength=50,height=80,width=80,showDialog=0"
REPEAT = 1


def sample_image(folder, width, height):
    """A smooth RGB picture with some texture, written once per size."""
    path = os.path.join(folder, f"bench-{width}x{height}.png")
    if not os.path.exists(path):
        y, x = np.mgrid[0:height, 0:width].astype(np.uint32)
        rgb = np.stack([(x * 255 // width), (y * 255 // height), ((x ^ y) & 255)], axis=-1)
        Image.fromarray(rgb.astype(np.uint8), "RGB").save(path, compress_level=1)
    return path


def win(path):
    return subprocess.run(["bash", WINE_RUN, "winepath", "-w", path], check=True,
                          capture_output=True, text=True).stdout.strip()


def timed_run(testhost, plugin, image, budget, extra):
    """(seconds, Continue-loop seconds, Continue calls): the medians of --repeat runs, so that a
    shared machine's stalls count less."""
    runs = [one_run(testhost, plugin, image, budget, extra) for _ in range(REPEAT)]
    return tuple(statistics.median(run[i] for run in runs) for i in range(3))


def one_run(testhost, plugin, image, budget, extra):
    with tempfile.TemporaryDirectory() as tmp:
        report = os.path.join(tmp, "report.json")
        cmd = ["bash", WINE_RUN, testhost, win(plugin), "--input", win(image), "--planes", "3",
               "--max-space", str(budget), "--quiet", "--no-finish", "--timeout", "3000",
               "--report", win(report)] + extra
        done = subprocess.run(cmd, capture_output=True, text=True)
        if done.returncode != 0 or not os.path.exists(report):
            sys.exit(f"run failed ({done.returncode}): {' '.join(cmd)}\n{done.stderr[-2000:]}")
        with open(report, encoding="utf-8") as f:
            run = json.load(f)["runs"][0]
    if any(value != 0 for value in run["results"].values()):
        sys.exit(f"{plugin}: results {run['results']}")
    return run["seconds"], run["continue_seconds"], run["continue_calls"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--testhost", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--module", action="append", required=True, metavar="LABEL=PATH")
    parser.add_argument("--images", required=True, help="folder for the generated inputs")
    parser.add_argument("--sizes", default=",".join(f"{w}x{h}" for w, h in SIZES))
    parser.add_argument("--profile", default="", help="the test host's --profile, if any")
    parser.add_argument("--alpha", action="store_true",
                        help="also run each module with an alpha plane beside RGB")
    parser.add_argument("--repeat", type=int, default=1, help="runs per row, medians printed")
    args = parser.parse_args()
    global REPEAT  # pylint: disable=global-statement
    REPEAT = max(1, args.repeat)

    os.makedirs(args.images, exist_ok=True)
    profile = ["--profile", args.profile] if args.profile else []
    modules = [entry.split("=", 1) for entry in args.module]
    standin_params = {}
    for word in ("whole", "rows", "allrows"):
        with tempfile.NamedTemporaryFile(suffix=".bin", delete=False) as f:
            f.write(word.encode().ljust(32, b"\0"))
            standin_params[word] = f.name
    print(f"{'size':>11} {'maxSpace':>13} {'module':<10} {'s':>8} {'s/MP':>7} "
          f"{'loop s/MP':>9} {'calls/row':>9} {'x stand-in':>10} {'x rows':>7}")
    for size in args.sizes.split(","):
        width, height = (int(v) for v in size.split("x"))
        image = sample_image(args.images, width, height)
        megapixels = width * height / 1e6
        for budget in BUDGETS:
            bases = {}
            standins = [("whole", "stand-in", []), ("rows", "rows", [])]
            if args.alpha:  # every plane of each row, so one more than "rows" moves
                standins.append(("allrows", "rows+a", ["--alpha-plane"]))
            for word, label, extra in standins:
                seconds, loop, calls = timed_run(args.testhost, args.standin, image, budget,
                                                 profile + extra +
                                                 ["--params-in", win(standin_params[word])])
                bases[word] = seconds
                print(f"{size:>11} {budget:>13,} {label:<10} {seconds:8.2f} "
                      f"{seconds / megapixels:7.3f} {loop / megapixels:9.3f} "
                      f"{calls / height:9.2f}", flush=True)
            variants = [("", [])] + ([("+a", ["--alpha-plane"])] if args.alpha else [])
            for label, plugin in modules:
                for suffix, extra in variants:
                    seconds, loop, calls = timed_run(args.testhost, plugin, image, budget,
                                                     profile + ["--settings", SETTINGS] + extra)
                    print(f"{size:>11} {budget:>13,} {label + suffix:<10} {seconds:8.2f} "
                          f"{seconds / megapixels:7.3f} {loop / megapixels:9.3f} "
                          f"{calls / height:9.2f} {seconds / bases['whole']:10.2f} "
                          f"{seconds / bases['rows']:7.2f}", flush=True)
    for path in standin_params.values():
        os.unlink(path)


if __name__ == "__main__":
    main()
