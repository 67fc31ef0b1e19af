#!/usr/bin/env python3
"""Times `mapzip pack` of a map with one 300 MB scenery, and how fast a stop ends it.

Usage: bench/large_file_bench.py [--build BUILD_FOLDER] [--data CACHE_FOLDER] [--runs N]
                                 [--baseline OTHER_BUILD_FOLDER] [--size MB]

Builds nothing: build mapzip and zip32 first. The scenery is a generated 24-bit BMP that
deflates to about a third, kept in CACHE_FOLDER (default: /tmp/engine-bench-data) between runs.
Prints:
- the wall time (shortest of N runs, N at most 3, the builds taking turns), archive size and peak memory (target: under
  40 MiB) of the pack at level 9 with the default engine threads, and whether Python's zipfile,
  unzip -t and bsdtar (where installed) read the archive back; with --baseline the same for
  that build's mapzip, the speed-up (target: at least 1.7) and the size ratio (at most 1.005);
- the stop latency: SIGINT, SIGTERM and SIGHUP sent 2 s into a run, and SIGINT and SIGTERM sent
  as soon as the staged archive is complete (while it is read back and delivered), the time
  until mapzip has ended (target: at most 1 s), its exit status (130, 143, 129), that no archive
  was written and that nothing was left in the temporary folder.
"""
import glob
import argparse
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

from engine_bench import Targets, data_set, parse_arguments, peak_kib, timed
from pack_bench import write_map


def make_scenery(folder, size):
    """A BMP of about `size` bytes: flat runs, grainy areas and rows that repeat with changes."""
    rng = random.Random(11)
    grain = bytes(min(255, max(0, 128 + int(rng.gauss(0, 6)))) for _ in range(256))
    width = 4096
    row = 3 * width
    height = size // row
    path = os.path.join(folder, "big.bmp")
    with open(path, "wb") as out:
        pixels = row * height
        out.write(b"BM" + struct.pack("<IHHI", 54 + pixels, 0, 0, 54))
        out.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, pixels, 2835, 2835,
                              0, 0))
        recent = []
        for _ in range(height):
            kind = rng.randrange(4)
            if kind == 0 or not recent:
                line = bytes([rng.randrange(256)] * 3) * width
            elif kind == 1:
                line = rng.randbytes(row).translate(grain)
            else:
                changed = bytearray(rng.choice(recent))
                for _ in range(40):
                    changed[rng.randrange(row)] = rng.randrange(256)
                line = bytes(changed)
            recent = (recent + [line])[-64:]
            out.write(line)


def make_game(scenery, game):
    for name in ("maps", "scenery-gfx", "textures"):
        os.makedirs(os.path.join(game, name))
    os.link(scenery, os.path.join(game, "scenery-gfx", "big.bmp"))
    with open(os.path.join(game, "textures", "ground.bmp"), "wb") as out:
        out.write(b"BM" + bytes(5000))
    write_map(os.path.join(game, "maps", "big.pms"), ["big.bmp"], "ground.bmp")
    return os.path.join(game, "maps", "big.pms")


def pack_command(build, map_path, archive, no_stock):
    return [os.path.join(build, "bin", "mapzip"), "pack", map_path, "-o", archive, "--level", "9",
            "--defaults", no_stock, "-q"]


def readers_accept(archive):
    """Python's zipfile, unzip -t and, where installed, bsdtar read every entry back."""

    with zipfile.ZipFile(archive) as z:
        bad = z.testzip()
    checks = [("zipfile", bad is None),
              ("unzip -t", subprocess.run(["unzip", "-tq", archive], stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL).returncode == 0)]
    if shutil.which("bsdtar"):
        checks.append(("bsdtar", subprocess.run(["bsdtar", "-xOf", archive],
                                                stdout=subprocess.DEVNULL,
                                                stderr=subprocess.DEVNULL).returncode == 0))
    return checks


