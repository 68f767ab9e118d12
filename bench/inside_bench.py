#!/usr/bin/env python3
"""The benchmark of what lies inside files (run by `make bench` through
bench.py, or alone): the scan of a mix of mail folders and of a mix of
archives against the floor of reading every byte.

For each mix size (MiB, 1024 by default): velmora-bench-inside writes a mail
mix (mbox, Outlook Express .dbx, .eml) and an archive mix (ZIP stored and
deflated, RAR 4 and RAR5 stored), one attachment or entry in 100 a worm
copy. Warm cache, best of N runs each, side by side: the floor, which is
`velmora-bare-reader --whole` (every file read whole, nothing computed),
plus for archives zlib's inflate over exactly the deflated entries' bytes
from memory (`velmora-bench-inside inflate`); and `velmora-scan
--detect-only` at its default number of readers and with -j 1, whose rows
must name exactly the planted worm copies. Writes its own section of
bench/results.md, between two marks, leaving the rest of the file alone.

    python3 bench/inside_bench.py [--inside-mb "256 1024"] [--runs 3]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build", "bench")
BEGIN = "<!-- inside: written by bench/inside_bench.py -->"
END = "<!-- end of inside -->"
INFECTED = ("mensaje infectado: ", "contiene ")
NOT_INFECTED = ("contiene con advertencia ",)
# The scanner is held to this many times its floor.
TARGET = 2.0


def native_dir(given=None):
    return os.path.abspath(given or os.environ.get("BENCH_NATIVE") or os.path.join(ROOT, "build", "native"))


def run(cmd):
    """(wall seconds, CPU seconds, peak RSS in KiB, stdout, exit status) of
    one run. The CPU time is the child's own (user and system; on a machine
    shared with other jobs the steadier measure), from wait4, which counts
    GNU time's child too; GNU time gives the peak of the program itself (a
    fork of this script would count the script's memory)."""
    os.makedirs(WORK, exist_ok=True)
    peak_file = os.path.join(WORK, "inside-peak.txt")
    start = time.perf_counter()
    proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file] + cmd, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    seconds = time.perf_counter() - start
    with open(peak_file) as f:
        numbers = [w for w in f.read().split() if w.isdigit()]
    return (seconds, usage.ru_utime + usage.ru_stime, int(numbers[-1]) if numbers else 0,
            out.decode("utf-8", "replace"), proc.returncode)


def best_of(runs, cmd):
    """The run of least wall time, with the least CPU time of all runs."""
    results = [run(cmd) for _ in range(runs)]
    best = min(results, key=lambda r: r[0])
    return (best[0], min(r[1] for r in results)) + best[2:]


def infected_rows(output, tree):
    """{path: infected rows} and the other rows about files of the tree
    (damaged folders, CRC mismatches, warnings), from a scan's output. The
    mixes' paths hold nothing a row escapes."""
    counts, others = {}, []
    for line in output.splitlines():
        if "\t" not in line or not line.startswith(tree + "/"):
            continue
        path, status = line.split("\t", 1)
        if status.startswith(INFECTED) and not status.startswith(NOT_INFECTED):
            counts[path] = counts.get(path, 0) + 1
        else:
            others.append(line[len(tree) + 1:])
    return counts, others


def read_planted(tree):
    planted = {}
    with open(tree + ".planted") as f:
        for line in f:
            path, count = line.rstrip("\n").split("\t")
            planted[path] = int(count)
    return planted


def check(output, tree, planted):
    """Found exactly the planted worm copies: ("yes", []) or ("no: ...",
    notes naming the files read short or long)."""
    counts, others = infected_rows(output, tree)
    want, got = sum(planted.values()), sum(counts.values())
    wrong = sorted(p for p in set(planted) | set(counts) if planted.get(p, 0) != counts.get(p, 0))
    notes = ["%s: %d planted, %d found" % (os.path.relpath(p, tree), planted.get(p, 0), counts.get(p, 0))
             for p in wrong[:5]]
    notes += ["other row: " + o for o in others[:5]]
    if not wrong and not others:
        return "yes (%d)" % got, notes
    verdict = "yes (%d)" % got if not wrong else "no: %d of %d" % (got, want)
    if others:
        verdict += ", %d other row%s" % (len(others), "" if len(others) == 1 else "s")
    return verdict, notes


