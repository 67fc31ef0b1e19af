#!/usr/bin/env python3
"""Times mapzip side by side with general archivers on the same files, and prints the ratios.

Usage: bench/peer_bench.py [--build BUILD_FOLDER] [--data CACHE_FOLDER] [--runs N] [--size MB]
                           [maps] [batch] [verify] [startup] [bigfile]

Builds nothing: build mapzip, zip32 and mapzip_readback first. Installs bsdtar
(libarchive-tools), pigz and 7z (p7zip-full) with apt-get where they are missing. Each pair of
commands takes turns (the order swapped every round), N rounds (default 7); the medians count.
CPU is user plus system time of the command and its children. Each tool gets the same files
under the same names: those of mapzip's own archive, the generated readme included.
- maps: `mapzip pack` of each fixture map at level 6 against bsdtar at level 6. Targets: wall
  and CPU at most 1.0x, size at most 1.00x.
- batch: the fixture maps, each copied 30 times under other names, `mapzip pack -d -j 2`
  against one bsdtar per map under `xargs -P2`. Target: wall at most 0.8x.
- verify: `mapzip verify` of each fixture map's archive against `7z t`. Target: at most 1.5x.
- startup: `mapzip --version` and `mapzip inspect` of one map against `bsdtar --version`.
  Target: at most 1.5x.
- bigfile: one file of --size MB (default 300), half text and half random, packed at level 6
  against `pigz -K -p 2` (target: wall at most 1.0x on 2 idle cores) and bsdtar (target: size
  at most 1.005x). The file is kept in CACHE_FOLDER (default: /tmp/engine-bench-data).
The machine's load (uptime) is printed before and after: ratios mean little on a busy machine.
"""
import argparse
import glob
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

from engine_bench import Targets, data_set

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
FIXTURE = os.path.join(SOURCE, "tests", "data", "soldat")
PEERS = {"bsdtar": "libarchive-tools", "pigz": "pigz", "7z": "p7zip-full"}
SECTIONS = ("maps", "batch", "verify", "startup", "bigfile")


def ensure_peers():
    missing = [package for tool, package in PEERS.items() if not shutil.which(tool)]
    if missing:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        subprocess.run(sudo + ["apt-get", "install", "-y", "-qq"] + missing, check=True)


def load():
    return subprocess.run(["uptime"], capture_output=True, text=True).stdout.strip()


def run(command, ok=(0,), stdout=subprocess.DEVNULL):
    """Wall and CPU seconds of one run of `command` (a list, or a shell line)."""
    start = time.perf_counter()
    process = subprocess.Popen(command, shell=isinstance(command, str), stdout=stdout,
                               stderr=subprocess.PIPE)
    err = process.stderr.read()
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode not in ok:
        sys.exit("failed (%d): %s\n%s" % (process.returncode, command,
                                          err.decode(errors="replace")[:2000]))
    return wall, usage.ru_utime + usage.ru_stime


def side_by_side(ours, peer, runs):
    """Medians of (wall, cpu) for two callables that each run a command, taking turns."""
    times = {0: [], 1: []}
    for round_ in range(runs):
        for which in ((0, 1) if round_ % 2 == 0 else (1, 0)):
            times[which].append((ours, peer)[which]())
    return [tuple(statistics.median(t[k] for t in times[w]) for k in (0, 1)) for w in (0, 1)]


def report(targets, label, mine, theirs, peer, wall_limit, cpu_limit=None, sizes=None,
           size_limit=None):
    print("%s: mapzip %.3f s wall, %.3f s CPU; %s %.3f s wall, %.3f s CPU%s"
          % (label, mine[0], mine[1], peer, theirs[0], theirs[1],
             "; sizes %d / %d bytes" % sizes if sizes else ""))
    targets.check("%s wall / %s" % (label, peer), mine[0] / theirs[0], wall_limit)
    if cpu_limit:
        targets.check("%s CPU / %s" % (label, peer), mine[1] / theirs[1], cpu_limit)
    if sizes and size_limit:
        targets.check("%s size / %s" % (label, peer), sizes[0] / sizes[1], size_limit)


