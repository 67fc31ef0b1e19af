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
  short-lie-big  a deflated scenery of 6 MiB that claims 5 MiB (too big to be unpacked whole)
  long-lie       a deflated scenery that unpacks to fewer bytes than it claims, with their CRC
  stored-long    a stored scenery of 200 bytes that claims 100, with the CRC of the first 100
  crypt-long     an encrypted stored scenery with 100 bytes more than its size and header
  nested         an entry whose header and data lie inside a stored entry's data
  touching       an entry whose header begins on the last byte of the entry before it
  into-directory a deflated texture whose data runs one byte into the central directory
  at-limit       two deflated sceneries that claim 1 GiB together (their data unpacks to nothing)
  over-limit     the same, claiming one byte more
  zip64          the valid archive with every size and place in zip64 fields and end records
  zip64-offset   the valid archive whose records hold only their places in zip64 fields
  descriptor     the valid archive with CRCs and sizes in data descriptors after the data
  descriptor-lie the same, one descriptor giving a CRC its directory record does not
  duplicate      the valid archive with its scenery there three times
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


ALL64 = ("usize", "csize", "offset")  # the fields a zip64 record may hold, in their order
DESCRIPTOR = 8  # the flag: CRC and sizes follow the data


def local_header(name, method, crc, csize, usize, zip64=False, flags=0):
    extra = struct.pack("<HHQQ", 1, 16, usize, csize) if zip64 else b""
    small = (lambda v: 0xFFFFFFFF) if zip64 else (lambda v: v & 0xFFFFFFFF)
    if flags & DESCRIPTOR:
        crc, csize, usize = 0, 0, 0
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, flags, method, 0, 0x21, crc, small(csize),
                       small(usize), len(name), len(extra)) + name + extra


class Writer:
    def __init__(self, path):
        self.out = open(path, "wb")
        self.central = []
        self.count = 0

    def local(self, name, method, crc, csize, usize, data, zip64=False, flags=0):
        """Writes one entry's local header and data (and data descriptor); returns its
        offset."""
        offset = self.out.tell()
        self.out.write(local_header(name, method, crc, csize, usize, zip64, flags) + data)
        if flags & DESCRIPTOR:
            self.out.write(struct.pack("<IIII", 0x08074B50, crc, csize, usize))
        return offset

    def record(self, name, method, crc, csize, usize, offset, zip64=(), flags=0):
        """Adds a central directory record; it may point anywhere. `zip64` names the values
        that go to its zip64 field (True: all of them)."""
        wide = ALL64 if zip64 is True else (zip64 or ())
        values = {"usize": usize, "csize": csize, "offset": offset}
        extra = struct.pack("<HH", 1, 8 * len(wide)) + b"".join(
            struct.pack("<Q", values[field]) for field in ALL64 if field in wide) if wide else b""
        small = {field: 0xFFFFFFFF if field in wide else values[field] & 0xFFFFFFFF
                 for field in ALL64}
        self.central.append(struct.pack(
            "<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, flags, method, 0, 0x21, crc,
            small["csize"], small["usize"], len(name), len(extra), 0, 0, 0, 0,
            small["offset"]) + name + extra)
        self.count += 1

    def entry(self, name, data, deflate=True, crc=None, usize=None, csize=None, zip64=False,
              flags=0, record64=None, method=None):
        packed = raw_deflate(data) if deflate else data
        crc = zlib.crc32(data) if crc is None else crc
        usize = len(data) if usize is None else usize
        csize = len(packed) if csize is None else csize
        method = (8 if deflate else 0) if method is None else method
        offset = self.local(name, method, crc, csize, usize, packed, zip64, flags)
        self.record(name, method, crc, csize, usize, offset,
                    zip64 if record64 is None else record64, flags)

    def close(self, zip64=False):
        start = self.out.tell()
        for record in self.central:
            self.out.write(record)
        size = self.out.tell() - start
        if self.count > 0xFFFF or zip64:
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


def valid(z, **how):
    z.entry(MAP_NAME, small_map(), **how)
    z.entry(b"maps/hostile_ReadMe.txt", b"readme", **how)
    z.entry(b"scenery-gfx/a.png", b"a" * 100, **how)
    z.entry(b"textures/t.png", b"t" * 100, **how)


def inside(z, at, outer_size=None):
    """A stored entry of `outer_size` bytes (default: all that follows) whose data holds,
    from byte `at` on, the header and data of another entry."""
    inner, name = b"a" * 100, b"textures/t.png"
    body = b"t" * at + local_header(b"scenery-gfx/a.png", 0, zlib.crc32(inner), len(inner),
                                    len(inner)) + inner + b"t" * 50
    outer = body[:outer_size]
    offset = z.local(name, 0, zlib.crc32(outer), len(outer), len(outer), body)
    z.record(name, 0, zlib.crc32(outer), len(outer), len(outer), offset)
    z.record(b"scenery-gfx/a.png", 0, zlib.crc32(inner), len(inner), len(inner),
             offset + 30 + len(name) + at)


def claiming(z, sizes):
    """Deflated entries that claim `sizes` and hold an empty stream, padded as if it were
    data enough for that."""
    for i, size in enumerate(sizes):
        z.entry(b"scenery-gfx/x%d.png" % i, raw_deflate(b"").ljust(600 << 10, b"\0"),
                deflate=False, method=8, crc=0, usize=size)


def write(kind, path, scale):
    z = Writer(path)
    the_map = small_map()
    big = bytes(range(256)) * (6 << 12)  # 6 MiB
    zip64_end = kind == "zip64"
    if kind == "valid":
        valid(z)
    elif kind == "zip64":
        valid(z, zip64=True)
    elif kind == "zip64-offset":
        valid(z, record64=("offset",))
    elif kind == "descriptor":
        valid(z, flags=DESCRIPTOR)
    elif kind == "descriptor-lie":
        valid(z, flags=DESCRIPTOR)
        # The scenery's descriptor, the third: its CRC changed.
        z.out.flush()
        with open(path, "rb") as written:
            at = written.read().replace(b"PK\7\x08", b"PK\7\0", 2).index(b"PK\7\x08")
        z.out.seek(at + 4)
        z.out.write(b"\0\0\0\0")
        z.out.seek(0, 2)
    elif kind == "duplicate":
        valid(z)
        for _ in range(2):
            z.entry(b"scenery-gfx/a.png", b"a" * 100)
    elif kind == "short-lie-big":
        z.entry(b"scenery-gfx/a.png", big, usize=5 << 20)
    elif kind == "long-lie":
        z.entry(b"scenery-gfx/a.png", b"a" * 100, usize=150)
    elif kind == "stored-long":
        z.entry(b"scenery-gfx/a.png", b"a" * 200, deflate=False, crc=zlib.crc32(b"a" * 100),
                usize=100)
    elif kind == "crypt-long":
        z.entry(b"scenery-gfx/a.png", bytes(212), deflate=False, usize=100, flags=1)
    elif kind == "nested":
        inside(z, 50)
    elif kind == "touching":
        inside(z, 99, 100)
    elif kind == "into-directory":
        z.entry(b"textures/t.png", b"t" * 100, csize=len(raw_deflate(b"t" * 100)) + 1)
    elif kind == "at-limit":
        claiming(z, [1 << 29, 1 << 29])
    elif kind == "over-limit":
        claiming(z, [1 << 29, (1 << 29) + 1])
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
    z.close(zip64_end)


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    write(sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) == 4 else None)