def stop_latency(command, sig, when, temp):
    """Seconds from `sig` until the run has ended, its exit status and what it left in `temp`.
    `sig` is sent `when` seconds into the run, or with "check" as soon as the staged archive is
    complete."""
    run = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           env=dict(os.environ, TMPDIR=temp))
    if when == "check":
        staged = os.path.join(temp, "*", "TEMP", "big.zip")
        while not glob.glob(staged) and run.poll() is None:
            time.sleep(0.002)
    else:
        time.sleep(when)
    if run.poll() is not None:
        sys.exit("the pack ended before the stop was sent: use a bigger --size")
    sent = time.perf_counter()
    run.send_signal(sig)
    status = run.wait()
    return time.perf_counter() - sent, 128 - status if status < 0 else status, os.listdir(temp)


def main():
    extra = argparse.ArgumentParser(add_help=False)
    extra.add_argument("--baseline")
    extra.add_argument("--size", type=int, default=300)
    options, rest = extra.parse_known_args()
    sys.argv = sys.argv[:1] + rest
    args = parse_arguments(__doc__.splitlines()[0])
    args.runs = min(args.runs, 3)
    builds = [("this build", args.build)]
    if options.baseline:
        builds.append(("baseline", options.baseline))
    for _, build in builds:
        if not os.access(os.path.join(build, "bin", "mapzip"), os.X_OK):
            sys.exit("no mapzip in %s/bin: build it first" % build)
    os.makedirs(args.data, exist_ok=True)
    folder, _, size = data_set(args.data, "large%d" % options.size,
                               lambda f: make_scenery(f, options.size * 1000 * 1000))
    targets = Targets()
    with tempfile.TemporaryDirectory(prefix="large-bench-") as work:
        map_path = make_game(os.path.join(folder, "big.bmp"), os.path.join(work, "game"))
        no_stock = os.path.join(work, "no-stock.txt")
        open(no_stock, "w").close()
        archive = os.path.join(work, "big.zip")
        print("one scenery of %.0f MB, level 9, %d cores" % (size / 1e6, os.cpu_count()))
        commands = [(pack_command(build, map_path, archive, no_stock), archive)
                    for _, build in builds]
        times, sizes = timed(commands, args.runs)
        for (label, build), (command, _), seconds, packed in zip(builds, commands, times, sizes):
            peak = peak_kib(command) / 1024
            checks = readers_accept(archive)
            os.remove(archive)
            print("  %-10s mapzip pack %.2f s, %d bytes (%.3f of the file), peak %.1f MiB; %s"
                  % (label, seconds, packed, packed / size, peak,
                     ", ".join("%s %s" % (name, "accepts it" if ok else "REFUSES it")
                               for name, ok in checks)))
            if build == args.build:
                targets.check("peak RSS of mapzip pack, MiB", peak, 40)
                targets.missed += [name + " refuses the archive" for name, ok in checks if not ok]
        if options.baseline:
            print("  speed-up %.2f (target >= 1.7)" % (times[1] / times[0]))
            targets.check("time this build / baseline", times[0] / times[1], 1 / 1.7)
            targets.check("size this build / baseline", sizes[0] / sizes[1], 1.005)
        command = pack_command(args.build, map_path, archive, no_stock)
        temp = os.path.join(work, "tmp")
        os.makedirs(temp)
        for sig, when in ((signal.SIGINT, 2), (signal.SIGTERM, 2), (signal.SIGHUP, 2),
                          (signal.SIGINT, "check"), (signal.SIGTERM, "check")):
            expected = 128 + sig
            latency, status, left = stop_latency(command, sig, when, temp)
            moment = "2 s into the run" if when == 2 else "in the check after writing"
            print("  %s %s: ended after %.3f s with status %d (want %d)%s%s"
                  % (sig.name, moment, latency, status, expected,
                     "" if not os.path.exists(archive) else ", but an archive was written",
                     ", but left " + " ".join(left) if left else ""))
            targets.check("stop latency after %s %s, s" % (sig.name, moment), latency, 1.0)
            if status != expected or os.path.exists(archive) or left:
                targets.missed.append("status after %s %s" % (sig.name, moment))
    return targets.summary()


if __name__ == "__main__":
    sys.exit(main())
