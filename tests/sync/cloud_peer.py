#!/usr/bin/env python3
"""Another machine's side of the cloud folder, independent of Quillary's code.

write FOLDER UUID TEXT MTIME [--archived] [--date D] [--no-uuid] [--name NAME] [--xml]
    Writes a note file the way file-sync tools deliver one: a hidden temporary
    file in the same folder, its modification time set (MTIME in seconds since
    1970, with fractions), then renamed into place.
read FILE
    Prints the file's entries and modification time as JSON.
"""
import json
import os
import plistlib
import sys
from decimal import Decimal


def write(args):
    folder, uuid, text, mtime = args[0], args[1], args[2], Decimal(args[3])
    flags = args[4:]
    note = {"archived": "--archived" in flags, "text": text}
    if "--no-uuid" not in flags:
        note["uuid"] = uuid
    if "--date" in flags:
        note["date"] = float(flags[flags.index("--date") + 1])
    name = flags[flags.index("--name") + 1] if "--name" in flags else uuid + ".quillary"
    fmt = plistlib.FMT_XML if "--xml" in flags else plistlib.FMT_BINARY
    os.makedirs(folder, exist_ok=True)
    temporary = os.path.join(folder, ".peer-" + name + ".tmp")
    with open(temporary, "wb") as f:
        plistlib.dump(note, f, fmt=fmt)
    ns = int(mtime * 1000000000)
    os.utime(temporary, ns=(ns, ns))
    os.replace(temporary, os.path.join(folder, name))


def read(args):
    path = args[0]
    with open(path, "rb") as f:
        note = plistlib.load(f)
    note["mtime"] = os.stat(path).st_mtime_ns / 1e9
    note["binary"] = open(path, "rb").read(8) == b"bplist00"
    print(json.dumps(note, sort_keys=True))


if __name__ == "__main__":
    {"write": write, "read": read}[sys.argv[1]](sys.argv[2:])
