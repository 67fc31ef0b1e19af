#!/usr/bin/env python3
"""Times `mapzip preview` on maps made to hurt, and on the fixture maps, and prints time and
peak memory against the targets: any map at most 2 s and 400 MB at 1024 pixels, 5 s and 800 MB
at 8192; the three checks of the hostile maps below at most 15 s and 600 MB (40 large
sceneries, 1024 pixels) or 10 s and 1 GB (slivers and missing images, 8192 pixels).

Usage: bench/preview_hostile_bench.py [--build BUILD_FOLDER] [--keep FOLDER]

Builds nothing: build mapzip first. The maps are written in a temporary folder (or FOLDER, kept):
- sceneries 40: 40 distinct 4096 x 4096 PNGs (about 65 KB each), each shown by a prop as
  large as the map;
- slivers 200000: 200,000 triangles thinner than a pixel and as tall as the map;
- missing 200000: 200,000 props whose image the game would not find (red boxes);
- hard 8: 8 files of one 4096 x 4096 PNG that hardly compresses (about 37 MB: 6 random bits a
  sample, Paeth-filtered), each shown by a prop as large as the map;
- unnamed: a prop of scenery 7 on a map of one scenery, which must be named on standard error.
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
FIXTURES = os.path.join(SOURCE, "tests", "data", "soldat", "maps")
ANY = {1024: (2.0, 400.0), 8192: (5.0, 800.0)}
CHECKS = {("sceneries", 1024): (15.0, 600.0), ("slivers", 8192): (10.0, 1024.0),
          ("missing", 8192): (10.0, 1024.0)}


def write_png(path, edge, raw, level):
    """An 8-bit RGB PNG of edge x edge pixels from its filtered rows `raw`."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", edge, edge, 8, 2,
                                                                     0, 0, 0)) +
                  chunk(b"IDAT", zlib.compress(raw, level)) + chunk(b"IEND", b""))


def png(path, edge, colour):
    """A PNG of edge x edge pixels, one colour with a lighter line every 64 rows."""
    plain = b"\0" + bytes(colour) * edge
    light = b"\0" + bytes(min(255, c + 40) for c in colour) * edge
    write_png(path, edge, b"".join(light if y % 64 == 0 else plain for y in range(edge)), 9)


def hard_png(path, edge):
    """A PNG of edge x edge pixels of 6 random bits a sample, each row Paeth-filtered: slow to
    inflate, for its size."""
    low = bytes(range(64)) * 4
    write_png(path, edge, b"".join(b"\4" + os.urandom(edge * 3).translate(low)
                                   for _ in range(edge)), 1)


def text(value, size):
    return bytes([len(value)]) + value.ljust(size, b"\0")


def triangle(corners, colour=0xFF808080, kind=0):
    record = b""
    for x, y in corners:
        record += struct.pack("<ffffIff", x, y, 1, 1, colour, x / 256, y / 256)
    return record + b"\0" * 36 + bytes([kind])


def prop(style, x, y, width, height, level=2):
    return struct.pack("<BBHiifffffBBBBIB3s", 1, 0, style, width, height, x, y, 0, 1, 1, 255,
                       0, 0, 0, 0xFFFFFFFF, level, b"\0\0\0")


def write_map(path, triangles, props, sceneries, texture=b""):
    header = struct.pack("<i", 11) + text(b"bench", 38) + text(texture, 24)
    header += struct.pack("<IIiBBBBi", 0xFF203040, 0xFF405060, 0, 0, 0, 0, 0, 0)
    body = struct.pack("<i", len(triangles)) + b"".join(triangles) + b"\0" * 8 + b"\0\0" * 2601
    body += struct.pack("<i", len(props)) + b"".join(props)
    body += struct.pack("<i", len(sceneries)) + b"".join(text(n, 50) + b"\0" * 4 for n in sceneries)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(header + body)


def map_paths(folder):
    return {name: os.path.join(folder, "maps", name + ".pms")
            for name in ("sceneries", "hard", "slivers", "missing", "unnamed")}


