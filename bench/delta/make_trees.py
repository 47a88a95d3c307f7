#!/usr/bin/env python3
"""Writes two versions of a browser installation tree for the update-package benchmark.

Each tree is an archive root as the installer repacks it: oku.compass.exe, chrome_proxy.exe and a
version folder with a large main library, resource packs, locales and data files (about 180 MiB).
The newer version is a typical minor update: the programs and libraries are recompiled (a few
bytes changed every few KiB, a few insertions that shift the rest), a share of the resource pack
blocks and of the locale strings change, the data files stay, one file is added and one removed.
Usage: make_trees.py OLD_ROOT NEW_ROOT OLD_VERSION NEW_VERSION [seed]
"""
import os
import random
import sys

old_root, new_root, old_version, new_version = sys.argv[1:5]
rng = random.Random(int(sys.argv[5]) if len(sys.argv) > 5 else 147)
MiB = 1 << 20
code_alphabet = bytes((i * 37) & 0x3F for i in range(256))  # 6-bit alphabet: machine-code-like


def code(size):
    return os.urandom(size).translate(code_alphabet)


def packed(size):
    return os.urandom(size)  # compressed content: resources, images


touched = 0  # bytes written or inserted by the changes


def recompiled(data, step_low=2048, step_high=12288, insertions=4):
    global touched
    out = bytearray(data)
    step = rng.randint(step_low, step_high)
    for at in range(rng.randint(0, step), len(out) - 8, step):
        out[at:at + 4] = code(4)
        touched += 4
    for _ in range(insertions):
        at = rng.randint(0, len(out))
        n = rng.randint(16, 4096)
        out[at:at] = code(n)
        touched += n
    return bytes(out)


def blocks_changed(data, share, block=64 << 10):
    global touched
    out = bytearray(data)
    for at in range(0, len(out), block):
        if rng.random() < share:
            n = min(block, len(out) - at)
            out[at:at + n] = packed(n)
            touched += n
    return bytes(out)


def replaced(data):
    global touched
    touched += len(data)
    return packed(len(data))


# (path, old content, function making the new content)
files = [
    ("oku.compass.exe", code(3 * MiB), recompiled),
    ("chrome_proxy.exe", code(1 * MiB), recompiled),
    ("V/chrome.dll", code(110 * MiB), recompiled),
    ("V/chrome_elf.dll", code(2 * MiB), recompiled),
    ("V/libGLESv2.dll", code(7 * MiB), recompiled),
    ("V/d3dcompiler_47.dll", code(4 * MiB), None),
    ("V/icudtl.dat", packed(10 * MiB), None),
    ("V/resources.pak", packed(15 * MiB), lambda d: blocks_changed(d, 0.15)),
    ("V/chrome_100_percent.pak", packed(1 * MiB), lambda d: blocks_changed(d, 0.10)),
    ("V/chrome_200_percent.pak", packed(MiB + MiB // 2), lambda d: blocks_changed(d, 0.10)),
    ("V/v8_context_snapshot.bin", packed(700 << 10), replaced),
    ("V/Installer/setup.exe", code(3 * MiB), recompiled),
    ("V/retired_helper.dll", code(512 << 10), "removed"),
]
for locale in range(40):
    files.append((f"V/locales/l{locale:02d}.pak", packed(600 << 10),
                  lambda d: blocks_changed(d, 0.05, block=4096)))


def write(root, version, path, data):
    full = os.path.join(root, path.replace("V/", version + "/", 1))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)


old_bytes = new_bytes = changed_files = changed_bytes = 0
for path, data, change in files:
    write(old_root, old_version, path, data)
    old_bytes += len(data)
    if change == "removed":
        continue
    new = data if change is None else change(data)
    write(new_root, new_version, path, new)
    new_bytes += len(new)
    if new is not data:
        changed_files += 1
        changed_bytes += len(data)
    if change is not None and not callable(change):
        raise SystemExit("unknown change")
added = code(2 * MiB)
write(new_root, new_version, "V/new_feature.dll", added)
new_bytes += len(added)
touched += len(added)
print(f"trees: old {old_bytes} bytes in {len(files)} files, new {new_bytes} bytes; {changed_files} files changed "
      f"({100.0 * changed_bytes / old_bytes:.1f}% of the old bytes), bytes rewritten or inserted "
      f"{touched} ({100.0 * touched / old_bytes:.2f}%), one file added, one removed")
