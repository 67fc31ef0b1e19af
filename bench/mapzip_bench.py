#!/usr/bin/env python3
"""Times mapzip over a whole game folder and prints the ratios.

Usage: bench/mapzip_bench.py [--build BUILD_FOLDER] [--runs N] [inspect] [batch]

Builds nothing: build mapzip and zip32 first. The game folders are generated in a temporary
folder from the fixture game (tests/data/soldat) and removed afterwards.
- inspect: `mapzip inspect --json` over 990 maps (copies of the fixture maps) of a game with
  10,000 images in scenery-gfx, against reading the same 990 map files alone (`cat`). One game
  folder is listed once for all maps, so the ratio stays small (target: at most 1.5).
- batch: every map of a game (24 copies of the fixture maps) to server map archives with
  `mapzip pack maps/*.pms -d OUT --format smap`, at -j 1 against -j 2.
Each command runs N times (default 3), taking turns with the one it is compared to; the
shortest wall time counts.
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
FIXTURE = os.path.join(SOURCE, "tests", "data", "soldat")
DEFAULTS = os.path.join(SOURCE, "tests", "data", "defaults.txt")


def make_game(root, copies, extra_images):
    shutil.copytree(FIXTURE, root)
    maps = os.path.join(root, "maps")
    originals = sorted(glob.glob(os.path.join(maps, "*.pms")))
    for i in range(copies):
        for original in originals:
            name = os.path.splitext(os.path.basename(original))[0]
            shutil.copyfile(original, os.path.join(maps, "%s_%04d.pms" % (name, i)))
    for original in originals:
        os.remove(original)
    scenery = os.path.join(root, "scenery-gfx")
    for i in range(extra_images):
        with open(os.path.join(scenery, "generated_%05d.png" % i), "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + i.to_bytes(4, "little"))
    return sorted(glob.glob(os.path.join(maps, "*.pms")))


def best_of(runs, commands):
    """Runs each command `runs` times, in turns; returns the shortest wall time of each."""
    best = [float("inf")] * len(commands)
    for _ in range(runs):
        for i, command in enumerate(commands):
            start = time.perf_counter()
            result = command()
            best[i] = min(best[i], time.perf_counter() - start)
            if result.returncode not in (0, 3):
                sys.exit("failed (%d): %s\n%s" % (result.returncode, result.args[:6],
                                                  result.stderr.decode(errors="replace")[:2000]))
    return best


def run(args):
    # Output goes nowhere, so that no run pays for a reader of its output.
    return subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def bench_inspect(mapzip, work, runs):
    maps = make_game(os.path.join(work, "inspect-game"), 330, 10000)
    assert len(maps) == 990
    inspect, cat = best_of(runs, [
        lambda: run([mapzip, "inspect", "--json", "--defaults", DEFAULTS] + maps),
        lambda: run(["cat"] + maps),
    ])
    print("inspect --json, 990 maps, 10,000 images: %.3f s; cat of the maps: %.3f s; "
          "ratio %.2f (target <= 1.5)" % (inspect, cat, inspect / cat))


def bench_batch(mapzip, work, runs):
    maps = make_game(os.path.join(work, "batch-game"), 8, 0)
    out = os.path.join(work, "out")

    def batch(jobs):
        shutil.rmtree(out, ignore_errors=True)
        return run([mapzip, "pack"] + maps + ["-d", out, "--format", "smap", "-j", str(jobs),
                                              "--defaults", DEFAULTS])

    one, two = best_of(runs, [lambda: batch(1), lambda: batch(2)])
    print("pack -d --format smap, %d maps: -j 1 %.3f s, -j 2 %.3f s; speed-up %.2f on %d cores"
          % (len(maps), one, two, one / two, os.cpu_count()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("which", nargs="*", help="inspect, batch (default: both)")
    options = parser.parse_args()
    options.which = options.which or ["inspect", "batch"]
    if set(options.which) - {"inspect", "batch"}:
        parser.error("choose from inspect and batch")
    mapzip = os.path.join(options.build, "bin", "mapzip")
    if not os.access(mapzip, os.X_OK):
        sys.exit("no mapzip at %s: build it first" % mapzip)
    with tempfile.TemporaryDirectory(prefix="mapzip-bench-") as work:
        if "inspect" in options.which:
            bench_inspect(mapzip, work, options.runs)
        if "batch" in options.which:
            bench_batch(mapzip, work, options.runs)


if __name__ == "__main__":
    main()
