#!/usr/bin/env python3
"""Scan throughput benchmark (run by `make bench`, never by the tests).

For each tree size: builds a tree with velmora-bench-tree, then runs, best
of three each, the bare reader (the floor) with 1, 4 and 64 reading threads,
`velmora-scan --detect-only` at its default number of readers and with -j 1
(once it takes -j), the win64 velmora-scan.exe under wine64, the shipped
i686 velmora-scan.exe under 32-bit Wine and clamscan in a lean
configuration, warm cache; the floors and velmora-scan also cold (the tree's
own files evicted with posix_fadvise DONTNEED, never the machine's caches).
The scanner is set against the one-thread floor, warm against the 4-reader
floor (two cores gain nothing from more) and cold against the 64-reader
floor (which keeps the disk's queue full). Writes bench/results.md and
bench/results.svg. Then, unless --no-inside, inside_bench.py measures the
scan of mail folders and archives (--inside-mb sizes) and adds its section
to bench/results.md; with --no-inside the section of an earlier run stays.
"""
import argparse
import math
import os
import shutil
import subprocess
import sys
import time

import inside_bench

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The native build whose programs are timed (BENCH_NATIVE names another).
NATIVE = inside_bench.native_dir()
WIN64 = os.path.join(ROOT, "build", "win64")
WIN32 = os.path.join(ROOT, "build", "win32")
WORK = os.path.join(ROOT, "build", "bench")
WINE = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver"
WINE_RUN = os.path.join(ROOT, "cmake", "wine-run.sh")
# Says why, and ends with a non-zero status, where the shipped 32-bit
# programs cannot run under 32-bit Wine.
I686_WINE = ["sh", os.path.join(ROOT, "scripts", "i686-wine.sh"), os.path.join(ROOT, "build", "deps-note.txt")]
PREFIX = os.path.join(WORK, "wineprefix")
PREFIX32 = os.path.join(WORK, "wineprefix32")

TREE = os.path.join(NATIVE, "bench", "velmora-bench-tree")
FLOOR = os.path.join(NATIVE, "bench", "velmora-bare-reader")
ALLOC = os.path.join(NATIVE, "bench", "libvelmora-alloc-count.so")
SCAN = os.path.join(NATIVE, "cli", "velmora-scan")
SCAN_EXE = os.path.join(WIN64, "cli", "velmora-scan.exe")
SCAN_EXE32 = os.path.join(WIN32, "cli", "velmora-scan.exe")
# The floor's numbers of reading threads, and the parallel floors the
# scanner is set against warm and cold.
FLOOR_JOBS = (1, 4, 64)
WARM_READERS = 4
COLD_READERS = 64
# Optional builds of an earlier version, for a before/after comparison.
OLD_SCAN = os.environ.get("BENCH_BEFORE_SCAN", "")
OLD_SCAN_EXE = os.environ.get("BENCH_BEFORE_SCAN_EXE", "")
BEFORE = os.environ.get("BENCH_BEFORE_LABEL", "before the change")
# How the earlier builds write the path column (see row_paths): "plain" for
# builds from before the escapes, "escaped" for those that escaped every row.
BEFORE_ROWS = os.environ.get("BENCH_BEFORE_ROWS", "plain")

CLAM_LEAN = ["--scan-pe=no", "--scan-elf=no", "--scan-ole2=no", "--scan-pdf=no", "--scan-swf=no",
             "--scan-html=no", "--scan-xmldocs=no", "--scan-hwp3=no", "--scan-archive=no",
             "--scan-mail=no"]


def run(cmd, env=None):
    """Runs cmd; returns (seconds, peak RSS in KiB, stdout text, exit status).
    GNU time reports the peak of the program itself (a fork of this script
    would count the script's own memory)."""
    peak_file = os.path.join(WORK, "peak.txt")
    start = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak_file] + cmd, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, env=env)
    seconds = time.perf_counter() - start
    with open(peak_file) as f:
        lines = [l for l in f.read().split() if l.isdigit()]
    peak = int(lines[-1]) if lines else 0
    return seconds, peak, proc.stdout.decode("utf-8", "replace"), proc.returncode