def copy_game(root, copies=0):
    """The fixture game at `root`; with `copies`, its maps replaced by that many copies each."""
    shutil.copytree(FIXTURE, root)
    originals = sorted(glob.glob(os.path.join(root, "maps", "*.pms")))
    for i in range(copies):
        for original in originals:
            stem = os.path.splitext(os.path.basename(original))[0]
            shutil.copyfile(original, os.path.join(root, "maps", "%s_%02d.pms" % (stem, i)))
    if copies:
        for original in originals:
            os.remove(original)
    return sorted(glob.glob(os.path.join(root, "maps", "*.pms")))


def same_files(archive, game, listing):
    """Writes to `listing` the entry names of mapzip's `archive`, each a file under `game`: the
    generated readme is put there from the archive, as it is nowhere else on disk."""
    with zipfile.ZipFile(archive) as z:
        names = z.namelist()
        for name in names:
            if not os.path.exists(os.path.join(game, name)):
                z.extract(name, game)
    with open(listing, "w") as out:
        out.write("\n".join(names) + "\n")


def bsdtar(game, listing, archive, level):
    return ["bsdtar", "-c", "-f", archive, "--format", "zip", "--options",
            "zip:compression-level=%d" % level, "-n", "-C", game, "-T", listing]


def bench_maps(mapzip, work, runs, targets):
    game = os.path.join(work, "maps-game")
    for map_path in copy_game(game):
        stem = os.path.splitext(os.path.basename(map_path))[0]
        ours, theirs = os.path.join(work, stem + ".zip"), os.path.join(work, stem + "-bsdtar.zip")
        listing = os.path.join(work, stem + ".list")
        pack = [mapzip, "pack", map_path, "-o", ours, "--level", "6", "-q"]
        run(pack, ok=(0, 3))
        same_files(ours, game, listing)
        tar = bsdtar(game, listing, theirs, 6)
        mine, peer = side_by_side(lambda: run(pack, ok=(0, 3)), lambda: run(tar), runs)
        sizes = (os.path.getsize(ours), os.path.getsize(theirs))
        report(targets, stem, mine, peer, "bsdtar", 1.0, 1.0, sizes, 1.00)


def bench_batch(mapzip, work, runs, targets):
    game = os.path.join(work, "batch-game")
    maps = copy_game(game, copies=30)
    ours, theirs = os.path.join(work, "batch-out"), os.path.join(work, "batch-bsdtar")
    pack = [mapzip, "pack"] + maps + ["-d", ours, "-j", "2", "--level", "6", "-q"]
    run(pack, ok=(0, 3))
    lines = []
    for map_path in maps:
        stem = os.path.splitext(os.path.basename(map_path))[0]
        listing = os.path.join(work, "batch-%s.list" % stem)
        same_files(os.path.join(ours, stem + ".zip"), game, listing)
        lines.append("-f %s/%s.zip -T %s" % (theirs, stem, listing))
    jobs = os.path.join(work, "batch-jobs")
    with open(jobs, "w") as out:
        out.write("\n".join(lines) + "\n")
    tar = ("xargs -P2 -L1 bsdtar -c --format zip --options zip:compression-level=6 -n -C %s < %s"
           % (game, jobs))

    def fresh(folder):  # each run writes into an empty folder
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        return folder

    mine, peer = side_by_side(lambda: fresh(ours) and run(pack, ok=(0, 3)),
                              lambda: fresh(theirs) and run(tar), runs)

    def total(folder):
        return sum(os.path.getsize(f) for f in glob.glob(os.path.join(folder, "*.zip")))

    report(targets, "batch of %d maps" % len(maps), mine, peer, "xargs -P2 bsdtar", 0.8,
           sizes=(total(ours), total(theirs)))


def bench_verify(mapzip, work, runs, targets):
    game = os.path.join(work, "verify-game")
    for map_path in copy_game(game):
        stem = os.path.splitext(os.path.basename(map_path))[0]
        archive = os.path.join(work, stem + "-verify.zip")
        run([mapzip, "pack", map_path, "-o", archive, "--level", "6", "-q"], ok=(0, 3))
        mine, peer = side_by_side(lambda: run([mapzip, "verify", archive], ok=(0, 3)),
                                  lambda: run(["7z", "t", archive]), runs)
        report(targets, "verify " + stem, mine, peer, "7z t", 1.5)