def measure(kind, megabytes, seed, runs, native, scan, keep, notes):
    inside = os.path.join(native, "bench", "velmora-bench-inside")
    floor = os.path.join(native, "bench", "velmora-bare-reader")
    tree = os.path.join(WORK, "inside-%s-%d" % (kind, megabytes))
    print("== writing a %s mix of %d MiB" % (kind, megabytes), flush=True)
    made = subprocess.run([inside, kind, tree, str(megabytes), str(seed)], check=True, stdout=subprocess.PIPE,
                          text=True).stdout
    print(made.strip(), flush=True)
    fields = re.match(r"(\d+) infected in (\d+) \S+, (\d+) files, (\d+) bytes", made)
    planted = read_planted(tree)
    result = {"kind": kind, "mb": megabytes, "planted": int(fields.group(1)), "items": int(fields.group(2)),
              "files": int(fields.group(3)), "bytes": int(fields.group(4)), "rows": []}
    if result["planted"] != sum(planted.values()):
        notes.append("%s mix of %d MiB: the generator printed %d planted, its list holds %d."
                     % (kind, megabytes, result["planted"], sum(planted.values())))

    run([floor, "--whole", tree])  # warms the cache
    whole = best_of(runs, [floor, "--whole", tree])
    read = whole[3].strip()
    if not read.endswith(" %d bytes read" % result["bytes"]):
        notes.append("%s mix of %d MiB: the whole read reported \"%s\" for %d bytes." % (kind, megabytes, read,
                                                                                        result["bytes"]))
    # Rows: label, wall seconds, CPU seconds, peak KiB (0: not measured), found.
    result["rows"].append(("floor: whole read (`velmora-bare-reader --whole`)", whole[0], whole[1], whole[2], "-"))
    result["floor"] = (whole[0], whole[1])
    print("whole read %.3f s (%.3f s of CPU)" % whole[:2], flush=True)
    if kind == "archive":
        inflate = None
        for _ in range(runs):
            proc = subprocess.run([inside, "inflate", tree + ".deflated"], stdout=subprocess.PIPE, text=True)
            if proc.returncode != 0:
                notes.append("archive mix of %d MiB: the inflate floor failed (%d)." % (megabytes, proc.returncode))
            taken = re.match(r"([0-9.]+) seconds \(([0-9.]+) of CPU\)", proc.stdout)
            wall, cpu = float(taken.group(1)), float(taken.group(2))
            inflate = (wall, cpu, proc.stdout.strip()) if inflate is None else (
                min(wall, inflate[0]), min(cpu, inflate[1]), proc.stdout.strip())
        result["inflated"] = inflate[2]
        result["rows"].append(("inflate of the deflated entries (zlib, from memory, timed alone)", inflate[0],
                               inflate[1], 0, "-"))
        result["floor"] = (whole[0] + inflate[0], whole[1] + inflate[1])
        result["rows"].append(("floor: whole read + inflate",) + result["floor"] + (0, "-"))
        print(inflate[2], flush=True)

    for label, cmd in (("velmora-scan --detect-only", [scan, "--detect-only"]),
                       ("velmora-scan --detect-only -j 1", [scan, "--detect-only", "-j", "1"])):
        t = best_of(runs, cmd + [tree])
        found, why = check(t[3], tree, planted)
        if t[4] not in (0, 1):
            why.append("exit status %d" % t[4])
        notes.extend("%s mix of %d MiB, %s: %s" % (kind, megabytes, label, w) for w in why)
        result["rows"].append((label, t[0], t[1], t[2], found))
        print("%s %.3f s (%.3f s of CPU), found %s" % (label, t[0], t[1], found), flush=True)
    own = os.path.join(native, "cli", "velmora-scan")
    if os.path.realpath(scan) != os.path.realpath(own):
        # Another scanner was timed: what the build's own one finds, once.
        found, why = check(run([own, "--detect-only", tree])[3], tree, planted)
        notes.append("%s mix of %d MiB: `%s` (not timed) found %s%s" % (
            kind, megabytes, os.path.relpath(own, ROOT), found, ": " + "; ".join(why[:2]) if why else "."))
    if not keep:
        shutil.rmtree(tree, ignore_errors=True)
        for listing in (tree + ".planted", tree + ".deflated"):
            if os.path.exists(listing):
                os.remove(listing)
    return result


