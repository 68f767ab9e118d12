#!/usr/bin/env python3
"""Scan throughput benchmark (run by `make bench`, never by the tests).

For each tree size: builds a tree with velmora-bench-tree, then runs, best
of three each, the bare reader (the floor), `velmora-scan --detect-only`,
the win64 velmora-scan.exe under wine64 and clamscan in a lean
configuration, warm cache; the floor and velmora-scan also cold (the tree's
own files evicted with posix_fadvise DONTNEED, never the machine's caches).
Writes bench/results.md and bench/results.svg.
"""
import argparse
import math
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NATIVE = os.path.join(ROOT, "build", "native")
WIN64 = os.path.join(ROOT, "build", "win64")
WORK = os.path.join(ROOT, "build", "bench")
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
PREFIX = os.path.join(WORK, "wineprefix")

TREE = os.path.join(NATIVE, "bench", "velmora-bench-tree")
FLOOR = os.path.join(NATIVE, "bench", "velmora-bare-reader")
ALLOC = os.path.join(NATIVE, "bench", "libvelmora-alloc-count.so")
SCAN = os.path.join(NATIVE, "cli", "velmora-scan")
SCAN_EXE = os.path.join(WIN64, "cli", "velmora-scan.exe")
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


def clam_supported_flags():
    text = subprocess.run(["clamscan", "--help"], capture_output=True, text=True).stdout
    return [f for f in CLAM_LEAN if f.split("=")[0] in text]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default=os.environ.get("BENCH_SIZES", "20000 100000"))
    parser.add_argument("--runs", type=int, default=int(os.environ.get("BENCH_RUNS", "3")))
    parser.add_argument("--no-wine", action="store_true")
    parser.add_argument("--no-clam", action="store_true")
    parser.add_argument("--results", default=os.path.join(ROOT, "bench", "results.md"))
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split()]
    os.makedirs(WORK, exist_ok=True)

    wine = not args.no_wine and os.path.exists(SCAN_EXE) and os.path.exists(WINE)
    clam = not args.no_clam and shutil.which("clamscan") and shutil.which("sigtool")
    if wine:
        # A persistent wineserver for the whole benchmark, so that runs do not
        # pay for starting one; the prefix is made by the test runner script.
        subprocess.run(["sh", os.path.join(ROOT, "cmake", "wine-run.sh"), PREFIX, SCAN_EXE, "--version"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wine_env = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all")
        subprocess.Popen([WINESERVER, "-p"], env=wine_env).wait()
        wine_start = best_of(args.runs, [WINE, SCAN_EXE, "--version"], env=wine_env)[0]
    else:
        wine_start = None
    clam_flags = clam_supported_flags() if clam else []

    tree_bytes = {}
    rows = []   # (size, tool, seconds, files/s, peak KiB, missing list, note)
    cold = []   # (size, tool, seconds, files/s)
    allocs = {}
    folders = {}
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

            # Warm the cache once, then best of three for each tool.
            run([FLOOR, tree])
            t = best_of(args.runs, [FLOOR, tree])
            rows.append((size, "floor (bare reader)", t[0], size / t[0], t[1], [], ""))
            print("floor %.3f s" % t[0], flush=True)

            t = best_of(args.runs, [SCAN, "--detect-only", tree])
            rows.append((size, "velmora-scan --detect-only", t[0], size / t[0], t[1], found_all(t[2], threats), ""))
            print("velmora-scan %.3f s" % t[0], flush=True)

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

            if wine:
                t = best_of(args.runs, [WINE, SCAN_EXE, "--detect-only", "Z:" + tree.replace("/", "\\")], env=wine_env)
                rows.append((size, "velmora-scan.exe (win64, wine64)", t[0], size / t[0], t[1],
                             found_all(t[2], threats, windows=True), "peak memory is the wine64 loader's"))
                print("wine %.3f s" % t[0], flush=True)
                if OLD_SCAN_EXE and os.path.exists(OLD_SCAN_EXE):
                    t = best_of(args.runs, [WINE, OLD_SCAN_EXE, "--detect-only", "Z:" + tree.replace("/", "\\")],
                                env=wine_env)
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

            t = best_of(args.runs, [FLOOR, tree], cold_tree=tree)
            cold.append((size, "floor (bare reader)", t[0], size / t[0]))
            t = best_of(args.runs, [SCAN, "--detect-only", tree], cold_tree=tree)
            cold.append((size, "velmora-scan --detect-only", t[0], size / t[0]))
            print("cold done", flush=True)
            shutil.rmtree(tree, ignore_errors=True)
    finally:
        if wine:
            subprocess.run([WINESERVER, "-k"], env=wine_env, stderr=subprocess.DEVNULL)

    write_results(args.results, sizes, rows, cold, allocs, folders, clam_flags, wine_start, tree_bytes)
    write_chart(os.path.join(os.path.dirname(args.results), "results.svg"), sizes, rows)
    print(open(args.results).read())


def write_results(path, sizes, rows, cold, allocs, folders, clam_flags, wine_start, tree_bytes):
    lines = ["# Scan benchmark results", "",
             "Written by `make bench` (`bench/run.sh`). Figures come from a shared 2-core machine "
             "on which other jobs ran at the same time: compare ratios within one run, not "
             "absolute figures between runs. Best of three runs each.", "",
             "Trees: " + ", ".join("%d files (%.0f MB)" % (s, tree_bytes[s] / 1e6) for s in sizes) +
             "; PE images and DLLs with unique tails, random binaries of 1 to 64 KiB, small text files "
             "and one of every synthesized threat (`velmora-bench-tree`).", "",
             "## Warm cache", "",
             "| files | tool | best time (s) | files/s | vs floor | peak memory (MiB) | every planted threat found |",
             "| ---: | --- | ---: | ---: | ---: | ---: | --- |"]
    floor = {r[0]: r[2] for r in rows if r[1].startswith("floor")}
    for size, tool, seconds, rate, peak, missing, note in rows:
        found = "-" if tool.startswith("floor") else ("yes" if not missing else "no (%d missing)" % len(missing))
        lines.append("| %d | %s | %.3f | %.0f | %.2f | %.1f | %s |" % (
            size, tool, seconds, rate, seconds / floor[size], peak / 1024.0, found))
    lines += ["", "## Cold cache (the tree's files evicted before each run)", "",
              "| files | tool | best time (s) | files/s | vs floor |", "| ---: | --- | ---: | ---: | ---: |"]
    cold_floor = {c[0]: c[2] for c in cold if c[1].startswith("floor")}
    for size, tool, seconds, rate in cold:
        lines.append("| %d | %s | %.3f | %.0f | %.2f |" % (size, tool, seconds, rate, seconds / cold_floor[size]))
    if wine_start is not None:
        lines += ["", "The wine64 figures include starting the program under wine64 (a persistent wineserver "
                  "runs for the whole benchmark); `velmora-scan.exe --version` alone takes %.3f s." % wine_start]
    lines += ["", "## Against clamscan", ""]
    for size in sizes:
        scan = [r for r in rows if r[0] == size and r[1].startswith("velmora-scan --")]
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
    lines += ["", "![files/s per tool and tree size](results.svg)", ""]
    with open(path, "w") as f:
        f.write("\n".join(lines))


def write_chart(path, sizes, rows):
    """Grouped bars, files/s on a logarithmic axis, one group per tree size."""
    tools = []
    for r in rows:
        if r[1] not in tools:
            tools.append(r[1])
    colours = ["#888888", "#1f77b4", "#9ecae1", "#ff7f0e", "#fdd0a2", "#2ca02c", "#d62728"]
    width, height, left, bottom, top = 960, 380, 70, 60, 30
    legend = 330
    plot_h = height - bottom - top
    rates = [r[3] for r in rows]
    lo = 10 ** int(math.floor(math.log10(min(rates))))
    hi = 10 ** int(math.ceil(math.log10(max(rates))))

    def y(v):
        return top + plot_h - plot_h * (math.log10(v) - math.log10(lo)) / (math.log10(hi) - math.log10(lo))

    group_w = (width - left - legend) / len(sizes)
    bar_w = group_w * 0.8 / len(tools)
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" font-size="12">'
           % (width, height), '<rect width="100%" height="100%" fill="white"/>',
           '<text x="%d" y="18" font-size="14">Files per second (log scale), best of three, warm cache</text>' % left]
    decade = lo
    while decade <= hi:
        out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="#ddd"/>' % (left, width - legend, y(decade), y(decade)))
        out.append('<text x="%d" y="%.1f" text-anchor="end">%g</text>' % (left - 6, y(decade) + 4, decade))
        decade *= 10
    for gi, size in enumerate(sizes):
        gx = left + gi * group_w + group_w * 0.1
        for ti, tool in enumerate(tools):
            match = [r for r in rows if r[0] == size and r[1] == tool]
            if not match:
                continue
            rate = match[0][3]
            x = gx + ti * bar_w
            out.append('<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s"/>' % (
                x, y(rate), bar_w - 2, top + plot_h - y(rate), colours[ti % len(colours)]))
            out.append('<text x="%.1f" y="%.1f" text-anchor="middle" font-size="10">%.0f</text>' % (
                x + bar_w / 2, y(rate) - 3, rate))
        out.append('<text x="%.1f" y="%d" text-anchor="middle">%d files</text>' % (
            gx + group_w * 0.4, height - bottom + 18, size))
    for ti, tool in enumerate(tools):
        ly = top + 20 + ti * 20
        out.append('<rect x="%d" y="%d" width="12" height="12" fill="%s"/>' % (width - legend + 10, ly, colours[ti % len(colours)]))
        out.append('<text x="%d" y="%d" font-size="11">%s</text>' % (width - legend + 28, ly + 10, tool))
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    sys.exit(main())
