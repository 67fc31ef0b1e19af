#!/usr/bin/env python3
"""Times a whole `mapzip pack` (read the map, stage, readme, engine, check, delivery) against
bsdtar packing the same files, and prints the ratios.

Usage: bench/pack_bench.py [--build BUILD_FOLDER] [--data CACHE_FOLDER] [--runs N]

The image sets are engine_bench.py's (kept in CACHE_FOLDER): "heavy" (~300 files, ~50 MB,
mostly PNG) and "map" (a typical map of about 3 MB). Each becomes a game folder with one map
that names every image, packed by mapzip at level 9 and by bsdtar at level 9; the archive of
mapzip also holds the generated readme. Targets: heavy at most 0.5x bsdtar's time, a typical
map at most 0.7x, archives at most 1.00x bsdtar's size, mapzip's peak memory under 40 MiB, with
the default number of engine threads and with the most (6).
"""
import os
import struct
import subprocess
import sys
import tempfile

from engine_bench import (Targets, data_set, ensure_bsdtar, make_heavy, make_map, parse_arguments,
                          peak_kib, timed)


MAP_VERSION = 11  # the game's map format; mapzip refuses any other


def write_map(path, sceneries, texture):
    """A map file with no polygons and one prop for each scenery, so that each is one the game
    loads."""
    def text(value, size):
        raw = value.encode("cp1252")[:size]
        return bytes([len(raw)]) + raw.ljust(size, b"\0")

    data = bytearray(struct.pack("<i", MAP_VERSION)) + text("Bench map", 38) + text(texture, 24)
    data += bytes(20) + struct.pack("<i", 0) + bytes(8) + bytes(2 * 2601)
    data += struct.pack("<i", len(sceneries))
    for style in range(1, len(sceneries) + 1):  # active, drawn with scenery record `style`
        data += bytes([1, 0]) + struct.pack("<H", style) + bytes(40)
    data += struct.pack("<i", len(sceneries))
    for name in sceneries:
        data += text(name, 50) + bytes(4)
    with open(path, "wb") as out:
        out.write(data)


def make_game(images, game):
    """A game folder whose map names every image of an engine_bench set (hard links to it)."""
    for folder in ("maps", "scenery-gfx", "textures"):
        os.makedirs(os.path.join(game, folder))
    sceneries = []
    for folder in ("Scenery-gfx", "Textures"):
        for name in sorted(os.listdir(os.path.join(images, folder))):
            os.link(os.path.join(images, folder, name), os.path.join(game, "scenery-gfx", name))
            sceneries.append(name)
    texture = sceneries[-1]
    os.link(os.path.join(game, "scenery-gfx", texture), os.path.join(game, "textures", texture))
    write_map(os.path.join(game, "maps", "bench.pms"), sceneries, texture)
    return (["maps/bench.pms"] + ["scenery-gfx/" + n for n in sceneries] +
            ["textures/" + texture])


def main():
    args = parse_arguments(__doc__.splitlines()[0])
    ensure_bsdtar()
    mapzip = os.path.join(args.build, "bin", "mapzip")
    if not os.access(mapzip, os.X_OK):
        sys.exit("%s is missing: cmake --build %s --target mapzip zip32" % (mapzip, args.build))
    os.makedirs(args.data, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="pack-bench-") as work:
        targets = Targets()
        check = targets.check

        for name, maker, limit in (("heavy", make_heavy, 0.5), ("map", make_map, 0.7)):
            images, _, _ = data_set(args.data, name, maker)
            game = os.path.join(work, name)
            files = make_game(images, game)
            listing = os.path.join(work, name + ".list")
            with open(listing, "w") as out:
                out.write("\n".join(files) + "\n")
            ours = os.path.join(work, name + ".zip")
            tar_zip = os.path.join(work, name + "-bsdtar.zip")
            # No stock list: every image the map names is packed, as bsdtar packs them all.
            no_stock = os.path.join(work, "no-stock.txt")
            open(no_stock, "w").close()
            pack = [mapzip, "pack", os.path.join(game, "maps", "bench.pms"), "-o", ours,
                    "--level", "9", "--defaults", no_stock]
            tar = ["bsdtar", "-c", "-f", tar_zip, "--format", "zip", "--options",
                   "zip:compression-level=9", "-n", "-C", game, "-T", listing]
            (t_tar, t_ours), (s_tar, s_ours) = timed([(tar, tar_zip), (pack, ours)], args.runs)
            print("%s: %d files; bsdtar %.3f s, %d bytes; mapzip pack %.3f s, %d bytes"
                  % (name, len(files), t_tar, s_tar, t_ours, s_ours))
            check("time mapzip pack / bsdtar (level 9)", t_ours / t_tar, limit)
            check("size mapzip pack / bsdtar (level 9)", s_ours / s_tar, 1.00)
            check("peak RSS of mapzip pack, MiB", peak_kib(pack) / 1024, 40)
            # As on a machine with many cores: the engine's most workers.
            check("peak RSS, MiB (6 engine threads)",
                  peak_kib(pack + ["--engine-threads", "6"]) / 1024, 40)
            os.remove(ours)
    return targets.summary()


if __name__ == "__main__":
    sys.exit(main())