def evict(tree):
    subprocess.run([FLOOR, "--evict", tree], check=True, stdout=subprocess.DEVNULL)


def best_of(runs, cmd, env=None, cold_tree=None):
    best = None
    for _ in range(runs):
        if cold_tree:
            evict(cold_tree)
        result = run(cmd, env)
        if best is None or result[0] < best[0]:
            best = result
    return best


def unescape(text):
    """Undoes the escapes of a row's path: a backslash before \\, t, n, r or
    xHH."""
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt == "x" and i + 3 < len(text):
                out.append(chr(int(text[i + 2:i + 4], 16)))
                i += 4
                continue
            out.append({"t": "\t", "n": "\n", "r": "\r"}.get(nxt, nxt))
            i += 2
            continue
        out.append(text[i])
        i += 1
    return "".join(out)


def row_paths(output, windows=False, rows="marked"):
    """The path column of every result row, its escapes undone; Windows paths
    as the POSIX paths they name. rows says how the build writes them:
    "marked", escaped only in the rows that begin with a backslash (as the
    coreutils checksum tools do); "escaped", every row escaped, without the
    mark (builds from before the mark); "plain", never escaped (builds from
    before the escapes)."""
    paths = set()
    for line in output.splitlines():
        if "\t" not in line:
            continue
        text = line.split("\t", 1)[0]
        if rows == "escaped" or (rows == "marked" and text.startswith("\\")):
            path = unescape(text[1:] if rows == "marked" else text)
        else:
            path = text
        if windows and len(path) > 2 and path[1] == ":":
            path = path[2:].replace("\\", "/")
        paths.add(path)
    return paths


def found_all(output, threats, windows=False, rows="marked"):
    rows_found = row_paths(output, windows, rows)
    return [path for path in threats if path not in rows_found]


def clam_found_all(output, threats):
    # clamscan --infected prints "PATH: SIGNATURE FOUND".
    return [path for path in threats if path + ": " not in output]


def floor_label(jobs):
    return "floor (bare reader), %d thread%s" % (jobs, "" if jobs == 1 else "s")