def section(results, runs, seed):
    best = "One run each." if runs == 1 else "Best of %d runs each." % runs
    lines = [BEGIN, "## Inside mail folders and archives", "",
             "Written by `bench/inside_bench.py` (run by `make bench`). Warm cache. " + best +
             " Mixes from `velmora-bench-inside` (seed %d): mail is half mbox files (a third of them with "
             "CR LF lines), a third Outlook Express folders, the rest single `.eml` messages; folders hold 2 to "
             "48 MiB of messages, seven in ten with one to three base64 attachments of 20 to 200 KB (programs, "
             "documents, pseudo-random data). Archives are 60 %% ZIP (programs and texts deflated, "
             "pseudo-random data stored), 20 %% each RAR 4 and RAR5 (stored), of 1 to 24 MiB, entries of 16 to "
             "256 KiB. One attachment or entry in 100 is a worm copy." % seed, "",
             "The floor is reading every byte: `velmora-bare-reader --whole` reads each file whole in 1 MiB "
             "reads and computes nothing; for archives, zlib's raw inflate of exactly the deflated entries' "
             "bytes, from memory, is added. The target is a scan within %gx its floor. The machine is shared with "
             "other jobs: the CPU times (the processes' own user and system time, best of the runs) are the "
             "steadier measure; a tool with readers ahead may spend more CPU than time." % TARGET, "",
             "| mix | on disk (MB) | files | items | planted | tool | best time (s) | MB/s | vs floor "
             "| best CPU time (s) | vs floor, CPU | peak memory (MiB) | found exactly the planted |",
             "| --- | ---: | ---: | ---: | ---: | --- | ---: | ---: | ---: | ---: | ---: | ---: | --- |"]
    verdicts = []
    for r in results:
        mix = "%s, %d MiB" % (r["kind"], r["mb"])
        wall_floor, cpu_floor = r["floor"]
        for label, seconds, cpu, peak, found in r["rows"]:
            floor_row = label.startswith(("floor", "inflate"))
            lines.append("| %s | %.0f | %d | %d | %d | %s | %.3f | %.0f | %s | %.3f | %s | %s | %s |" % (
                mix, r["bytes"] / 1e6, r["files"], r["items"], r["planted"], label, seconds,
                r["bytes"] / 1e6 / seconds if seconds else 0, "-" if floor_row else "%.2f" % (seconds / wall_floor),
                cpu, "-" if floor_row else "%.2f" % (cpu / cpu_floor), "-" if not peak else "%.1f" % (peak / 1024.0),
                found))
            if not floor_row:
                wall, used = seconds / wall_floor, cpu / cpu_floor
                verdicts.append("- %s: `%s` takes %.2fx its floor (%.2fx in CPU time): the target of %gx is %s." % (
                    mix, label, wall, used, TARGET, "met" if max(wall, used) <= TARGET else
                    "missed" if min(wall, used) > TARGET else "met in one measure only"))
        if "inflated" in r:
            verdicts.append("- %s: the inflate floor: %s." % (mix, r["inflated"]))
    return lines + [""] + verdicts


def read_section(path):
    """The lines of this benchmark's section of path, or None."""
    try:
        text = open(path).read()
    except OSError:
        return None
    if BEGIN not in text or END not in text:
        return None
    return text[text.index(BEGIN):text.index(END)].rstrip("\n").split("\n")


def put_section(path, lines):
    """Puts the section into path in place of the old one, or at its end."""
    try:
        text = open(path).read()
    except OSError:
        text = ""
    block = "\n".join(lines).rstrip("\n") + "\n" + END + "\n"
    if BEGIN in text and END in text:
        text = text[:text.index(BEGIN)] + block + text[text.index(END) + len(END):].lstrip("\n")
    else:
        text = text.rstrip("\n") + ("\n\n" if text else "") + block
    with open(path, "w") as f:
        f.write(text)


def bench(sizes, runs, results_path, native=None, scan=None, seed=1, keep=False, scan_note=""):
    native = native_dir(native)
    scan = scan or os.path.join(native, "cli", "velmora-scan")
    notes = []
    if os.path.realpath(scan) != os.path.realpath(os.path.join(native, "cli", "velmora-scan")):
        notes.append("The scanner timed is `%s`%s." % (os.path.relpath(scan, ROOT),
                                                       ": " + scan_note.rstrip(".") if scan_note else ""))
    results = []
    for megabytes in sizes:
        for kind in ("mail", "archive"):
            results.append(measure(kind, megabytes, seed, runs, native, scan, keep, notes))
    lines = section(results, runs, seed)
    if notes:
        lines += ["", "Notes:", ""] + ["- " + n for n in notes]
    put_section(results_path, lines)
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--inside-mb", default=os.environ.get("BENCH_INSIDE_MB", "1024"),
                        help="mix sizes in MiB, separated by blanks")
    parser.add_argument("--runs", type=int, default=int(os.environ.get("BENCH_RUNS", "3")))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--native", help="the native build (BENCH_NATIVE, build/native)")
    parser.add_argument("--scan", default=os.environ.get("BENCH_INSIDE_SCAN"),
                        help="the velmora-scan to time (the native build's)")
    parser.add_argument("--scan-note", default="", help="what the scanner given by --scan is")
    parser.add_argument("--keep", action="store_true", help="leave the mixes in build/bench")
    parser.add_argument("--results", default=os.path.join(ROOT, "bench", "results.md"))
    args = parser.parse_args()
    lines = bench([int(s) for s in args.inside_mb.split()], args.runs, args.results, args.native, args.scan,
                  args.seed, args.keep, args.scan_note)
    print("\n".join(lines))


if __name__ == "__main__":
    sys.exit(main())
