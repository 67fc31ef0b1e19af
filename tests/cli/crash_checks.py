#!/usr/bin/env python3
"""mapzip pack against a failing system and against being killed.

Usage: crash_checks.py faults|kills|stops --mapzip MAPZIP --shim FAULTSHIM --data TEST_DATA

faults: about 190 runs of `mapzip pack`, each with an injected I/O fault (FAULTSHIM, built from
  tests/support/faultshim.c): ENOSPC, EIO or a short transfer on the Nth write, read, open, sync,
  rename, link, close, unlink or mkdir, N spread over the calls a clean run makes, in each of
  the three ways an archive reaches its target: the staged archive itself (same file system),
  a copy without a name, a copy with a temporary name (where unnamed files are refused). Each
  run must end with 0 and the clean run's archive at the target byte for byte, or with 1 and the
  earlier archive there unchanged (an I/O error is never a gap, exit 3); it must not crash, and
  must leave nothing beside the target or in the temporary folder. The archive is synced to the
  disk on its way to the target, and a failing sync fails the run. Then: a temporary folder
  too small (2 MiB) for a 4 MiB scenery must end with 1, "No space left on device" and the
  earlier archive byte for byte; 30 packs while a scenery on another file system is rewritten
  in place must never end with 0 and an archive that holds a version that was never whole on
  disk; a termination that comes as the archive is renamed into place must end with 0 and the
  sha1 line: the archive was delivered.
kills: 12 runs on a heavy map killed (SIGKILL) at random instants, in the same three ways, and 2
  batches killed while their builds run, whose builds must then clean up by themselves. A later
  run must leave nothing but archives every reader accepts in the output folder, and nothing in
  the temporary folder. Then 18 runs stopped by SIGINT, SIGTERM or SIGHUP: half of them in the
  first 50 ms, while mapzip starts, half at a random instant after the run has made its staging
  folder; and one whose output pipe is closed. Each must end with 128 + the signal's number
  and leave nothing behind, or, when the archive was already in place, end as a run that
  delivered it. Nothing waits a fixed time for mapzip to get somewhere: the checks wait for
  what it makes, so that a loaded machine slows them down without failing them.
stops (not run by the tests, for a manual check): 40 runs of a 48 MiB pack stopped by SIGINT or
  SIGTERM at random instants. Each must end with 130 or 143 and the earlier archive as it was,
  or, stopped after the archive was renamed into place, with 0 and the new archive.
Prints what failed and exits 1, or a summary and exits 0.
"""
import argparse
import concurrent.futures
import hashlib
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

ERRORS = {"write": ["ENOSPC", "EIO", "SHORT"], "read": ["EIO", "SHORT"],
          "open": ["ENOSPC", "EIO"], "sync": ["EIO", "ENOSPC"], "rename": ["EIO", "ENOSPC"],
          "link": ["EIO", "ENOSPC"], "close": ["EIO"], "unlink": ["EIO"],
          "mkdir": ["ENOSPC", "EIO"]}
SPREAD = 4  # calls of each kind that fail, spread over those a clean run makes
NAMED = "tmpfile:1:EOPNOTSUPP:sticky"  # no unnamed files: the named fallback


class Setup:
    def __init__(self, args, work):
        self.args, self.work = args, work
        self.map = os.path.join(args.data, "soldat", "maps", "ctf_Viet.pms")
        self.defaults = os.path.join(args.data, "defaults.txt")
        # A second file system for the output folder, so that the archive must be copied there:
        # /dev/shm where it has room, else a file system of our own (the superuser may mount one).
        self.other, self.mounted = os.path.join(work, "other"), False
        os.makedirs(self.other)
        shm = os.statvfs("/dev/shm") if os.path.isdir("/dev/shm") else None
        if shm and shm.f_bavail * shm.f_frsize >= 256 << 20 and \
                os.stat("/dev/shm").st_dev != os.stat(work).st_dev:
            self.other = tempfile.mkdtemp(prefix="crash-checks-", dir="/dev/shm")
        else:
            self.mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256m", "tmpfs",
                                           self.other], capture_output=True).returncode == 0
            if not self.mounted:
                print("note: no second file system here: every archive is delivered from the "
                      "same one, so the copies beside the target are not made")

    def close(self):
        if self.mounted:
            subprocess.run(["umount", self.other])
        elif not self.other.startswith(self.work):
            shutil.rmtree(self.other, ignore_errors=True)

    def ways(self):
        """The three ways to the target: (name, the output folder's parent, faults)."""
        return [("linked", self.work, ""), ("unnamed", self.other, ""),
                ("named", self.other, NAMED)]

    def run(self, command, temp, faults="", counts=None, timeout=60):
        environment = dict(os.environ, TMPDIR=temp, LD_PRELOAD=self.args.shim, FAULTS=faults)
        if counts:
            environment["FAULT_COUNTS"] = counts
        return subprocess.run(command, env=environment, capture_output=True, timeout=timeout)

    def pack(self, target, extra=()):
        return [self.args.mapzip, "pack", self.map, "-o", target, "--defaults", self.defaults,
                "-q", *extra]  # a later --defaults wins


