#!/usr/bin/env python3
"""Writes and reads COUNT note files with plistlib, the way our benchmark does
with the note documents, and prints the two times in seconds."""
import os
import plistlib
import sys
import time

folder, count = sys.argv[1], int(sys.argv[2])
text = "A note of moderate length, with a second line.\nAnd some more text " * 4
start = time.perf_counter()
for i in range(count):
    path = os.path.join(folder, "%08d.quillary" % i)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        plistlib.dump({"uuid": "%08d-0000-0000-0000-000000000000" % i, "archived": False,
                       "date": 1700000000.5 + i, "text": text}, f, fmt=plistlib.FMT_BINARY)
    os.utime(tmp, ns=(1700000000_000000000 + i, 1700000000_000000000 + i))
    os.link(tmp, path)
    os.unlink(tmp)
written = time.perf_counter() - start
start = time.perf_counter()
total = 0
for i in range(count):
    path = os.path.join(folder, "%08d.quillary" % i)
    with open(path, "rb") as f:
        note = plistlib.load(f)
    total += len(note["text"]) + int(os.stat(path).st_mtime_ns > 0)
read = time.perf_counter() - start
print(written, read)
