#!/usr/bin/env python3
"""Times the archive engine against bsdtar and a minimal libzip program, and prints the ratios.

Usage: bench/engine_bench.py [--build BUILD_FOLDER] [--data CACHE_FOLDER] [--runs N]

Builds nothing: build the engine_pack target first (cmake --build BUILD --target engine_pack).
Generated file sets are kept in CACHE_FOLDER (default: /tmp/engine-bench-data) between runs:
- heavy: ~300 files, ~50 MB, mostly PNG, re-encoded variants of the fixture images, and ~10%
  small text and BMP files;
- map: a typical map folder of about 3 MB (a map, its sceneries and texture);
- small1000 / small10000: many small files, to see that time grows linearly with their count.
Each command runs N times (default 5), taking turns with the one it is compared to; the
shortest wall time counts. Peak memory is the
resident set of one run, measured as the run's only child process.
"""
import argparse
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
FIXTURE = os.path.join(SOURCE, "tests", "data", "soldat")


def ensure_bsdtar():
    if shutil.which("bsdtar"):
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "libarchive-tools"], check=True)


def text_file(rng, lines):
    words = ["polygon", "scenery", "spawn", "collider", "texture", "waypoint", "flag", "bush"]
    return "".join(" ".join(rng.choice(words) + str(rng.randrange(100)) for _ in range(8)) + "\r\n"
                   for _ in range(lines)).encode()


def make_heavy(folder):
    rng = random.Random(7)
    scenery = os.path.join(FIXTURE, "scenery-gfx")
    images = sorted(os.path.join(scenery, n) for n in os.listdir(scenery))
    images += sorted(os.path.join(FIXTURE, "textures", n)
                     for n in os.listdir(os.path.join(FIXTURE, "textures")))
    pngs = [p for p in images if p.lower().endswith(".png")]
    bmps = sorted((p for p in images if p.lower().endswith(".bmp")), key=os.path.getsize)
    os.makedirs(os.path.join(folder, "Scenery-gfx"))
    os.makedirs(os.path.join(folder, "Textures"))
    os.makedirs(os.path.join(folder, "Maps"))
    for i, png in enumerate(pngs):
        base = os.path.splitext(os.path.basename(png))[0]
        shutil.copy(png, os.path.join(folder, "Scenery-gfx", base + ".png"))
        variants = [["-modulate", "100,100,%d" % (60 + i % 80)]]
        if i % 2 == 0:
            variants.append(["-flop", "-modulate", "90,110"])
        for k, args in enumerate(variants):
            out = os.path.join(folder, "Textures" if k else "Scenery-gfx", "%s_v%d.png" % (base, k))
            subprocess.run(["convert", png] + args + [out], check=True)
    for bmp in bmps[:15]:
        shutil.copy(bmp, os.path.join(folder, "Scenery-gfx", os.path.basename(bmp)))
    for i in range(15):
        with open(os.path.join(folder, "Maps", "map%02d_ReadMe.txt" % i), "wb") as out:
            out.write(text_file(rng, 20 + 40 * i))


def make_map(folder):
    maps = os.path.join(folder, "Maps")
    sceneries = os.path.join(folder, "Scenery-gfx")
    textures = os.path.join(folder, "Textures")
    for f in (maps, sceneries, textures):
        os.makedirs(f)
    shutil.copy(os.path.join(FIXTURE, "maps", "ctf_Viet.pms"), maps)
    with open(os.path.join(maps, "ctf_Viet_ReadMe.txt"), "wb") as out:
        out.write(text_file(random.Random(3), 30))
    shutil.copy(os.path.join(FIXTURE, "textures", "dorothy.png"), textures)
    scenery = os.path.join(FIXTURE, "scenery-gfx")
    total = 0
    for name in sorted(os.listdir(scenery), key=lambda n: (hash(n) % 7, n)):
        size = os.path.getsize(os.path.join(scenery, name))
        if size > 600_000 or total + size > 2_200_000:
            continue
        shutil.copy(os.path.join(scenery, name), sceneries)
        total += size


def make_small(folder, count):
    rng = random.Random(count)
    for i in range(count):
        sub = os.path.join(folder, "d%03d" % (i // 100))
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "f%05d.txt" % i), "wb") as out:
            out.write(text_file(rng, 1 + i % 30))


def data_set(cache, name, maker):
    folder = os.path.join(cache, name)
    if not os.path.isdir(folder):
        partial = folder + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        os.makedirs(partial)
        maker(partial)
        os.rename(partial, folder)
    files = [os.path.join(r, f) for r, _, fs in os.walk(folder) for f in fs]
    return folder, len(files), sum(os.path.getsize(f) for f in files)


def relative_files(root):
    out = []
    for r, _, fs in os.walk(root):
        for f in fs:
            out.append(os.path.relpath(os.path.join(r, f), root))
    return sorted(out)


