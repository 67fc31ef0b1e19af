#!/usr/bin/env python3
"""Lists a ZIP archive with Python's zipfile and prints the result as one JSON object.

Usage: zipcheck.py ARCHIVE [--password-hex HEX]

Output: {"ok": bool, "error": str, "comment_hex": str, "entries": [{"name", "size",
"compressed_size", "crc", "compress_type", "encrypted", "date_time", "mode"}],
"data_checked": bool, "bad_entry": str}. Every entry's data is read (so zipfile checks its CRC) unless entries are
encrypted and no password is given. ok is false when the archive cannot be opened or an
entry's data is wrong (bad CRC, wrong password).
"""
import json
import sys
import zipfile


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--password-hex"):
        print(__doc__, file=sys.stderr)
        return 2
    path = argv[1]
    password = bytes.fromhex(argv[3]) if len(argv) == 4 else b""
    result = {"ok": False, "error": "", "comment_hex": "", "entries": [],
              "data_checked": False, "bad_entry": ""}
    try:
        with zipfile.ZipFile(path) as archive:
            result["comment_hex"] = archive.comment.hex()
            infos = archive.infolist()
            for info in infos:
                result["entries"].append({
                    "name": info.filename,
                    "size": info.file_size,
                    "compressed_size": info.compress_size,
                    "crc": info.CRC,
                    "compress_type": info.compress_type,
                    "encrypted": bool(info.flag_bits & 0x1),
                    "date_time": list(info.date_time),
                    "mode": info.external_attr >> 16,  # the Unix file type and permissions
                })
            encrypted = any(info.flag_bits & 0x1 for info in infos)
            if encrypted and not password:
                result["ok"] = True
                return finish(result)
            result["data_checked"] = True
            for info in infos:
                try:
                    archive.read(info, pwd=password or None)
                except (RuntimeError, zipfile.BadZipFile, OSError, ValueError) as error:
                    result["bad_entry"] = info.filename
                    result["error"] = str(error)
                    return finish(result)
            result["ok"] = True
    except (zipfile.BadZipFile, OSError, ValueError) as error:
        result["error"] = str(error)
    return finish(result)


def finish(result):
    print(json.dumps(result))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
