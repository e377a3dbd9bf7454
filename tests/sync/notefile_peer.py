#!/usr/bin/env python3
"""An independent writer and reader of note files, built on plistlib.

  notefile_peer.py write DIR   writes one file per case into DIR
  notefile_peer.py read FILE   prints the file's entries and mtime as JSON
"""
import json
import os
import plistlib
import sys

MTIME_NS = 1700000000123456789
UUID = "0F8E4C2A-1B3D-4E5F-8A9B-0C1D2E3F4A5B"
LONG = ("Zeile \u00e4\u00f6\u00fc \U0001F600 " * 40000) + "end"

# name -> (root object, format)
CASES = {
    "full_bin": ({"uuid": UUID, "archived": True, "date": 1234567890.25, "text": "a\nb"}, plistlib.FMT_BINARY),
    "full_xml": ({"uuid": UUID, "archived": False, "date": 1234567890.25, "text": "a\nb"}, plistlib.FMT_XML),
    "empty_dict": ({}, plistlib.FMT_BINARY),
    "unknown_keys": ({"uuid": UUID, "text": "t", "colour": "red", "modified": 5.0}, plistlib.FMT_BINARY),
    "lower_uuid": ({"uuid": UUID.lower(), "text": "t"}, plistlib.FMT_XML),
    "date_integer": ({"uuid": UUID, "date": 7}, plistlib.FMT_BINARY),
    "archived_int_nonzero": ({"uuid": UUID, "archived": 2}, plistlib.FMT_BINARY),
    "archived_real_zero": ({"uuid": UUID, "archived": 0.0}, plistlib.FMT_XML),
    "archived_string": ({"uuid": UUID, "archived": "yes"}, plistlib.FMT_BINARY),
    "non_ascii": ({"uuid": UUID, "text": "Gr\u00fc\u00dfe \u2014 \u65e5\u672c \U0001F600"}, plistlib.FMT_BINARY),
    "non_ascii_xml": ({"uuid": UUID, "text": "Gr\u00fc\u00dfe \u2014 \u65e5\u672c \U0001F600"}, plistlib.FMT_XML),
    "long_text": ({"uuid": UUID, "text": LONG}, plistlib.FMT_BINARY),
    "text_number": ({"uuid": UUID, "text": 5}, plistlib.FMT_BINARY),
    "text_dict": ({"uuid": UUID, "text": {"a": 1}}, plistlib.FMT_XML),
    "date_string": ({"uuid": UUID, "date": "yesterday"}, plistlib.FMT_BINARY),
    "date_nan": ({"uuid": UUID, "date": float("nan")}, plistlib.FMT_BINARY),
    "date_infinite": ({"uuid": UUID, "date": float("inf")}, plistlib.FMT_XML),
    "uuid_number": ({"uuid": 42, "text": "t"}, plistlib.FMT_BINARY),
    "uuid_parent": ({"uuid": "../../x", "text": "t"}, plistlib.FMT_BINARY),
    "uuid_dotdot": ({"uuid": "..", "text": "t"}, plistlib.FMT_XML),
    "uuid_empty": ({"uuid": "", "text": "t"}, plistlib.FMT_BINARY),
    "uuid_slash": ({"uuid": "a/b", "text": "t"}, plistlib.FMT_BINARY),
    "array_root": ([UUID, "text"], plistlib.FMT_BINARY),
}


def write(folder):
    for name, (root, fmt) in CASES.items():
        path = os.path.join(folder, name + ".quillary")
        with open(path, "wb") as f:
            plistlib.dump(root, f, fmt=fmt)
        os.utime(path, ns=(MTIME_NS, MTIME_NS))
    with open(os.path.join(folder, "expected.json"), "w") as f:
        json.dump({"mtime_ns": MTIME_NS, "uuid": UUID, "long_text": LONG,
                   "non_ascii": CASES["non_ascii"][0]["text"]}, f)


def read(path):
    with open(path, "rb") as f:
        head = f.read(8)
        f.seek(0)
        root = plistlib.load(f)
    types = {k: type(v).__name__ for k, v in root.items()}
    print(json.dumps({"header": head.decode("latin-1"), "root": root, "types": types,
                      "mtime_ns": os.stat(path).st_mtime_ns}))


if __name__ == "__main__":
    if sys.argv[1] == "write":
        write(sys.argv[2])
    else:
        read(sys.argv[2])