def timed(commands, runs):
    """Shortest wall time of each (command, archive it writes) over `runs` rounds, and the
    archive's size. The commands take turns, every run starts with the disk cache written out
    and with no archive of an earlier run lying in the folder to pack, so that neither side
    pays for the other's work, nor for other work the machine does now and then."""
    best = [float("inf")] * len(commands)
    sizes = [0] * len(commands)
    for _ in range(runs):
        for i, (command, archive) in enumerate(commands):
            os.sync()
            start = time.perf_counter()
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
            best[i] = min(best[i], time.perf_counter() - start)
            sizes[i] = os.path.getsize(archive)
            os.remove(archive)
    return best, sizes


def peak_kib(command):
    probe = ("import resource, subprocess, sys\n"
             "subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)\n"
             "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")
    out = subprocess.run([sys.executable, "-c", probe] + command, check=True,
                         capture_output=True, text=True)
    return int(out.stdout.strip())


def parse_arguments(description):
    """The options every benchmark here takes: --build, --data, --runs."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--build", default=os.path.join(SOURCE, "build"))
    parser.add_argument("--data", default=os.path.join(tempfile.gettempdir(), "engine-bench-data"))
    parser.add_argument("--runs", type=int, default=5)
    return parser.parse_args()


class Targets:
    """Prints each measured value against its target and remembers the ones missed."""

    def __init__(self):
        self.missed = []

    def check(self, label, value, limit):
        ok = value <= limit
        if not ok:
            self.missed.append(label)
        print("  %-44s %6.3f  (target <= %.2f) %s" % (label, value, limit, "ok" if ok else "MISSED"))

    def summary(self):
        print("all targets met" if not self.missed else "missed: " + ", ".join(self.missed))
        return 1 if self.missed else 0


def main():
    args = parse_arguments(__doc__.splitlines()[0])
    ensure_bsdtar()
    pack = os.path.join(args.build, "bench", "bin", "engine_pack")
    if not os.access(pack, os.X_OK):
        sys.exit("%s is missing: cmake --build %s --target engine_pack" % (pack, args.build))
    os.makedirs(args.data, exist_ok=True)
    out = tempfile.mkdtemp(prefix="engine-bench-")
    targets = Targets()
    check = targets.check

    def engine(root, level, threads=0):
        return [pack, "engine", root, "engine.zip", str(level), str(threads)]

    try:
        for name, maker, limit in (("heavy", make_heavy, 0.5), ("map", make_map, 0.7)):
            root, count, size = data_set(args.data, name, maker)
            print("%s: %d files, %.1f MB" % (name, count, size / 1e6))
            listing = os.path.join(out, name + ".list")
            with open(listing, "w") as f:
                f.write("\n".join(relative_files(root)) + "\n")
            tar_zip = os.path.join(out, name + "-bsdtar.zip")
            tar = ["bsdtar", "-c", "-f", tar_zip, "--format", "zip", "--options",
                   "zip:compression-level=9", "-n", "-C", root, "-T", listing]
            ours = os.path.join(root, "engine.zip")
            (t_tar, t_ours), (s_tar, s_ours) = timed([(tar, tar_zip), (engine(root, 9), ours)],
                                                     args.runs)
            print("  bsdtar level 9 %.3f s, %d bytes; engine level 9 %.3f s, %d bytes"
                  % (t_tar, s_tar, t_ours, s_ours))
            check("time engine / bsdtar (level 9)", t_ours / t_tar, limit)
            check("size engine / bsdtar (level 9)", s_ours / s_tar, 1.00)
            floor = [pack, "libzip", root, "libzip.zip", "0"]
            (t_floor, t_store), _ = timed([(floor, os.path.join(root, "libzip.zip")),
                                           (engine(root, 0), ours)], args.runs)
            print("  libzip level 0 %.3f s; engine level 0 %.3f s" % (t_floor, t_store))
            check("time engine / minimal libzip (level 0)", t_store / t_floor, 1.2)
            check("peak RSS of the engine, MiB (level 9)", peak_kib(engine(root, 9)) / 1024, 40)
            # As on a machine with many cores.
            check("peak RSS, MiB (level 9, 64 threads asked)",
                  peak_kib(engine(root, 9, 64)) / 1024, 40)
            os.remove(ours)

        per_file = {}
        for count in (1000, 10000):
            root, _, _ = data_set(args.data, "small%d" % count,
                                  lambda f, c=count: make_small(f, c))
            ours = os.path.join(root, "engine.zip")
            (seconds,), _ = timed([(engine(root, 9), ours)], max(1, args.runs // 2))
            per_file[count] = seconds / count
            print("small%d: engine level 9 %.3f s, %.1f us per file"
                  % (count, seconds, 1e6 * per_file[count]))
        check("per-file time 10,000 / 1,000 files", per_file[10000] / per_file[1000], 1.5)
        check("peak RSS of the engine, MiB (10,000 files)", peak_kib(engine(root, 9)) / 1024, 40)
        os.remove(ours)
    finally:
        shutil.rmtree(out, ignore_errors=True)
    return targets.summary()


if __name__ == "__main__":
    sys.exit(main())
