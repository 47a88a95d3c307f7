#!/usr/bin/env python3
"""Writes an archive-like old/new file pair for the patcher benchmark.

The old file imitates an uncompressed 7z of a browser build: a few thousand member files of
mixed entropy (compressed resources, code-like data, padding). The new file is the next build:
about a tenth of the members recompiled (small changes every few KiB, a few insertions), some
replaced outright, a few added or removed, and the rest unchanged but shifted.
Usage: make_pair.py OLD NEW [MiB] [seed]
"""
import os
import random
import sys

old_path, new_path = sys.argv[1], sys.argv[2]
total = int(sys.argv[3]) * 1024 * 1024 if len(sys.argv) > 3 else 180 * 1024 * 1024
rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 2024)
low_entropy = bytes((i * 37) & 0x1F for i in range(256))  # 5-bit alphabet: code-like content


def member(size):
    kind = rng.random()
    raw = os.urandom(size)
    if kind < 0.45:
        return raw  # compressed resources (.pak, .png, compressed sections)
    if kind < 0.95:
        return raw.translate(low_entropy)  # code and text
    return bytes(size)  # zero-filled sections


def recompiled(data):
    out = bytearray(data)
    step = rng.randint(2048, 16384)
    for at in range(rng.randint(0, step), len(out) - 8, step):
        out[at:at + 4] = os.urandom(4)
    for _ in range(rng.randint(0, 3)):
        at = rng.randint(0, len(out))
        out[at:at] = os.urandom(rng.randint(16, 4096))
    return bytes(out)


members = []
size = 0
while size < total:
    n = min(int(rng.lognormvariate(10.5, 1.6)) + 64, 24 << 20, total - size)
    members.append(member(n))
    size += n

changed = 0
new_members = []
for m in members:
    r = rng.random()
    if r < 0.08:
        n = recompiled(m)
    elif r < 0.10:
        n = member(len(m))
    elif r < 0.11:
        n = None  # removed
    else:
        n = m
    if n is not m:
        changed += len(m)
    if n is not None:
        new_members.append(n)
    if rng.random() < 0.005:
        extra = member(rng.randint(1000, 2 << 20))
        new_members.append(extra)
        changed += len(extra)

with open(old_path, "wb") as f:
    f.write(b"7z\xbc\xaf\x27\x1c" + os.urandom(26))
    for m in members:
        f.write(m)
with open(new_path, "wb") as f:
    f.write(b"7z\xbc\xaf\x27\x1c" + os.urandom(26))
    for m in new_members:
        f.write(m)
print(f"members {len(members)}, old {size} bytes, bytes in changed members {changed} "
      f"({100.0 * changed / size:.1f}%)")