def accepts_jobs(cmd):
    """Whether the scanner takes -j: `-j 2 --help` ends with status 0 only
    in a scanner that knows -j."""
    try:
        return subprocess.run(cmd + ["-j", "2", "--help"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=60).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def times(rows, tool):
    """{tree size: best seconds} of one tool's rows."""
    return {r[0]: r[2] for r in rows if r[1] == tool}


def clam_supported_flags():
    text = subprocess.run(["clamscan", "--help"], capture_output=True, text=True).stdout
    return [f for f in CLAM_LEAN if f.split("=")[0] in text]


def start_wine(label, wine, exe, arch, prefix, runs, notes):
    """Makes the prefix (through the test runner script), starts a
    persistent wineserver for the whole benchmark, so that runs do not pay
    for starting one, and times `--version`. None, with a note, if the
    program cannot run."""
    if arch == "win32":
        probe = subprocess.run(I686_WINE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if probe.returncode != 0:
            why = " ".join(probe.stdout.split()) or "scripts/i686-wine.sh ended with status %d" % probe.returncode
            notes.append("%s did not run: %s" % (label, why.rstrip(".") + "."))
            return None
    missing = [p for p in (exe, wine) if not os.path.exists(p)]
    if missing:
        notes.append("%s did not run: %s is missing." % (label, missing[0]))
        return None
    flags = ["--win32"] if arch == "win32" else []
    subprocess.run(["sh", WINE_RUN] + flags + [prefix, exe, "--version"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, WINEPREFIX=prefix, WINEARCH=arch, WINEDEBUG="-all", LC_ALL="C.UTF-8")
    subprocess.Popen([WINESERVER, "-p"], env=env).wait()
    start = best_of(runs, [wine, exe, "--version"], env=env)
    if start[3] != 0:
        subprocess.run([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
        notes.append("%s did not run: `--version` ended with status %d." % (label, start[3]))
        return None
    return {"label": label, "wine": wine, "exe": exe, "env": env, "start": start[0]}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default=os.environ.get("BENCH_SIZES", "20000 100000"))
    parser.add_argument("--runs", type=int, default=int(os.environ.get("BENCH_RUNS", "3")))
    parser.add_argument("--no-wine", action="store_true")
    parser.add_argument("--no-clam", action="store_true")
    parser.add_argument("--results", default=os.path.join(ROOT, "bench", "results.md"))
    parser.add_argument("--inside-mb", default=os.environ.get("BENCH_INSIDE_MB", "1024"),
                        help="sizes in MiB of the mail and archive mixes, separated by blanks")
    parser.add_argument("--no-inside", action="store_true", help="no mail and archive mixes")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split()]
    os.makedirs(WORK, exist_ok=True)
    notes = []

    # Until the scanner takes -j its one run is the sequential scan.
    scans = [("velmora-scan --detect-only", [SCAN, "--detect-only"])]
    if accepts_jobs([SCAN]):
        scans.append(("velmora-scan --detect-only -j 1", [SCAN, "--detect-only", "-j", "1"]))
    else:
        notes.append("`velmora-scan -j 2 --help` failed: this scanner does not take `-j`, so its one run "
                     "is the sequential scan and there is no `-j 1` row.")

    wines = []
    if not args.no_wine:
        for label, how, wine, exe, arch, prefix, old_exe in (
                ("velmora-scan.exe (win64, wine64)", "the win64 build under wine64",
                 WINE, SCAN_EXE, "win64", PREFIX, OLD_SCAN_EXE),
                ("velmora-scan.exe (i686, 32-bit Wine)", "the i686 build under 32-bit Wine",
                 WINE32, SCAN_EXE32, "win32", PREFIX32, "")):
            started = start_wine(label, wine, exe, arch, prefix, args.runs, notes)
            if started:
                started["how"], started["old"] = how, old_exe
                wines.append(started)
    clam = not args.no_clam and shutil.which("clamscan") and shutil.which("sigtool")
    clam_flags = clam_supported_flags() if clam else []

    tree_bytes = {}
    rows = []   # (size, tool, seconds, files/s, peak KiB, missing list, note)
    cold = []   # (size, tool, seconds, files/s)
    allocs = {}
    folders = {}
    floor_reads = {}  # size -> what every floor reported reading, or None if they differ
    try:
        for size in sizes:
            tree = os.path.join(WORK, "tree-%d" % size)
            print("== building a tree of %d files" % size, flush=True)
            subprocess.run([TREE, tree, str(size)], check=True)
            tree_bytes[size] = folders[size] = 0
            for d, _, names in os.walk(tree):
                folders[size] += 1
                tree_bytes[size] += sum(os.path.getsize(os.path.join(d, n)) for n in names)
            with open(tree + ".threats") as f:
                threats = [line.strip() for line in f if line.strip()]

            # Warm the cache once, then best of three for each tool. Every
            # floor must read what the one-thread floor reads.
            run([FLOOR, tree])
            for jobs in FLOOR_JOBS:
                t = best_of(args.runs, [FLOOR, "-j", str(jobs), tree])
                rows.append((size, floor_label(jobs), t[0], size / t[0], t[1], [], ""))
                reads = t[2].strip()
                if jobs == FLOOR_JOBS[0]:
                    floor_reads[size] = reads
                elif reads != floor_reads[size]:
                    notes.append("%d files: the %d-thread floor reported \"%s\", the one-thread floor \"%s\"."
                                 % (size, jobs, reads, floor_reads[size]))
                    floor_reads[size] = None
                print("floor, %d threads %.3f s" % (jobs, t[0]), flush=True)

            for label, cmd in scans:
                t = best_of(args.runs, cmd + [tree])
                rows.append((size, label, t[0], size / t[0], t[1], found_all(t[2], threats), ""))
                print("%s %.3f s" % (label, t[0]), flush=True)

            # Straight, not under GNU time, whose own heap calls would be
            # counted (and written) last.
            log = os.path.join(WORK, "allocs-%d.txt" % size)
            subprocess.run([SCAN, "--detect-only", tree], stdout=subprocess.DEVNULL,
                           env=dict(os.environ, LD_PRELOAD=ALLOC, VELMORA_ALLOC_LOG=log))
            with open(log) as f:
                allocs[size] = int(f.read().strip())

            if OLD_SCAN and os.path.exists(OLD_SCAN):
                t = best_of(args.runs, [OLD_SCAN, "--detect-only", tree])
                rows.append((size, "velmora-scan --detect-only, " + BEFORE, t[0], size / t[0], t[1],
                             found_all(t[2], threats, rows=BEFORE_ROWS), ""))
                print("before %.3f s" % t[0], flush=True)

            target = "Z:" + tree.replace("/", "\\")
            for w in wines:
                t = best_of(args.runs, [w["wine"], w["exe"], "--detect-only", target], env=w["env"])
                rows.append((size, w["label"], t[0], size / t[0], t[1], found_all(t[2], threats, windows=True),
                             "peak memory is the Wine loader's"))
                print("%s %.3f s" % (w["label"], t[0]), flush=True)
                if w["old"] and os.path.exists(w["old"]):
                    t = best_of(args.runs, [w["wine"], w["old"], "--detect-only", target], env=w["env"])
                    rows.append((size, "velmora-scan.exe (wine64), " + BEFORE, t[0], size / t[0], t[1],
                                 found_all(t[2], threats, windows=True, rows=BEFORE_ROWS), ""))
                    print("wine before %.3f s" % t[0], flush=True)

            if clam:
                hdb = os.path.join(WORK, "threats-%d.hdb" % size)
                with open(hdb, "w") as out:
                    for path in threats:
                        out.write(subprocess.run(["sigtool", "--md5", path], capture_output=True, text=True,
                                                 check=True).stdout)
                cmd = ["clamscan", "--no-summary", "--infected", "-r", "-d", hdb] + clam_flags + [tree]
                t = best_of(args.runs, cmd)
                rows.append((size, "clamscan (lean, MD5 database)", t[0], size / t[0], t[1],
                             clam_found_all(t[2], threats), ""))
                print("clamscan %.3f s" % t[0], flush=True)

            for jobs in FLOOR_JOBS:
                t = best_of(args.runs, [FLOOR, "-j", str(jobs), tree], cold_tree=tree)
                cold.append((size, floor_label(jobs), t[0], size / t[0]))
                print("cold floor, %d threads %.3f s" % (jobs, t[0]), flush=True)
            for label, cmd in scans:
                t = best_of(args.runs, cmd + [tree], cold_tree=tree)
                cold.append((size, label, t[0], size / t[0]))
                print("cold %s %.3f s" % (label, t[0]), flush=True)
            shutil.rmtree(tree, ignore_errors=True)
    finally:
        for w in wines:
            subprocess.run([WINESERVER, "-k"], env=w["env"], stderr=subprocess.DEVNULL)

    earlier = inside_bench.read_section(args.results)
    write_results(args.results, sizes, rows, cold, allocs, folders, clam_flags, wines, tree_bytes,
                  args.runs, [label for label, _ in scans], floor_reads, notes)
    write_chart(os.path.join(os.path.dirname(args.results), "results.svg"), sizes, rows, cold, args.runs)
    if not args.no_inside:
        inside_bench.bench([int(s) for s in args.inside_mb.split()], args.runs, args.results, NATIVE)
    elif earlier:
        inside_bench.put_section(args.results, earlier)
    print(open(args.results).read())


def ratio(seconds, floor):
    return "%.2f" % (seconds / floor) if floor else "-"


def write_results(path, sizes, rows, cold, allocs, folders, clam_flags, wines, tree_bytes, runs, scans,
                  floor_reads, notes):
    best = "One run each." if runs == 1 else "Best of %s runs each." % {2: "two", 3: "three"}.get(runs, str(runs))
    lines = ["# Scan benchmark results", "",
             "Written by `make bench` (`bench/run.sh`). Figures come from a shared 2-core machine "
             "on which other jobs ran at the same time: compare ratios within one run, not "
             "absolute figures between runs. " + best, "",
             "Trees: " + ", ".join("%d files (%.0f MB)" % (s, tree_bytes[s] / 1e6) for s in sizes) +
             "; PE images and DLLs with unique tails, random binaries of 1 to 64 KiB, small text files "
             "and one of every synthesized threat (`velmora-bench-tree`).", "",
             "The floors are `velmora-bare-reader`: the walk and the reads a verdict needs, nothing computed; "
             "with several threads the walk hands each file to the readers. A ratio is the tool's time over "
             "the floor's: below 1 is faster than that floor.", ""]
    same = [s for s in sizes if floor_reads.get(s)]
    if same:
        lines += ["Every floor read the same: " + "; ".join(floor_reads[s] for s in same) + ".", ""]

    warm1, warmN = times(rows, floor_label(1)), times(rows, floor_label(WARM_READERS))
    cold1, coldN = times(cold, floor_label(1)), times(cold, floor_label(COLD_READERS))
    lines += ["## The scanner against the floors", "",
              "| files | tool | warm, vs 1-thread floor | warm, vs %d-reader floor | cold, vs 1-thread floor "
              "| cold, vs %d-reader floor |" % (WARM_READERS, COLD_READERS),
              "| ---: | --- | ---: | ---: | ---: | ---: |"]
    scanners = scans + [w["label"] for w in wines]
    for size in sizes:
        for tool in scanners:
            warm, cool = times(rows, tool).get(size), times(cold, tool).get(size)
            if warm is None:
                continue
            lines.append("| %d | %s | %s | %s | %s | %s |" % (
                size, tool, ratio(warm, warm1.get(size)), ratio(warm, warmN.get(size)),
                ratio(cool, cold1.get(size)) if cool else "-", ratio(cool, coldN.get(size)) if cool else "-"))

    lines += ["", "## Warm cache", "",
              "| files | tool | best time (s) | files/s | vs 1-thread floor | vs %d-reader floor "
              "| peak memory (MiB) | every planted threat found |" % WARM_READERS,
              "| ---: | --- | ---: | ---: | ---: | ---: | ---: | --- |"]
    for size, tool, seconds, rate, peak, missing, note in rows:
        found = "-" if tool.startswith("floor") else ("yes" if not missing else "no (%d missing)" % len(missing))
        lines.append("| %d | %s | %.3f | %.0f | %s | %s | %.1f | %s |" % (
            size, tool, seconds, rate, ratio(seconds, warm1.get(size)), ratio(seconds, warmN.get(size)),
            peak / 1024.0, found))
    lines += ["", "## Cold cache (the tree's files evicted before each run)", "",
              "| files | tool | best time (s) | files/s | vs 1-thread floor | vs %d-reader floor |" % COLD_READERS,
              "| ---: | --- | ---: | ---: | ---: | ---: |"]
    for size, tool, seconds, rate in cold:
        lines.append("| %d | %s | %.3f | %.0f | %s | %s |" % (
            size, tool, seconds, rate, ratio(seconds, cold1.get(size)), ratio(seconds, coldN.get(size))))
    if wines:
        lines += ["", "The Wine figures include starting the program under Wine (a persistent wineserver runs "
                  "for each prefix for the whole benchmark); `velmora-scan.exe --version` alone takes " +
                  " and ".join("%.3f s for %s" % (w["start"], w["how"]) for w in wines) + "."]
    lines += ["", "## Against clamscan", ""]
    for size in sizes:
        scan = [r for r in rows if r[0] == size and r[1] == scans[0]]
        clam = [r for r in rows if r[0] == size and r[1].startswith("clamscan")]
        if scan and clam:
            lines.append("- %d files: velmora-scan is %.1f times as fast as clamscan." % (size, clam[0][2] / scan[0][2]))
    if clam_flags:
        lines.append("- clamscan flags: `%s`, one database of the planted threats' MD5 hashes "
                     "(`sigtool --md5`)." % " ".join(clam_flags))
    lines += ["", "## Heap calls of velmora-scan --detect-only (counting allocator, LD_PRELOAD)", "",
              "| files | folders | malloc/calloc/realloc calls |", "| ---: | ---: | ---: |"]
    for size in sizes:
        if size in allocs:
            lines.append("| %d | %d | %d |" % (size, folders[size], allocs[size]))
    if len(allocs) >= 2:
        a, b = sorted(allocs)[0], sorted(allocs)[-1]
        lines.append("")
        lines.append("%d more files in %d more folders cost %d more heap calls: %.4f a file, %.2f a folder "
                     "(the directory stream of each folder)." % (
                         b - a, folders[b] - folders[a], allocs[b] - allocs[a], (allocs[b] - allocs[a]) / (b - a),
                         (allocs[b] - allocs[a]) / max(1, folders[b] - folders[a])))
    if notes:
        lines += ["", "## Notes", ""] + ["- " + n for n in notes]
    lines += ["", "![files/s per tool and tree size, warm and cold](results.svg)", ""]
    with open(path, "w") as f:
        f.write("\n".join(lines))


def write_chart(path, sizes, rows, cold, runs):
    """Two panels of grouped bars, warm cache above and cold below, files/s
    on a logarithmic axis, one group per tree size. The floors are grey, from
    light (one thread) to dark (the most)."""
    panels = [("warm cache", [(r[0], r[1], r[3]) for r in rows]),
              ("cold cache (the tree's files evicted before each run)", [(c[0], c[1], c[3]) for c in cold])]
    tools = []
    for _, bars in panels:
        for bar in bars:
            if bar[1] not in tools:
                tools.append(bar[1])
    greys = ["#cccccc", "#969696", "#525252"]
    palette = ["#1f77b4", "#9ecae1", "#ff7f0e", "#fdd0a2", "#2ca02c", "#98df8a", "#d62728", "#9467bd"]
    colour = {}
    for i, jobs in enumerate(FLOOR_JOBS):
        colour[floor_label(jobs)] = greys[min(i, len(greys) - 1)]
    for tool in tools:
        if tool not in colour:
            colour[tool] = palette[len([t for t in colour if not t.startswith("floor")]) % len(palette)]

    width, panel_h, left, bottom, top = 960, 330, 70, 40, 50
    legend = 330
    plot_h = panel_h - bottom - top
    group_w = (width - left - legend) / len(sizes)
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" font-size="12">'
           % (width, panel_h * len(panels)), '<rect width="100%" height="100%" fill="white"/>']
    for pi, (title, bars) in enumerate(panels):
        y0 = pi * panel_h
        names = [t for t in tools if any(b[1] == t for b in bars)]
        rates = [b[2] for b in bars]
        if not rates:
            continue
        lo = 10 ** int(math.floor(math.log10(min(rates))))
        hi = 10 ** int(math.ceil(math.log10(max(rates))))
        if hi == lo:
            hi = lo * 10

        def y(v):
            return y0 + top + plot_h - plot_h * (math.log10(v) - math.log10(lo)) / (math.log10(hi) - math.log10(lo))

        out.append('<text x="%d" y="%d" font-size="14">Files per second (log scale), %s, %s</text>'
                   % (left, y0 + 24, "one run" if runs == 1 else "best of %d" % runs, title))
        decade = lo
        while decade <= hi:
            out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="#ddd"/>' % (
                left, width - legend, y(decade), y(decade)))
            out.append('<text x="%d" y="%.1f" text-anchor="end">%g</text>' % (left - 6, y(decade) + 4, decade))
            decade *= 10
        bar_w = group_w * 0.8 / len(names)
        for gi, size in enumerate(sizes):
            gx = left + gi * group_w + group_w * 0.1
            for ti, tool in enumerate(names):
                match = [b for b in bars if b[0] == size and b[1] == tool]
                if not match:
                    continue
                rate = match[0][2]
                x = gx + ti * bar_w
                out.append('<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s"/>' % (
                    x, y(rate), bar_w - 2, y0 + top + plot_h - y(rate), colour[tool]))
                out.append('<text x="%.1f" y="%.1f" text-anchor="middle" font-size="10">%.0f</text>' % (
                    x + bar_w / 2, y(rate) - 3, rate))
            out.append('<text x="%.1f" y="%d" text-anchor="middle">%d files</text>' % (
                gx + group_w * 0.4, y0 + panel_h - bottom + 18, size))
    for ti, tool in enumerate(tools):
        ly = top + ti * 20
        out.append('<rect x="%d" y="%d" width="12" height="12" fill="%s"/>' % (width - legend + 10, ly, colour[tool]))
        out.append('<text x="%d" y="%d" font-size="11">%s</text>' % (width - legend + 28, ly + 10, tool))
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    sys.exit(main())
