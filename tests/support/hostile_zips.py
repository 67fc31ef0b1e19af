#!/usr/bin/env python3
"""Writes the archives an attacker would hand to mapzip verify, byte by byte, so that every
field can lie.

Usage: hostile_zips.py KIND PATH [SCALE]

KIND:
  negative-size  a deflated zip64 map entry whose size is 2^63 + 5 (negative as a signed size)
  stored-lie     a stored entry that claims 1 GiB for its 100 bytes
  deflate-lie    a deflated entry that claims more than its data can unpack to
  past-end       an entry whose data would reach past the end of the file
  short-lie      a deflated map that unpacks to more than the 10 bytes it claims
  overlap        SCALE records (default 2000) that all point at one deflated stream of 16 MiB
                 (or of SCALE2 MiB given as a second number: "2000:1024")
  many           SCALE entries (default 200000) whose data fails its CRC
  traversal      a map beside entries named ../../home/user/.bashrc, /etc/cron.d/x, a\\b, C:/x
  valid          a small, complete map archive (maps, readme, scenery, texture)
"""
import struct
import sys
import zlib

MAP_NAME = b"maps/hostile.pms"


def small_map():
    """A map laid out as the game writes it: texture t.png, one scenery a.png that one prop
    shows."""
    header = bytearray(92)
    header[0] = 11  # the version of every map
    header[4] = 7
    header[5:12] = b"Hostile"
    header[43] = 5
    header[44:49] = b"t.png"
    sectors = bytes(2 * 2601)
    prop = bytes([1, 0, 1, 0]) + bytes(40)  # active, style 1, level 0
    scenery = bytes([5]) + b"a.png".ljust(50, b"\0") + bytes(4)
    return (bytes(header) + bytes(8) + sectors + struct.pack("<i", 1) + prop +
            struct.pack("<i", 1) + scenery)


class Writer:
    def __init__(self, path):
        self.out = open(path, "wb")
        self.central = []
        self.count = 0

    def local(self, name, method, crc, csize, usize, data, zip64=False):
        """Writes one entry's local header and data; returns its offset."""
        offset = self.out.tell()
        extra = struct.pack("<HHQQ", 1, 16, usize, csize) if zip64 else b""
        small = (lambda v: 0xFFFFFFFF) if zip64 else (lambda v: v & 0xFFFFFFFF)
        self.out.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, method, 0, 0x21, crc,
                                   small(csize), small(usize), len(name), len(extra)))
        self.out.write(name + extra)
        self.out.write(data)
        return offset

    def record(self, name, method, crc, csize, usize, offset, zip64=False):
        """Adds a central directory record; it may point anywhere."""
        extra = struct.pack("<HHQQQ", 1, 24, usize, csize, offset) if zip64 else b""
        small = (lambda v: 0xFFFFFFFF) if zip64 else (lambda v: v & 0xFFFFFFFF)
        self.central.append(struct.pack(
            "<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, method, 0, 0x21, crc, small(csize),
            small(usize), len(name), len(extra), 0, 0, 0, 0, small(offset)) + name + extra)
        self.count += 1

    def entry(self, name, data, deflate=True, crc=None, usize=None, csize=None, zip64=False):
        packed = raw_deflate(data) if deflate else data
        crc = zlib.crc32(data) if crc is None else crc
        usize = len(data) if usize is None else usize
        csize = len(packed) if csize is None else csize
        offset = self.local(name, 8 if deflate else 0, crc, csize, usize, packed, zip64)
        self.record(name, 8 if deflate else 0, crc, csize, usize, offset, zip64)

    def close(self):
        start = self.out.tell()
        for record in self.central:
            self.out.write(record)
        size = self.out.tell() - start
        if self.count > 0xFFFF:
            at = self.out.tell()
            self.out.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, self.count,
                                       self.count, size, start))
            self.out.write(struct.pack("<IIQI", 0x07064B50, 0, at, 1))
            self.out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF,
                                       0xFFFFFFFF, 0xFFFFFFFF, 0))
        else:
            self.out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, self.count, self.count,
                                       size, start, 0))
        self.out.close()


def raw_deflate(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def zeros_deflated(megabytes):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    chunk = bytes(1 << 20)
    parts = [packer.compress(chunk) for _ in range(megabytes)]
    return b"".join(parts) + packer.flush(), zlib.crc32(bytes(0))


def write(kind, path, scale):
    z = Writer(path)
    the_map = small_map()
    if kind == "valid":
        z.entry(MAP_NAME, the_map)
        z.entry(b"maps/hostile_ReadMe.txt", b"readme")
        z.entry(b"scenery-gfx/a.png", b"a" * 100)
        z.entry(b"textures/t.png", b"t" * 100)
    elif kind == "negative-size":
        z.entry(MAP_NAME, the_map, usize=(1 << 63) + 5, zip64=True)
        z.entry(b"maps/hostile_ReadMe.txt", b"readme")
    elif kind == "stored-lie":
        z.entry(b"scenery-gfx/a.png", b"a" * 100, deflate=False, usize=1 << 30)
    elif kind == "deflate-lie":
        z.entry(b"scenery-gfx/a.png", b"a" * 100, usize=1 << 29)
    elif kind == "past-end":
        z.entry(b"textures/t.png", b"t" * 100, csize=1 << 40, zip64=True)
    elif kind == "short-lie":
        z.entry(MAP_NAME, the_map, usize=10)
    elif kind == "overlap":
        records, megabytes = (scale.split(":") + ["16"])[:2] if scale else ("2000", "16")
        stream, _ = zeros_deflated(int(megabytes))
        usize = int(megabytes) << 20
        crc = 0
        for _ in range(int(megabytes)):
            crc = zlib.crc32(bytes(1 << 20), crc)
        offset = z.local(MAP_NAME, 8, crc, len(stream), usize, stream, zip64=True)
        for i in range(int(records)):
            z.record(b"maps/m%d.pms" % i, 8, crc, len(stream), usize, offset, zip64=True)
    elif kind == "many":
        for i in range(int(scale or 200000)):
            z.entry(b"scenery-gfx/x%d.png" % i, b"x", deflate=False, crc=0)
    elif kind == "traversal":
        z.entry(MAP_NAME, the_map)
        for name in (b"../../home/user/.bashrc", b"/etc/cron.d/x", b"maps\\..\\y", b"C:/x",
                     b"maps/../../z"):
            z.entry(name, b"owned")
    else:
        raise SystemExit("unknown kind " + kind)
    z.close()


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    write(sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) == 4 else None)