def write_hostile_maps(folder, maps):
    """Writes the maps made to hurt at their `maps` paths, and their images."""
    ground = [triangle([(0, 0), (1000, 0), (1000, 1000)]), triangle([(0, 0), (1000, 1000),
                                                                    (0, 1000)])]
    gfx = os.path.join(folder, "scenery-gfx")
    os.makedirs(gfx, exist_ok=True)
    names = []
    for i in range(40):
        names.append(b"large%02d.png" % i)
        png(os.path.join(gfx, names[-1].decode()), 4096, (i * 6, 255 - i * 6, 100))
    hard = [b"hard%d.png" % i for i in range(8)]
    hard_png(os.path.join(gfx, hard[0].decode()), 4096)
    for name in hard[1:]:
        shutil.copyfile(os.path.join(gfx, hard[0].decode()), os.path.join(gfx, name.decode()))
    write_map(maps["sceneries"], ground, [prop(i + 1, 0, 0, 1000, 1000) for i in range(40)],
              names)
    write_map(maps["hard"], ground, [prop(i + 1, 0, 0, 1000, 1000) for i in range(8)], hard)
    write_map(maps["slivers"], ground + [triangle([(i / 200.0, 0), (i / 200.0 + 0.05, 1000),
                                                   (i / 200.0, 1000)]) for i in range(200000)],
              [], [])
    rng = random.Random(1)
    write_map(maps["missing"], ground, [prop(1, rng.uniform(0, 1000), rng.uniform(0, 1000), 32,
                                             32) for _ in range(200000)], [b"gone.png"])
    write_map(maps["unnamed"], ground, [prop(7, 500, 500, 32, 32)], [b"large00.png"])


def in_child(work, *args):
    """Runs work(*args) in a child process: a program started later counts the size its parent
    had at the start in its peak memory, and writing the maps takes hundreds of MB."""
    pid = os.fork()
    if pid == 0:
        status = 1
        try:
            work(*args)
            status = 0
        finally:
            os._exit(status)
    if os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) != 0:
        sys.exit("cannot write the maps")


def preview(mapzip, map_path, width, out):
    """Runs mapzip preview; returns exit status, wall seconds, CPU seconds, peak memory in MB,
    stderr."""
    start = time.perf_counter()
    process = subprocess.Popen([mapzip, "preview", map_path, "-o", out, "--width", str(width)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    errors = process.stderr.read().decode(errors="replace")
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    if os.path.exists(out):
        os.remove(out)
    return (os.waitstatus_to_exitcode(status), seconds, usage.ru_utime + usage.ru_stime,
            usage.ru_maxrss / 1024.0, errors)


def run_cases(mapzip, maps, folder):
    failed = False
    print("%-14s %6s %8s %8s %8s %7s %7s  %s" % ("map", "width", "seconds", "CPU s", "MB",
                                                 "/time", "/memory", "warnings"))
    cases = [(name, path) for name, path in maps.items() if name != "unnamed"]
    cases += [(name[:-4], os.path.join(FIXTURES, name)) for name in sorted(os.listdir(FIXTURES))]
    for name, path in cases:
        for width in (1024, 8192):
            seconds_target, megabytes_target = CHECKS.get((name, width), ANY[width])
            status, seconds, cpu, megabytes, errors = preview(mapzip, path, width,
                                                              os.path.join(folder, "out.png"))
            ok = status == 0 and seconds <= seconds_target and megabytes <= megabytes_target
            failed |= not ok
            warnings = [line.split("warning: ", 1)[-1][:60] for line in errors.splitlines()]
            print("%-14s %6d %8.2f %8.2f %8.1f %7.2f %7.2f  %s%s" % (
                name, width, seconds, cpu, megabytes, seconds / seconds_target,
                megabytes / megabytes_target, "; ".join(warnings)[:120],
                "" if ok else "  <- MISSED (exit %d)" % status))
    return failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build"))
    parser.add_argument("--keep", help="write the maps here and keep them")
    args = parser.parse_args()
    mapzip = os.path.join(args.build, "bin", "mapzip")
    if not os.access(mapzip, os.X_OK):
        sys.exit("no mapzip in %s/bin: build it first" % args.build)
    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    with tempfile.TemporaryDirectory(prefix="preview-bench-") as temporary:
        folder = args.keep or temporary
        maps = map_paths(folder)
        in_child(write_hostile_maps, folder, maps)
        failed = run_cases(mapzip, maps, folder)
        errors = preview(mapzip, maps["unnamed"], 1024, os.path.join(folder, "out.png"))[4]
        named = "prop 1 shows 7" in errors
        failed |= not named
        print("a prop of scenery 7 on a map of one scenery %s" % (
            "is named on standard error" if named else "is NOT named: " + errors.strip()))
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
