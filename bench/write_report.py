#!/usr/bin/env python3
"""Writes docs/performance.md from the raw outputs bench/run-all.sh collected.
Usage: write_report.py <raw-output-dir> <report.md>"""
import datetime
import json
import os
import re
import statistics
import sys

RAW = sys.argv[1]
REPORT = sys.argv[2]
MIB = 1048576.0


def read(name):
    try:
        with open(os.path.join(RAW, name), encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def keyvalues(text, sep="="):
    out = {}
    for line in text.splitlines():
        if sep in line:
            k, v = line.split(sep, 1)
            out[k.strip()] = v.strip()
    return out


def num(pattern, text, group=1):
    m = re.search(pattern, text, re.M)
    return float(m.group(group)) if m else None


def fmt(value, spec=".2f", unit=""):
    return "n/a" if value is None else format(value, spec) + unit


def verdict(ok):
    return "n/a" if ok is None else ("met" if ok else "**missed**")


machine = keyvalues(read("machine.txt"))
rows = []  # (figure, ours, baseline, ratio, goal, verdict)
sections = []

# --- extraction ----------------------------------------------------------------------------------
ext = read("extract.txt")
ext_s = num(r"^ExtractResource:\s+([\d.]+) s", ext)
ext_rate = num(r"^ExtractResource:.*?(\d+) MiB/s", ext)
copy_s = num(r"^CopyFileW:\s+([\d.]+) s", ext)
copy_rate = num(r"^CopyFileW:.*?(\d+) MiB/s", ext)
ext_ratio = num(r"^throughput ratio:\s+([\d.]+)", ext)
payload_mib = num(r"^payload:\s+([\d.]+) MiB", ext)
peak_private = num(r"highest after an extraction ([\d.]+) MiB", ext)
base_private = num(r"private usage:\s+baseline ([\d.]+) MiB", ext)
peak_pagefile = num(r"^peak pagefile usage:\s+([\d.]+) MiB", ext)
wine_pagefile = peak_pagefile
rows.append(("Payload extraction throughput (190 MiB resource)", fmt(ext_rate, ".0f", " MiB/s"),
             f"CopyFileW {fmt(copy_rate, '.0f', ' MiB/s')}", fmt(ext_ratio), "≥ 0.90",
             verdict(None if ext_ratio is None else ext_ratio >= 0.9)))
rss = keyvalues(read("extract_rss.txt").replace(" rss", "\nrss"), " ")
rss_first = float(rss["rss_anon_first_kib"]) / 1024 if rss.get("rss_anon_first_kib") else None
rss_peak = float(rss["rss_anon_peak_kib"]) / 1024 if rss.get("rss_anon_peak_kib") else None
mem_fraction = None if peak_pagefile is None or not payload_mib else peak_pagefile / payload_mib
if rss_peak:
    peak_pagefile = max(peak_pagefile or 0, rss_peak)
    mem_fraction = peak_pagefile / payload_mib if payload_mib else None
rows.append(("Peak private memory while extracting", fmt(peak_pagefile, ".1f", " MiB"),
             f"payload {fmt(payload_mib, '.0f', ' MiB')}", fmt(mem_fraction, ".3f"), "small fraction",
             verdict(None if mem_fraction is None else mem_fraction < 0.1)))

# --- update package ------------------------------------------------------------------------------
delta = read("delta.txt")
zucchini = read("zucchini.txt")
d = {}
if delta:
    d["raw_bytes"] = num(r"^our patch, raw\s+(\d+) bytes", delta)
    d["raw_of_new"] = num(r"^our patch, raw.*?bytes\s+([\d.]+) of the new archive", delta)
    d["raw_vs_xd"] = num(r"^our patch, raw.*?([\d.]+) x xdelta3", delta)
    d["packed_bytes"] = num(r"^our patch, LZMA2 7z\s+(\d+) bytes", delta)
    d["packed_of_new"] = num(r"^our patch, LZMA2 7z.*?bytes\s+([\d.]+) of the new archive", delta)
    d["packed_vs_xd"] = num(r"^our patch, LZMA2 7z.*?([\d.]+) x xdelta3", delta)
    d["xd_default"] = num(r"^our patch, LZMA2 7z.*?xdelta3 default \((\d+)", delta)
    d["new_bytes"] = num(r"^new archive\s+(\d+) bytes", delta)
    d["apply_ours"] = num(r"^apply: zucchini.exe under Wine\s+([\d.]+) s", delta)
    d["apply_xd"] = num(r"^apply:.*?xdelta3 -d\s+([\d.]+) s", delta)
    d["apply_ratio"] = num(r"^apply:.*?ratio ([\d.]+)", delta)
    d["sha_ours"] = num(r"^sha256: ComputeFileSha256 under Wine\s+([\d.]+) s", delta)
    d["sha_ours_rate"] = num(r"^sha256: ComputeFileSha256 under Wine\s+[\d.]+ s \((\d+) MiB/s", delta)
    d["sha_native"] = num(r"^\s+sha256sum\s+([\d.]+) s", delta)
    d["sha_native_rate"] = num(r"^\s+sha256sum\s+[\d.]+ s \((\d+) MiB/s", delta)
    d["sha_ratio"] = num(r"throughput ratio ([\d.]+) \(", delta)
    d["sha_ratio_net"] = num(r"throughput ratio [\d.]+ \(([\d.]+) without", delta)
    rows.append(("SHA-256 of the new archive (ComputeFileSha256, Wine)",
                 fmt(d["sha_ours_rate"], ".0f", " MiB/s"), f"sha256sum {fmt(d['sha_native_rate'], '.0f', ' MiB/s')}",
                 fmt(d["sha_ratio"]) + f" ({fmt(d['sha_ratio_net'])} without Wine's start)", "≈ 1", "see below"))
    rows.append(("Patch apply (zucchini.exe under Wine)", fmt(d["apply_ours"], ".2f", " s"),
                 f"xdelta3 -d {fmt(d['apply_xd'], '.2f', ' s')}", fmt(d["apply_ratio"]) + " (time)", "≈ 1",
                 "see below"))
    rows.append(("Patch size, as shipped (VCDIFF in LZMA2 7z)", fmt(None if d["packed_bytes"] is None else
                 d["packed_bytes"] / MIB, ".2f", " MiB"), f"xdelta3 default {fmt(None if d['xd_default'] is None else d['xd_default'] / MIB, '.2f', ' MiB')}",
                 fmt(d["packed_vs_xd"], ".3f"), "≤ 1", verdict(None if d["packed_vs_xd"] is None else d["packed_vs_xd"] <= 1)))
    rows.append(("Patch size against the full new archive", fmt(d["packed_of_new"], ".4f"),
                 f"new archive {fmt(None if d['new_bytes'] is None else d['new_bytes'] / MIB, '.1f', ' MiB')}",
                 fmt(d["packed_of_new"], ".4f"), "small fraction",
                 verdict(None if d["packed_of_new"] is None else d["packed_of_new"] < 0.25)))
elif zucchini:
    z_apply = num(r"^apply zucchini.exe under Wine\s+([\d.]+) s\s+ratio ([\d.]+)", zucchini, 2)
    rows.append(("Patch apply (zucchini.exe under Wine vs xdelta3 -d)", "see raw", "", fmt(z_apply), "≈ 1", "see below"))

# --- silent installation -------------------------------------------------------------------------
TS = re.compile(r"^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3}) (.*)$")


def parse_log(text):
    lines = []
    for raw in text.splitlines():
        m = TS.match(raw.lstrip("\ufeff"))
        if not m:
            continue
        y, mo, da, h, mi, s, ms = (int(x) for x in m.groups()[:7])
        t = datetime.datetime(y, mo, da, h, mi, s, ms * 1000).timestamp()
        lines.append((t, m.group(8)))
    return lines


def find(lines, text, start=0):
    """Index of the first line from start on that holds text, else None."""
    for i in range(start, len(lines)):
        if text in lines[i][1]:
            return i
    return None


def first(lines, text, after=None):
    """Time of the first line holding text (after the line of index after, when given)."""
    i = find(lines, text, 0 if after is None else after + 1)
    return None if i is None else lines[i][0]


def outbox_param(text, action, key):
    for raw in text.splitlines():
        try:
            event = json.loads(raw)
        except ValueError:
            continue
        records = dict((k, v) for k, v in event.get("records", []) if k != "action")
        if any(k == "action" and v == action for k, v in event.get("records", [])):
            return records.get(key)
    return None


def outbox_count(text):
    return sum(1 for raw in text.splitlines() if raw.strip())


silent_rounds = []
for line in read("silent.txt").splitlines():
    m = re.match(r"round (\d+) wall_s ([\d.]+) exit (\d+) wine_start_exit_s ([\d.]+)", line)
    if not m:
        continue
    n = int(m.group(1))
    lines = parse_log(read(f"silent-{n}.log"))
    outbox = read(f"silent-{n}.outbox")
    r = {"round": n, "wall": float(m.group(2)), "exit": int(m.group(3)), "wine": float(m.group(4))}
    if lines:
        start, end = lines[0][0], lines[-1][0]
        r["span"] = end - start
        w0 = first(lines, "等待上报完成...")
        w1 = first(lines, "上报等待完成")
        r["reporter_wait"] = (w1 - w0) if w0 and w1 else 0.0
        p0 = first(lines, "[Step7] 等待 mini_installer.exe 完成")
        p1 = first(lines, "mini_installer.exe is completed!!!")
        r["poll"] = (p1 - p0) if p0 and p1 else 0.0
        elapsed = outbox_param(outbox, "setup_wait_mini_installer_completed", "elapsed_seconds")
        r["poll_sleeps"] = int(elapsed) if elapsed and elapsed.isdigit() else 0
        k0 = first(lines, "isKill = true")
        r["kill_wait"] = 1.0 if k0 else 0.0
        i0 = first(lines, "mini_installer.exe 文件大小为")
        i1 = first(lines, "mini_installer.exe 正常结束")
        r["product"] = (i1 - i0) if i0 and i1 else None
        e0i = find(lines, "[Step0] 解压安装程序文件")
        e0 = None if e0i is None else lines[e0i][0]
        e1 = None if e0i is None else first(lines, "批量解压完成", e0i)
        r["extract"] = (e1 - e0) if e0 and e1 else None
        c0 = first(lines, "[Step3.1] 复制 mini_installer.exe")
        c1 = first(lines, "[Step3] ========== 文件复制完成")
        r["copy"] = (c1 - c0) if c0 and c1 else None
        r["before_quiet"] = (e0 - start) if e0 else None
        s9 = first(lines, "[Step9] 清理临时文件")
        r["after_step9"] = (end - s9) if s9 else None
        r["events"] = outbox_count(outbox)
        r["lines"] = len(lines)
        fixed = r["reporter_wait"] + r["poll_sleeps"] * 1.0 + r["kill_wait"]
        r["fixed"] = fixed
        r["outside_log"] = r["wall"] - r["span"]
        if r["product"] is not None:
            r["overhead"] = r["wall"] - r["wine"] - r["product"] - fixed
    silent_rounds.append(r)
good = [r for r in silent_rounds if "overhead" in r and r["exit"] == 0]
best_silent = min(good, key=lambda r: r["overhead"]) if good else None
med_overhead = statistics.median(r["overhead"] for r in good) if good else None
if best_silent:
    rows.append(("Silent install: our own overhead (median of %d)" % len(good), fmt(med_overhead, ".3f", " s"),
                 f"Wine start+exit {fmt(best_silent['wine'], '.3f', ' s')}",
                 fmt(med_overhead / best_silent["wine"] if best_silent["wine"] else None) + " x Wine start", "< 0.5 s",
                 verdict(med_overhead < 0.5)))

# --- window mode ---------------------------------------------------------------------------------


def probe_rounds(text):
    out = []
    for line in text.splitlines():
        m = re.match(r"round (\d+) visible_ms ([\d.]+) painted_ms ([\d.]+)(.*)$", line)
        if not m:
            continue
        r = {"visible": float(m.group(2)), "painted": float(m.group(3))}
        rest = m.group(4)
        f = re.search(r"first_log_line_ms (-?\d+)", rest)
        a = re.search(r"after_marker_ms (-?\d+)", rest)
        if f:
            r["first_log"] = float(f.group(1))
        if a:
            r["after_marker"] = float(a.group(1))
        out.append(r)
    return out


bare = probe_rounds(read("window-bare.txt"))
win = probe_rounds(read("window-setup.txt"))
med = lambda xs: statistics.median(xs) if xs else None  # noqa: E731
bare_paint = med([r["painted"] for r in bare])
win_paint = med([r["painted"] for r in win])
win_after = med([r["after_marker"] for r in win if "after_marker" in r])
win_first = med([r["first_log"] for r in win if "first_log" in r])
if win:
    rows.append(("Window mode: start to first painted frame (median)", fmt(win_paint, ".0f", " ms"),
                 f"bare Win32 window {fmt(bare_paint, '.0f', ' ms')}",
                 fmt(win_paint / bare_paint if win_paint and bare_paint else None), "—", "—"))
    rows.append(("Window mode: payload on disk to first painted frame (median)", fmt(win_after, ".0f", " ms"),
                 f"bare window, whole start {fmt(bare_paint, '.0f', ' ms')}",
                 fmt(win_after / bare_paint if win_after and bare_paint else None), "< 300 ms",
                 verdict(None if win_after is None else win_after < 300)))

# --- sizes ---------------------------------------------------------------------------------------
sizes = {k: int(v) for k, v in (l.split() for l in read("sizes.txt").splitlines() if l.strip())}
NSIS_STUB = 34 * 1024
for key, label in (("setup_no_payload", "OkuSetup.exe without payload"), ("uninstall", "OkuUninstall.exe")):
    if key in sizes:
        v = sizes[key]
        rows.append((f"Size of {label}", f"{v / 1024:.0f} KiB", f"NSIS stub {NSIS_STUB // 1024} KiB",
                     f"{v / NSIS_STUB:.1f}", "< 1 MiB", verdict(v < MIB)))


def contributors(name):
    text = read(name)
    out = {"section": [], "library": [], "object": []}
    for line in text.splitlines():
        parts = line.split("\t")
        if len(parts) == 3 and parts[0] in out:
            out[parts[0]].append((int(parts[1]), parts[2]))
    return out


# --- micro-benchmarks ----------------------------------------------------------------------------
rep = keyvalues(read("reporter.txt"), " ")
rep = {k: float(v) for k, v in rep.items() if re.match(r"^[\d.]+$", v)}
slog = keyvalues(read("session_log.txt"), " ")
slog = {k: float(v) for k, v in slog.items() if re.match(r"^[\d.]+$", v)}
if "report_us" in rep and "ln_report_us" in rep:
    rows.append(("Reporter: one event (EventReporter::Report, real lantern_sdk.dll)", f"{rep['report_us']:.0f} µs",
                 f"LN_Report alone {rep['ln_report_us']:.0f} µs", f"{rep['report_us'] / rep['ln_report_us']:.2f}",
                 "—", "—"))
if "loginfo_us" in slog and "write_us" in slog:
    rows.append(("Session log: one line (LogInfo)", f"{slog['loginfo_us']:.1f} µs",
                 f"WriteFile {slog['write_us']:.1f} µs; +FlushFileBuffers {slog.get('write_flush_us', 0):.0f} µs",
                 f"{slog['loginfo_us'] / slog['write_us']:.1f} / {slog['loginfo_us'] / slog['write_flush_us']:.3f}"
                 if slog.get("write_flush_us") else f"{slog['loginfo_us'] / slog['write_us']:.1f}", "—", "—"))

# --- the document --------------------------------------------------------------------------------
md = []
w = md.append
w("# Performance")
w("")
w("Written by `bench/run-all.sh` (do not edit by hand; run it again). Every figure is measured on the")
w("machine below, under Wine, in one run, and set against a baseline measured in the same run. These")
w("are measurements, not tests: nothing here fails a build.")
w("")
w("## Machine")
w("")
w("| | |")
w("|---|---|")
w(f"| CPU | {machine.get('cpu', '?')}, {machine.get('cores', '?')} cores "
  f"({machine.get('threads_per_core', '?')} thread per core), {machine.get('hypervisor') or 'bare metal'} guest |")
w(f"| RAM | {int(machine.get('ram_mib', '0')) / 1024:.1f} GiB |")
w(f"| Disk | {machine.get('disk_device', '?')}, {machine.get('disk_size', '?')}, {machine.get('disk_fs', '?')}, "
  f"{'rotational' if machine.get('disk_rotational') == '1' else 'non-rotational'} as the kernel reports it (virtual disk) |")
w(f"| System | {machine.get('os', '?')}, Linux {machine.get('kernel', '?')} |")
w(f"| Wine | {machine.get('wine', '?')} (64-bit, Xvfb display for the window figures) |")
w(f"| Compiler | MinGW-w64 g++ {machine.get('mingw', '?')} (posix threads), static linking |")
w(f"| Load average | {machine.get('load_before', '?')} before, {machine.get('load_after', '?')} after "
  "(the machine is shared; figures are best or median of several rounds) |")
w(f"| Run | {machine.get('date', '?')}, commit {machine.get('commit', '?')}, {machine.get('run_seconds', '?')} s |")
w("")
w("## Summary")
w("")
w("| Figure | Ours | Baseline (same run) | Ratio | Goal | |")
w("|---|---|---|---|---|---|")
for row in rows:
    w("| " + " | ".join(row) + " |")
w("")

findings = os.path.join(os.path.dirname(os.path.abspath(__file__)), "findings.md")
if os.path.exists(findings):
    with open(findings, encoding="utf-8") as f:
        w(f.read().rstrip())
    w("")

w("## Payload extraction")
w("")
w("`bench/run.sh`: `ExtractResource` of a 190 MiB resource of a page-aligned image against `CopyFileW` of")
w("the same bytes from a file already in the page cache, best of nine rounds each, in one process.")
w("")
if ext:
    w(f"- extraction {fmt(ext_s, '.3f', ' s')} ({fmt(ext_rate, '.0f')} MiB/s), copy {fmt(copy_s, '.3f', ' s')} "
      f"({fmt(copy_rate, '.0f')} MiB/s): ratio **{fmt(ext_ratio)}**.")
    w(f"- private memory, for a {fmt(payload_mib, '.0f')} MiB payload: Wine's `GetProcessMemoryInfo` gives "
      f"PeakPagefileUsage {fmt(wine_pagefile, '.1f')} MiB (its PrivateUsage "
      f"reads {fmt(peak_private, '.1f')} MiB: Wine does not fill it in); Linux's view of the same process, its "
      f"resident anonymous memory sampled every 20 ms, is {fmt(rss_first, '.1f')} MiB at the first sample and "
      f"{fmt(rss_peak, '.1f')} MiB at its peak. The payload is read through the mapped image and written in "
      "place; nothing of its size is ever copied into private memory.")
    w("- Bound: both sides are one `WriteFile` stream into Wine's file layer; the ratio is the disk and the")
    w("  page cache, not our code.")
else:
    w("Not measured in this run.")
w("")

w("## Update package: patch size, apply, SHA-256")
w("")
if delta:
    w("`bench/delta/run.sh` (realistic pair of installations, the package builder's own repack under Wine):")
    w("")
    if d.get("raw_bytes"):
        w(f"- raw VCDIFF patch {d['raw_bytes'] / MIB:.2f} MiB = {fmt(d['raw_of_new'], '.4f')} of the new archive, "
          f"{fmt(d['raw_vs_xd'], '.3f')} x xdelta3's patch (-S none, the same format).")
    if d.get("packed_bytes"):
        w(f"- shipped patch (LZMA2 7z) {d['packed_bytes'] / MIB:.2f} MiB = {fmt(d['packed_of_new'], '.4f')} of the "
          f"new archive, {fmt(d['packed_vs_xd'], '.3f')} x xdelta3 with its default secondary compression.")
    w(f"- apply: zucchini.exe under Wine {fmt(d.get('apply_ours'), '.2f', ' s')}, xdelta3 -d (native) "
      f"{fmt(d.get('apply_xd'), '.2f', ' s')} on the same patch: ratio {fmt(d.get('apply_ratio'))} (time; "
      "includes Wine's process start).")
    w(f"- SHA-256: ComputeFileSha256 under Wine {fmt(d.get('sha_ours'), '.2f', ' s')} "
      f"({fmt(d.get('sha_ours_rate'), '.0f')} MiB/s), sha256sum {fmt(d.get('sha_native'), '.2f', ' s')} "
      f"({fmt(d.get('sha_native_rate'), '.0f')} MiB/s): throughput ratio {fmt(d.get('sha_ratio'))}, "
      f"{fmt(d.get('sha_ratio_net'))} without Wine's process start. The hash is CryptoAPI's (Wine's "
      "bcrypt/rsaenh), so the bound is Wine's SHA-256 code against coreutils' SHA-NI path.")
elif zucchini:
    w("`bench/delta/run.sh` was missing; `bench/zucchini/run.sh` (generated pair) instead. No SHA-256 figure.")
else:
    w("Not measured in this run.")
w("")

w("## Silent installation of the demo product")
w("")
w("`OkuSetup.exe /S` in a fresh copy of the prefix per round (a clean machine; its wineserver and desktop")
w("process started first, as Windows has them before any program runs: left to the installer, Wine's")
w("desktop start adds about 0.15 s to its first user32 call). Wall time from outside; the split comes from the session log's millisecond")
w("timestamps and the analytics outbox. Fixed waits are the code's own sleeps: the 500 ms pause for the")
w("reporter after success, 1 s per poll step while a `mini_installer.exe` still runs after the product")
w("installer returned, 1 s after killing with /kill. The product installer's time runs from just before")
w("`CreateProcessW` to its exit. The Wine baseline is the smallest program's start and exit in the same")
w("prefix. Our own overhead = wall − Wine baseline − fixed waits − product installer.")
w("")
if silent_rounds:
    w("| Round | Exit | Wall | Wine start+exit | Fixed waits | Product installer | **Our overhead** | of which: extraction | copy | before QuietInstall | Step9 to end | events | log lines |")
    w("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for r in silent_rounds:
        w(f"| {r['round']} | {r['exit']} | {r['wall']:.3f} s | {r['wine']:.3f} s | "
          f"{fmt(r.get('fixed'), '.3f', ' s')} ({fmt(r.get('reporter_wait'), '.3f')} reporter + {r.get('poll_sleeps', 0)} poll) | "
          f"{fmt(r.get('product'), '.3f', ' s')} | **{fmt(r.get('overhead'), '.3f', ' s')}** | "
          f"{fmt(r.get('extract'), '.3f', ' s')} | {fmt(r.get('copy'), '.3f', ' s')} | "
          f"{fmt(r.get('before_quiet'), '.3f', ' s')} | {fmt(r.get('after_step9'), '.3f', ' s')} | "
          f"{r.get('events', '?')} | {r.get('lines', '?')} |")
    w("")
    if best_silent:
        w(f"Median overhead {med_overhead:.3f} s (goal < 0.5 s). Of the wall time outside the log "
          f"(process start before the first line, exit after the last): {best_silent['outside_log']:.3f} s in the "
          f"best round, against {best_silent['wine']:.3f} s for the smallest program.")
        if "report_us" in rep:
            w(f"Reporting cost about {rep['report_us'] / 1000:.2f} ms per event (micro-benchmark below): "
              f"{best_silent['events']} events ≈ {best_silent['events'] * rep['report_us'] / 1e6:.3f} s of the overhead, "
              "nearly all of it the library's disk commit.")
else:
    w("Not measured in this run.")
w("")

w("## Window mode: time to the first painted frame")
w("")
w("`bench/paint_probe.exe` starts the program, polls for its visible top-level window, reads the screen")
w("under it until the first frame's accent colour (#079D55, the install button) shows, then closes it")
w("with WM_CLOSE. The baseline is `bench/bare_window.exe`: a bare Win32 window of the same size painted")
w("with one FillRect, measured the same way. \"Payload on disk\" is the session log line that ends the")
w("extraction of the window's resources (\"UI资源解压完成\"); the probe compares its local-time stamp")
w("with the moment the frame showed.")
w("")
if win or bare:
    w("| Program | Window visible (median) | First painted frame (median) | First log line | Payload on disk to frame |")
    w("|---|---|---|---|---|")
    w(f"| bare Win32 window | {fmt(med([r['visible'] for r in bare]), '.0f', ' ms')} | {fmt(bare_paint, '.0f', ' ms')} | — | — |")
    w(f"| OkuSetup.exe | {fmt(med([r['visible'] for r in win]), '.0f', ' ms')} | {fmt(win_paint, '.0f', ' ms')} | "
      f"{fmt(win_first, '.0f', ' ms')} | {fmt(win_after, '.0f', ' ms')} |")
    w("")
    w("Rounds (ms, visible / painted / after payload): " + "; ".join(
        f"{r['visible']:.0f}/{r['painted']:.0f}/{r.get('after_marker', float('nan')):.0f}" for r in win) + ".")
else:
    w("Not measured in this run: " + (read("window-setup.txt").strip() or "no output") + ".")
w("")

w("## Sizes")
w("")
w("Stripped release builds. \"Without payload\" is `OkuSetup_no_payload.exe` (bench/CMakeLists.txt):")
w("the installer linked exactly like `OkuSetup.exe` but with every payload resource left out except the")
w("10-byte version.txt. The NSIS anchor: its stub adds about 34 KiB to an installer.")
w("")
w("| Program | Size | Goal |")
w("|---|---|---|")
if "setup_full" in sizes:
    w(f"| OkuSetup.exe with its payload | {sizes['setup_full'] / MIB:.1f} MiB | — |")
for key, label in (("setup_no_payload", "OkuSetup.exe without payload"), ("uninstall", "OkuUninstall.exe")):
    if key in sizes:
        w(f"| {label} | {sizes[key] / 1024:.0f} KiB ({sizes[key] / NSIS_STUB:.1f} x the NSIS stub) | < 1024 KiB: {verdict(sizes[key] < MIB)} |")
w("")
for name, label in (("contributors_setup.txt", "OkuSetup.exe without payload"),
                    ("contributors_uninstall.txt", "OkuUninstall.exe")):
    c = contributors(name)
    if not c["library"]:
        continue
    w(f"Largest contributors to {label} (bytes in the file's sections, from the linker map):")
    w("")
    w("| Library | KiB | | Object file | KiB |")
    w("|---|---|---|---|---|")
    for i in range(max(len(c["library"]), len(c["object"]))):
        lib = c["library"][i] if i < len(c["library"]) else (0, "")
        obj = c["object"][i] if i < len(c["object"]) else (0, "")
        w(f"| {lib[1]} | {lib[0] / 1024:.1f} | | {obj[1]} | {obj[0] / 1024:.1f} |")
    w("")
    w("Sections: " + ", ".join(f"{n} {s / 1024:.0f} KiB" for s, n in c["section"]) + ".")
    w("")

w("## Reporter and session log")
w("")
w("Cross-built micro-benchmarks under Wine (`bench/reporter_bench.cpp`, `bench/session_log_bench.cpp`);")
w("each case runs in turns with the others, best of five rounds.")
w("")
if rep:
    w("| Reporter, per event | µs |")
    w("|---|---|")
    w(f"| `EventReporter::Report` (3 parameters, real lantern_sdk.dll, session log open) | {rep.get('report_us', 0):.1f} |")
    w(f"| `LN_Report` alone on ready records (the library's own work) | {rep.get('ln_report_us', 0):.1f} |")
    w(f"| the reporter's two session-log lines | {rep.get('log_lines_us', 0):.1f} |")
    w(f"| the record block (7 × 4352 bytes, zeroed) | {rep.get('records_us', 0):.2f} |")
    w(f"| floor of the library: 700-byte line, WriteFile + FlushFileBuffers | {rep.get('write_flush_us', 0):.1f} |")
    w(f"| the same WriteFile without the flush | {rep.get('write_only_us', 0):.1f} |")
    w("")
    if "report_us" in rep and "ln_report_us" in rep:
        own = rep["report_us"] - rep["ln_report_us"]
        w(f"The reporter's own share is {own:.0f} µs per event ({own / rep['report_us'] * 100:.0f} %), mostly its two "
          "log lines; the rest is the library's per-event disk commit, which on this virtual disk is an fsync.")
    w("")
if slog:
    w("| Session log, per line | µs |")
    w("|---|---|")
    w(f"| `LogInfo` (timestamp, session part, debugger mirror, WriteFile) | {slog.get('loginfo_us', 0):.2f} |")
    w(f"| bare WriteFile of the same bytes | {slog.get('write_us', 0):.2f} |")
    w(f"| WriteFile + FlushFileBuffers per line (a disk commit per line) | {slog.get('write_flush_us', 0):.1f} |")
    w(f"| `OutputDebugStringW` of the line alone | {slog.get('debugger_us', 0):.2f} |")
    w(f"| building the line (timestamp, UTF-8) | {slog.get('format_us', 0):.2f} |")
    w("")
    w("Each line reaches the operating system at once (WriteFile), so a killed process loses no line; the disk")
    w("commit happens once, at close. A commit per line would cost the FlushFileBuffers row per line. The")
    w("largest part of a line is Wine's `OutputDebugStringW` (an exception raised and handled per call).")
w("")

w("## Raw outputs")
w("")
for name, title in (("extract.txt", "bench/run.sh"), ("delta.txt", "bench/delta/run.sh"),
                    ("zucchini.txt", "bench/zucchini/run.sh"), ("silent.txt", "silent installation"),
                    ("window-bare.txt", "paint probe, bare window"), ("window-setup.txt", "paint probe, OkuSetup.exe"),
                    ("reporter.txt", "reporter_bench.exe"), ("session_log.txt", "session_log_bench.exe")):
    text = read(name).strip()
    if not text:
        continue
    w(f"<details><summary>{title}</summary>")
    w("")
    w("```")
    w(text)
    w("```")
    w("")
    w("</details>")
    w("")

os.makedirs(os.path.dirname(os.path.abspath(REPORT)), exist_ok=True)
# The patcher corpus section is written by bench/zucchini/corpus.sh; it is kept as it stands.
KEEP_BEGIN, KEEP_END = "<!-- zucchini-corpus:begin -->", "<!-- zucchini-corpus:end -->"
if os.path.exists(REPORT):
    with open(REPORT, encoding="utf-8") as f:
        previous = f.read()
    if KEEP_BEGIN in previous and KEEP_END in previous:
        kept = previous[previous.index(KEEP_BEGIN):previous.index(KEEP_END) + len(KEEP_END)]
        md += ["", kept]

with open(REPORT, "w", encoding="utf-8") as f:
    f.write("\n".join(md).rstrip() + "\n")