def sha1(path):
    with open(path, "rb") as file:
        return hashlib.sha1(file.read()).hexdigest()


def readers_accept(path):
    """Python's zipfile and unzip -t read every entry."""
    try:
        with zipfile.ZipFile(path) as archive:
            if archive.testzip() is not None:
                return False
    except (zipfile.BadZipFile, OSError):
        return False
    return subprocess.run(["unzip", "-tq", path], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def listing(folder):
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


def tree(folder):
    """Every file and folder under `folder`, with the lock files' content."""
    found = []
    for parent, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(parent, name)
            found.append(os.path.relpath(path, folder))
            if name.endswith(".lock"):
                with open(path, "rb") as file:
                    found[-1] += " %r" % file.read(40)
    return ", ".join(sorted(found))


def faults(setup):
    problems = []
    reference = os.path.join(setup.work, "reference.zip")
    earlier = os.path.join(setup.work, "earlier.zip")
    # A stock list that cannot be read is warned about, and stock sceneries are packed too.
    with_stock = os.path.join(setup.work, "with-stock.zip")
    clean = [setup.run(setup.pack(reference), setup.work),
             setup.run(setup.pack(with_stock, ["--defaults", setup.work + "/none"]), setup.work),
             setup.run([setup.args.mapzip, "pack", os.path.join(
                 setup.args.data, "soldat", "maps", "htf_Dorothy.pms"), "-o", earlier, "-q"],
                       setup.work)]
    if any(run.returncode != 0 for run in clean) or not readers_accept(reference) or \
            not readers_accept(with_stock):
        return ["the clean runs failed: " + b"".join(run.stderr for run in clean).decode()]
    expected, stock_packed, before = sha1(reference), sha1(with_stock), sha1(earlier)
    stock_warning = b"Stock sceneries will be packed too."

    plan = []
    for way, parent, named in setup.ways():
        counts_file = os.path.join(setup.work, "counts-" + way)
        out = tempfile.mkdtemp(dir=parent)
        setup.run(setup.pack(os.path.join(out, "map.zip")), tempfile.mkdtemp(dir=setup.work),
                  named, counts_file)
        shutil.rmtree(out)
        with open(counts_file) as file:
            counts = {kind: int(count) for kind, count in (line.split() for line in file)}
        if not counts.get("sync"):
            problems.append("%s: the archive reached its target without a sync to the disk" % way)
        for kind, errors in ERRORS.items():
            total = counts.get(kind, 0)
            spots = sorted({1 + (total - 1) * i // max(1, SPREAD - 1) for i in range(SPREAD)}) \
                if total else []
            plan += [(way, parent, named, "%s:%d:%s" % (kind, n, error))
                     for error in errors for n in spots]
        # From some write on, the disk stays full.
        plan += [(way, parent, named, "write:%d:ENOSPC:sticky" % n)
                 for n in (1, counts["write"] // 3, 2 * counts["write"] // 3, counts["write"])]

    def one(way, parent, named, fault):
        out, temp = tempfile.mkdtemp(dir=parent), tempfile.mkdtemp(dir=setup.work)
        target = os.path.join(out, "map.zip")
        shutil.copyfile(earlier, target)
        what = "%s, %s" % (way, fault)
        try:
            result = setup.run(setup.pack(target), temp, ";".join(filter(None, [named, fault])))
        except subprocess.TimeoutExpired:
            return None, [what + ": did not end"]
        found = []
        status, now = result.returncode, sha1(target)
        # Only the archive on its way to the target is synced: an archive not surely on the
        # disk is no success.
        if fault.startswith("sync:") and status != 1:
            found.append("exit %d after a failed sync" % status)
        if status == 0 and now != expected and \
                (now != stock_packed or stock_warning not in result.stderr):
            found.append("exit 0, but the archive is not the clean run's")
        elif status == 3:
            found.append("exit 3: an I/O error was reported as a gap: " +
                         result.stderr.decode(errors="replace")[-300:])
        elif status == 1 and now not in (before, expected):
            # Delivered, and then the sha1 line could not be printed: a failure all the same.
            found.append("exit 1, and the earlier archive was damaged")
        elif status not in (0, 1, 3):
            found.append("exit %d: %s" % (status, result.stderr.decode(errors="replace")[-300:]))
        left = [name for name in listing(out) if name != "map.zip"] + listing(temp)
        if left:
            found.append("left behind: " + ", ".join(left))
        shutil.rmtree(out, ignore_errors=True)
        shutil.rmtree(temp, ignore_errors=True)
        return status, ["%s: %s" % (what, problem) for problem in found]

    statuses = {}
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        runs = [pool.submit(one, *spec) for spec in plan]
        for run in runs:
            status, found = run.result()
            statuses[status] = statuses.get(status, 0) + 1
            problems += found
    print("%d runs with injected faults (%s); exit statuses: %s" % (len(plan), ", ".join(
        "%s %d" % (way, sum(spec[0] == way for spec in plan)) for way, _, _ in setup.ways()),
        ", ".join("%s %d times" % item for item in sorted(statuses.items(), key=str))))
    return problems + full_disk(setup) + rewrites(setup) + late_stop(setup, expected)


def full_disk(setup):
    """A temporary folder too small for the map's scenery."""
    game = os.path.join(setup.work, "full-game")
    map_path = heavy_game(game, count=1, megabytes=4)[0]
    temp = tempfile.mkdtemp(dir=setup.work)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", temp],
                      capture_output=True).returncode != 0:
        print("note: no tmpfs could be mounted; the full disk is skipped")
        return []
    try:
        target = os.path.join(setup.work, "full.zip")
        with open(target, "wb") as out:
            out.write(b"the earlier archive")
        run = setup.run([setup.args.mapzip, "pack", map_path, "-o", target, "-q",
                         "--defaults", setup.defaults], temp)
        problems = []
        if run.returncode != 1 or b"No space left on device" not in run.stderr:
            problems.append("full disk: exit %d: %s" % (run.returncode, run.stderr.decode()))
        if sha1(target) != hashlib.sha1(b"the earlier archive").hexdigest():
            problems.append("full disk: the earlier archive was replaced")
        if listing(temp):
            problems.append("full disk: left " + tree(temp))
        print("a 4 MiB scenery and a 2 MiB temporary folder: exit %d" % run.returncode)
        return problems
    finally:
        subprocess.run(["umount", temp])


def rewrites(setup, packs=30):
    """Packs while a scenery on another file system (so that it is copied) is rewritten in
    place, again and again, in pieces."""
    game = tempfile.mkdtemp(dir=setup.other)
    map_path = heavy_game(game, count=1, megabytes=4)[0]
    scenery = os.path.join(game, "scenery-gfx", "big0.bmp")
    versions = [bytes([0x41 + i]) * (4 << 20) for i in range(2)]
    with open(scenery, "wb") as out:
        out.write(versions[0])
    done = threading.Event()
    # When the writer was held up (a loaded machine) in the middle of a rewrite long enough for
    # mapzip to take the file as written whole: what is on disk then is a state of the file.
    held_up = []

    def rewrite():
        """Truncates and rewrites it in pieces over some 40 ms, then leaves it alone a while."""
        turn, rng = 0, random.Random(3)
        while not done.is_set():
            turn += 1
            with open(scenery, "r+b") as out:
                last = time.monotonic()
                out.truncate(0)
                for at in range(0, len(versions[0]), 256 << 10):
                    out.write(versions[turn % 2][at:at + (256 << 10)])
                    out.flush()
                    now = time.monotonic()
                    if now - last > 0.09:
                        held_up.append((last, now))
                    time.sleep(0.0025)
                    last = time.monotonic()
            done.wait(rng.uniform(0, 0.25))

    writer = threading.Thread(target=rewrite)
    writer.start()
    statuses, problems = {}, []
    try:
        for i in range(packs):
            target = os.path.join(setup.work, "rewritten%d.zip" % i)
            started = time.monotonic()
            run = setup.run([setup.args.mapzip, "pack", map_path, "-o", target, "-q",
                             "--defaults", setup.defaults], tempfile.mkdtemp(dir=setup.work))
            ended = time.monotonic()
            statuses[run.returncode] = statuses.get(run.returncode, 0) + 1
            if run.returncode == 0:
                with zipfile.ZipFile(target) as archive:
                    whole = archive.read("scenery-gfx/big0.bmp") in versions
                if not whole and any(a < ended and b > started for a, b in held_up):
                    statuses["writer held up"] = statuses.get("writer held up", 0) + 1
                elif not whole:
                    problems.append("rewrites: exit 0 with a scenery never whole on disk")
            elif run.returncode != 1:
                problems.append("rewrites: exit %d: %s" % (run.returncode, run.stderr.decode()))
    finally:
        done.set()
        writer.join()
        shutil.rmtree(game, ignore_errors=True)
    print("%d packs under in-place rewrites: exit statuses %s" % (packs, ", ".join(
        "%s %d times" % item for item in sorted(statuses.items(), key=str))))
    return problems


def late_stop(setup, expected):
    """SIGTERM right after the rename that puts the archive in place."""
    counts = os.path.join(setup.work, "counts-late")
    target = os.path.join(setup.work, "late.zip")
    setup.run(setup.pack(target), tempfile.mkdtemp(dir=setup.work), "", counts)
    os.remove(target)
    with open(counts) as file:
        renames = dict(line.split() for line in file)["rename"]
    run = setup.run(setup.pack(target), tempfile.mkdtemp(dir=setup.work),
                    "rename:%s:SIGTERM" % renames)
    if run.returncode != 0 or not run.stdout.startswith(b"sha1 ") or sha1(target) != expected:
        return ["a stop after the archive was in place: exit %d, %r" % (run.returncode,
                                                                       run.stdout)]
    return []


def write_map(path, sceneries, texture):
    """A map with no geometry that places each scenery once."""
    def text(value, size):
        raw = value.encode("cp1252")[:size]
        return bytes([len(raw)]) + raw.ljust(size, b"\0")

    data = bytearray(struct.pack("<i", 11)) + text("Heavy map", 38) + text(texture, 24) + bytes(20)
    data += struct.pack("<i", 0) + bytes(8) + bytes(2 * 2601)
    # One drawn prop (active, level 0) for each scenery, so that the game loads every one.
    data += struct.pack("<i", len(sceneries))
    for style in range(1, len(sceneries) + 1):
        data += struct.pack("<BxHii5fB3x4sB3x", 1, style, 64, 64, 0, 0, 0, 1, 1, 255, b"\xff" * 4, 0)
    data += struct.pack("<i", len(sceneries))
    for name in sceneries:
        data += text(name, 50) + bytes(4)
    with open(path, "wb") as out:
        out.write(data)


def heavy_game(folder, count=4, megabytes=4):
    """A game folder whose map brings `count` large sceneries that deflate to about a third."""
    for name in ("maps", "scenery-gfx", "textures"):
        os.makedirs(os.path.join(folder, name))
    rng = random.Random(5)
    grain = bytes(min(255, max(0, 128 + int(rng.gauss(0, 6)))) for _ in range(256))
    names = ["big%d.bmp" % i for i in range(count)]
    for name in names:
        with open(os.path.join(folder, "scenery-gfx", name), "wb") as out:
            out.write(rng.randbytes(megabytes << 20).translate(grain))
    with open(os.path.join(folder, "textures", "ground.bmp"), "wb") as out:
        out.write(b"BM" + bytes(5000))
    maps = []
    for map_name in ("heavy", "heavy2"):
        maps.append(os.path.join(folder, "maps", map_name + ".pms"))
        write_map(maps[-1], names, "ground.bmp")
    # And a light one, for runs that only have to clean up after others.
    maps.append(os.path.join(folder, "maps", "light.pms"))
    write_map(maps[-1], [], "ground.bmp")
    return maps


def kills(setup):
    problems = []
    maps = heavy_game(os.path.join(setup.work, "game"))
    no_stock = os.path.join(setup.work, "no-stock.txt")
    open(no_stock, "w").close()
    temp = tempfile.mkdtemp(dir=setup.work)
    outs = {way: tempfile.mkdtemp(dir=parent) for way, parent, _ in setup.ways()}

    def command(target, map_path=maps[0]):
        return [setup.args.mapzip, "pack", map_path, "--defaults", no_stock, "-q", "-o", target]

    # The archive of another map is at the target first; a kill leaves it, or puts there the
    # one a run that is not killed delivers.
    earlier = os.path.join(setup.work, "earlier.zip")
    clean = os.path.join(outs["named"], "clean.zip")
    started = time.monotonic()
    runs = [setup.run(command(earlier, maps[1]), temp)]
    linked = time.monotonic() - started  # the fastest way
    started = time.monotonic()
    runs.append(setup.run(command(clean), temp, NAMED))  # the slowest way
    duration = time.monotonic() - started
    if any(run.returncode != 0 for run in runs):
        return ["the clean runs failed: " + b"".join(run.stderr for run in runs).decode()]
    allowed = [sha1(earlier), sha1(clean)]
    os.remove(clean)  # room on the second file system
    rng = random.Random()
    delivered = 0
    for i in range(12):
        way, _, named = setup.ways()[i % 3]
        target = os.path.join(outs[way], "map.zip")
        shutil.copyfile(earlier, target)
        environment = dict(os.environ, TMPDIR=temp, LD_PRELOAD=setup.args.shim, FAULTS=named)
        run = subprocess.Popen(command(target), env=environment, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0, duration))
        run.kill()
        run.wait()
        now = sha1(target)
        delivered += now == allowed[1]
        if now not in allowed:
            problems.append("a kill (%s) damaged the archive at the target" % way)

    # A batch killed outright: its builds get a termination request and clean up by themselves.
    batch_temp = tempfile.mkdtemp(dir=setup.work)
    for i in range(2):
        batch = subprocess.Popen(
            [setup.args.mapzip, "pack", *maps[:2], "-d", os.path.join(setup.work, "batch%d" % i),
             "--defaults", no_stock, "-q"], env=dict(os.environ, TMPDIR=batch_temp),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Killed once its builds are at work: each has made its staging folder.
        until(lambda: len(listing(batch_temp)) >= 2 or batch.poll() is not None)
        batch.kill()
        batch.wait()
        until(lambda: not listing(batch_temp), 30)
        if listing(batch_temp):
            problems.append("the builds of a killed batch left " + tree(batch_temp))

    # What the kills left, for the later runs to remove.
    left = len(listing(temp))
    parts = sum(".mapzip-part-" in name for out in outs.values() for name in listing(out))
    for way, out in outs.items():
        later = setup.run(command(os.path.join(out, "later.zip"), maps[2]), temp)
        if later.returncode != 0:
            problems.append("the later run (%s) failed: %s" % (way, later.stderr.decode()))
        for name in listing(out):
            if not name.endswith(".zip") or name.startswith("."):
                problems.append("left in the output folder (%s): %s" % (way, name))
            elif not readers_accept(os.path.join(out, name)):
                problems.append("a damaged archive (%s): %s" % (way, name))
    if listing(temp):
        problems.append("left in the temporary folder: " + tree(temp))
    os.makedirs(os.path.join(setup.work, "stopped"))
    problems += stops(command, temp, os.path.join(setup.work, "stopped"), linked)
    print("12 runs killed at random instants of a %.1f s run (%d of them had delivered), 2 "
          "batches killed; left for the later runs: %d staging folders, %d unfinished archives "
          "(each run also removes what the kills before it left)"
          % (duration, delivered, left, parts))
    return problems


def until(condition, limit=60):
    """Waits for `condition` to hold, looking every few milliseconds; False after `limit`
    seconds."""
    deadline = time.monotonic() + limit
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.005)
    return True


def stops(command, temp, out, linked):
    """Runs stopped at random instants, and one whose reader goes away. `linked`: how long a
    run takes."""
    problems = []
    rng = random.Random()
    environment = dict(os.environ, TMPDIR=temp)

    def check(what, status, expected, target):
        # Stopped before its archive was in place: nothing is left. After: it was delivered.
        if status in (0, 3) and readers_accept(target):
            os.remove(target)
        elif status != expected:
            problems.append("%s: exit %d, not %d" % (what, status, expected))
        if os.path.exists(target) or listing(temp):
            problems.append("%s: left %s" % (what, ", ".join(
                listing(temp) + [os.path.basename(target)] * os.path.exists(target))))

    for i in range(18):
        sig = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)[i % 3]
        target = os.path.join(out, "stopped%d.zip" % i)
        run = subprocess.Popen(command(target), env=environment, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        # Early, while mapzip starts, or once it has made its staging folder.
        early = i % 2 == 1
        if early:
            time.sleep(rng.uniform(0, 0.05))
        elif not until(lambda: listing(temp) or run.poll() is not None):
            problems.append("%s: no staging folder within a minute" % sig.name)
        else:
            time.sleep(rng.uniform(0, linked / 3))
        run.send_signal(sig)
        status = run.wait()
        # Before mapzip's own code runs, while the system loads its libraries, the signal ends
        # it the system's way, which a shell reports as 128 + N too.
        if early and status == -sig:
            status = 128 + sig
        check("%s after %s" % (sig.name, "start" if early else "a while"), status, 128 + sig,
              target)
    # `mapzip pack ... | head -1`: the reader leaves after the first line.
    target = os.path.join(out, "piped.zip")
    run = subprocess.Popen([arg for arg in command(target) if arg != "-q"], env=environment,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    run.stdout.readline()
    run.stdout.close()
    check("a closed pipe", run.wait(), 128 + signal.SIGPIPE, target)
    return problems


def stops_heavy(setup, runs=40):
    """A 48 MiB pack stopped at random instants."""
    maps = heavy_game(os.path.join(setup.work, "game"), count=6)
    temp, problems, statuses = tempfile.mkdtemp(dir=setup.work), [], {}
    target = os.path.join(setup.work, "map.zip")
    command = [setup.args.mapzip, "pack", maps[0], "-o", target, "-q", "--defaults",
               setup.defaults]
    started = time.monotonic()
    setup.run(command, temp)
    duration, new = time.monotonic() - started, sha1(target)
    rng = random.Random()
    for i in range(runs):
        with open(target, "wb") as out:
            out.write(b"the earlier archive")
        run = subprocess.Popen(command, env=dict(os.environ, TMPDIR=temp),
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0, duration * 1.1))
        sig = (signal.SIGINT, signal.SIGTERM)[i % 2]
        run.send_signal(sig)
        out, _ = run.communicate()
        status, now = run.returncode, sha1(target)
        if status == -sig:  # before mapzip's own code ran: the system's way, 128 + N in a shell
            status = 128 + sig
        statuses[status] = statuses.get(status, 0) + 1
        if status == 128 + sig and now != hashlib.sha1(b"the earlier archive").hexdigest():
            problems.append("%s: exit %d, but the earlier archive was replaced" % (sig.name,
                                                                                  status))
        elif status == 0 and (now != new or not out.startswith(b"sha1 ")):
            problems.append("%s: exit 0 without the new archive and its sha1 line" % sig.name)
        elif status not in (0, 128 + sig):
            problems.append("%s: exit %d" % (sig.name, status))
    print("%d runs of a %.1f s pack stopped at random instants: exit statuses %s" % (
        runs, duration, ", ".join("%d %d times" % item for item in sorted(statuses.items()))))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("check", choices=["faults", "kills", "stops"])
    parser.add_argument("--mapzip", required=True)
    parser.add_argument("--shim", required=True)
    parser.add_argument("--data", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="crash-checks-") as work:
        setup = Setup(args, work)
        try:
            problems = {"faults": faults, "kills": kills, "stops": stops_heavy}[args.check](setup)
        finally:
            setup.close()
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