def bench_startup(mapzip, runs, targets):
    map_path = os.path.join(FIXTURE, "maps", "ctf_Aftermath.pms")
    for label, command in (("--version", [mapzip, "--version"]),
                           ("inspect", [mapzip, "inspect", map_path])):
        mine, peer = side_by_side(lambda: run(command), lambda: run(["bsdtar", "--version"]),
                                  3 * runs)
        report(targets, "mapzip " + label, mine, peer, "bsdtar --version", 1.5)


def make_big_file(folder, size):
    """Half text (lines of words and numbers), then half random bytes."""
    rng = random.Random(5)
    words = [w.encode() for w in ("polygon scenery spawn collider texture waypoint flag bush "
                                  "the of and game map team red blue alpha bravo").split()]
    with open(os.path.join(folder, "big.dat"), "wb") as out:
        written = 0
        while written < size // 2:
            line = b" ".join(rng.choice(words) + str(rng.randrange(1000)).encode()
                             for _ in range(10)) + b"\r\n"
            out.write(line)
            written += len(line)
        out.write(rng.randbytes(size - written))


def bench_bigfile(mapzip, work, data, runs, size_mb, targets):
    folder, _, size = data_set(data, "halftext%d" % size_mb,
                               lambda f: make_big_file(f, size_mb * 1000 * 1000))
    game = os.path.join(work, "big-game")
    shutil.copytree(FIXTURE, game, ignore=shutil.ignore_patterns("*.pms"))
    os.link(os.path.join(folder, "big.dat"), os.path.join(game, "scenery-gfx", "big.bmp"))
    from pack_bench import write_map
    map_path = os.path.join(game, "maps", "big.pms")
    write_map(map_path, ["big.bmp"], "dorothy.png")
    ours, theirs = os.path.join(work, "big.zip"), os.path.join(work, "big-bsdtar.zip")
    pack = [mapzip, "pack", map_path, "-o", ours, "--level", "6", "-q"]
    run(pack)
    listing = os.path.join(work, "big.list")
    same_files(ours, game, listing)
    big = os.path.join(game, "scenery-gfx", "big.bmp")
    pigz_out = os.path.join(work, "big-pigz.zip")
    pigz = "pigz -K -p 2 -6 -c %s > %s" % (big, pigz_out)
    print("one file of %.0f MB, half text, half random, level 6" % (size / 1e6))
    mine, peer = side_by_side(lambda: run(pack), lambda: run(pigz), runs)
    report(targets, "big file", mine, peer, "pigz -K -p 2", 1.0)
    tar = bsdtar(game, listing, theirs, 6)
    mine, peer = side_by_side(lambda: run(pack), lambda: run(tar), max(1, runs // 2))
    report(targets, "big file", mine, peer, "bsdtar", float("inf"),
           sizes=(os.path.getsize(ours), os.path.getsize(theirs)), size_limit=1.005)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build"))
    parser.add_argument("--data", default=os.path.join(tempfile.gettempdir(), "engine-bench-data"))
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--size", type=int, default=300, help="the big file's size in MB")
    parser.add_argument("which", nargs="*", help=", ".join(SECTIONS) + " (default: all)")
    options = parser.parse_args()
    which = options.which or list(SECTIONS)
    if set(which) - set(SECTIONS):
        parser.error("choose from " + ", ".join(SECTIONS))
    mapzip = os.path.join(options.build, "bin", "mapzip")
    if not os.access(mapzip, os.X_OK):
        sys.exit("no mapzip at %s: build it first" % mapzip)
    ensure_peers()
    os.makedirs(options.data, exist_ok=True)
    targets = Targets()
    print("load before:", load())
    with tempfile.TemporaryDirectory(prefix="peer-bench-") as work:
        if "maps" in which:
            bench_maps(mapzip, work, options.runs, targets)
        if "batch" in which:
            bench_batch(mapzip, work, options.runs, targets)
        if "verify" in which:
            bench_verify(mapzip, work, options.runs, targets)
        if "startup" in which:
            bench_startup(mapzip, options.runs, targets)
        if "bigfile" in which:
            bench_bigfile(mapzip, work, options.data, options.runs, options.size, targets)
    print("load after:", load())
    return targets.summary()


if __name__ == "__main__":
    sys.exit(main())
