#!/usr/bin/env python3
"""Writes the patcher corpus table (results.tsv from corpus.sh) into docs/performance.md, between
the markers <!-- zucchini-corpus:begin --> and <!-- zucchini-corpus:end -->.
Usage: corpus_report.py RESULTS_TSV PERFORMANCE_MD
"""
import os
import statistics
import sys

results_path, doc_path = sys.argv[1], sys.argv[2]
rows = []
with open(results_path, encoding="utf-8") as f:
    for line in f:
        if line.strip():
            (name, what, new, raw, ours, bsdiff, xd, gen_s, gen_mib, apply_s, apply_mib, bsdiff_s) = line.rstrip("\n").split("\t")
            rows.append(dict(name=name, what=what, new=int(new), raw=int(raw), ours=int(ours), bsdiff=int(bsdiff),
                             xd=int(xd), gen_s=float(gen_s), gen_mib=int(gen_mib), apply_s=float(apply_s),
                             apply_mib=int(apply_mib), bsdiff_s=float(bsdiff_s)))


def size(n):
    return f"{n:,} B"


out = ["<!-- zucchini-corpus:begin -->",
       "## Patcher on real release pairs",
       "",
       "Written by `bench/zucchini/corpus.sh` (pinned npm versions, downloaded to a cache outside the "
       "repository). Ours as shipped: the raw patch of `zucchini -gen` in an LZMA2 7z at -mx9, as "
       "`make-update-package.sh` packs it; bsdiff: Debian's `bsdiff` (its own bzip2); xdelta3: "
       "`-9 -S djw`. Generation: native Release build, wall time and peak RSS. Apply: zucchini.exe "
       "under Wine, wall time including Wine's process start, peak resident memory (VmHWM) of the zucchini.exe process. "
       "Every output is compared byte for byte.",
       "",
       "| pair | new file | ours (shipped) | bsdiff | xdelta3 -9 -S djw | ours / bsdiff | generation (native) | apply (zucchini.exe, Wine) |",
       "|---|---|---|---|---|---|---|---|"]
for r in rows:
    ratio = r["ours"] / r["bsdiff"] if r["bsdiff"] else 0.0
    out.append(f"| {r['what']} | {size(r['new'])} | {size(r['ours'])} (raw {size(r['raw'])}) | {size(r['bsdiff'])} "
               f"| {size(r['xd'])} | {ratio:.2f} | {r['gen_s']:.1f} s, {r['gen_mib']} MiB (bsdiff {r['bsdiff_s']:.1f} s) "
               f"| {r['apply_s']:.2f} s, {r['apply_mib']} MiB |")
ratios = [r["ours"] / r["bsdiff"] for r in rows if r["bsdiff"]]
if ratios:
    out.append("")
    out.append(f"Median ours / bsdiff: **{statistics.median(ratios):.2f}** over {len(ratios)} pairs "
               f"(best {min(ratios):.2f}, worst {max(ratios):.2f}).")
notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus_notes.md")
if os.path.exists(notes):
    with open(notes, encoding="utf-8") as f:
        out.append("")
        out.append(f.read().rstrip("\n"))
out.append("<!-- zucchini-corpus:end -->")
block = "\n".join(out)

with open(doc_path, encoding="utf-8") as f:
    doc = f.read()
begin, end = "<!-- zucchini-corpus:begin -->", "<!-- zucchini-corpus:end -->"
if begin in doc and end in doc:
    doc = doc[:doc.index(begin)] + block + doc[doc.index(end) + len(end):]
else:
    doc = doc.rstrip("\n") + "\n\n" + block + "\n"
with open(doc_path, "w", encoding="utf-8") as f:
    f.write(doc)
print(block)
