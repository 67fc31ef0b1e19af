#!/usr/bin/env python3
"""Times `mapzip verify` on archives made to hurt and prints time and memory against the
targets: each must end within 5 seconds, in under 200 MB, with a clear verdict (exit 0, 1 or
3; never a crash).

Usage: bench/hostile_bench.py [--build BUILD_FOLDER]

Builds nothing: build mapzip first. The archives are written by tests/support/hostile_zips.py
in a temporary folder (about 30 seconds, most of it deflating the 1 GiB stream) and removed
afterwards:
- negative-size, stored-lie, deflate-lie, past-end, short-lie: sizes that lie;
- overlap 400:60 and 2000:1024: 400 records on one 60 MB stream, 2,000 on one 1 GiB stream;
- many 200000: 200,000 entries whose data fails its CRC; many 65535, the most one may hold;
- traversal: entry names that would unpack outside the game folder.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
HOSTILE = os.path.join(SOURCE, "tests", "support", "hostile_zips.py")
DEFAULTS = os.path.join(SOURCE, "tests", "data", "defaults.txt")
CASES = [("negative-size", None), ("stored-lie", None), ("deflate-lie", None),
         ("past-end", None), ("short-lie", None), ("overlap", "400:60"),
         ("overlap", "2000:1024"), ("many", "200000"), ("many", "65535"), ("traversal", None)]
SECONDS = 5.0
MEGABYTES = 200.0


def verify(mapzip, archive):
    """Runs mapzip verify; returns exit status, wall seconds, peak memory in MB, last line."""
    start = time.perf_counter()
    process = subprocess.Popen([mapzip, "verify", archive, "--defaults", DEFAULTS],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    output = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    lines = output.decode(errors="replace").strip().splitlines()
    return process.returncode, seconds, usage.ru_maxrss / 1024.0, lines[-1] if lines else ""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build"))
    args = parser.parse_args()
    mapzip = os.path.join(args.build, "bin", "mapzip")
    if not os.access(mapzip, os.X_OK):
        sys.exit("no mapzip in %s/bin: build it first" % args.build)
    failed = False
    print("%-22s %8s %8s %6s %6s  %s" % ("archive", "seconds", "MB", "/5s", "/200MB", "verdict"))
    with tempfile.TemporaryDirectory(prefix="hostile-bench-") as folder:
        for kind, scale in CASES:
            name = kind + (" " + scale if scale else "")
            archive = os.path.join(folder, name.replace(" ", "-").replace(":", "x") + ".zip")
            subprocess.run([sys.executable, HOSTILE, kind, archive] + ([scale] if scale else []),
                           check=True)
            status, seconds, megabytes, verdict = verify(mapzip, archive)
            verdict = verdict.replace(folder + os.sep, "").replace("mapzip verify: ", "")
            ok = status in (0, 1, 3) and seconds < SECONDS and megabytes < MEGABYTES
            failed |= not ok
            print("%-22s %8.2f %8.1f %6.2f %6.2f  %s%s" % (
                name, seconds, megabytes, seconds / SECONDS, megabytes / MEGABYTES,
                "exit %d: %s" % (status, verdict[:90]), "" if ok else "  <- MISSED"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
