#!/usr/bin/env python3
"""Largest contributors to a PE image from its GNU ld map (-Wl,-Map): bytes of the sections that
end up in the file (debug sections and .bss left out), summed per library and per object file.
Usage: map_contributors.py <map> [top]   prints "kind<TAB>bytes<TAB>name" lines."""
import collections
import os
import re
import sys

FILE_SECTIONS = {".text", ".data", ".rdata", ".pdata", ".xdata", ".idata", ".CRT", ".tls", ".rsrc", ".reloc",
                 ".edata", ".didat"}
FULL = re.compile(r"^ (\S+)\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(\S.*)$")
NAME_ONLY = re.compile(r"^ (\S+)$")
WRAPPED = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(\S.*)$")
OUTPUT = re.compile(r"^(\.\S+)\s+0x[0-9a-fA-F]+\s+0x[0-9a-fA-F]+")
OUTPUT_NAME_ONLY = re.compile(r"^(\.\S+)$")
ARCHIVE = re.compile(r"^(.*\.a)\((.*)\)$")


def owner(path):
    m = ARCHIVE.match(path.strip())
    if m:
        return os.path.basename(m.group(1)), m.group(2)
    return "(objects)", os.path.basename(path.strip())


def main():
    path = sys.argv[1]
    top = int(sys.argv[2]) if len(sys.argv) > 2 else 12
    by_lib = collections.Counter()
    by_obj = collections.Counter()
    by_section = collections.Counter()
    section = None
    pending = None
    started = False
    with open(path, errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if not started:
                started = line.startswith("Linker script and memory map")
                continue
            m = OUTPUT.match(line) or OUTPUT_NAME_ONLY.match(line)
            if m:
                section = m.group(1)
                pending = None
                continue
            if section not in FILE_SECTIONS:
                continue
            size = source = None
            m = FULL.match(line)
            if m and not m.group(1).startswith("*"):
                size, source = int(m.group(3), 16), m.group(4)
            elif pending:
                w = WRAPPED.match(line)
                if w:
                    size, source = int(w.group(2), 16), w.group(3)
                pending = None
            else:
                n = NAME_ONLY.match(line)
                if n and not n.group(1).startswith("*"):
                    pending = n.group(1)
            if size and source and not source.startswith("0x"):
                lib, obj = owner(source)
                by_lib[lib] += size
                by_obj[lib + ":" + obj if lib != "(objects)" else obj] += size
                by_section[section] += size
    for name, size in by_section.most_common():
        print(f"section\t{size}\t{name}")
    for name, size in by_lib.most_common(top):
        print(f"library\t{size}\t{name}")
    for name, size in by_obj.most_common(top):
        print(f"object\t{size}\t{name}")


if __name__ == "__main__":
    main()
