#!/bin/sh
# bench/repair_bench.sh SYNTH WORK_DIR INFECTED_FILES RUNS SCAN...
# Times `SCAN TREE` disinfecting a tree of INFECTED_FILES synthesized
# infected files (Elkern A/B/C hosts and worm copies, 200 to a folder),
# planted afresh in WORK_DIR before each run, with each SCAN (for instance
# the velmora-scan of this version and of an earlier one) in turn, RUNS
# times. Prints the median and the best wall time of each, and how many
# fsync calls one run makes. WORK_DIR should be on the disk that matters:
# on tmpfs a flush costs nothing.
set -eu
synth=$1
work=$2
count=$3
runs=$4
shift 4
mkdir -p "$work"
work=$(cd "$work" && pwd)
rm -rf "$work/seed"
"$synth" "$work/seed" 11 >/dev/null

seed=$work/seed
. "$(dirname "$0")/plant_infected.sh"

now() { date +%s%N; }
echo "| scanner | infected files | median | best | fsync calls |"
echo "| --- | ---: | ---: | ---: | ---: |"
for scan in "$@"; do
    times=""
    i=0
    while [ "$i" -lt "$runs" ]; do
        plant "$count" "$work/tree"
        sync
        t0=$(now)
        "$scan" "$work/tree" >/dev/null || true
        times="$times $((($(now) - t0) / 1000000))"
        i=$((i + 1))
    done
    flushes=n/a
    if command -v strace >/dev/null 2>&1; then
        plant "$count" "$work/tree"
        sync
        flushes=$(strace -f -c -e trace=fsync,fdatasync -o /dev/stdout "$scan" "$work/tree" 2>/dev/null |
            awk '$NF == "fsync" || $NF == "fdatasync" { n += $4 } END { print n + 0 }')
    fi
    echo "$times" | tr ' ' '\n' | grep . | sort -n | awk -v s="$scan" -v c="$count" -v f="$flushes" '
        { t[NR] = $1 } END { printf "| %s | %d | %.2f s | %.2f s | %s |\n", s, c, t[int((NR + 1) / 2)] / 1000, t[1] / 1000, f }'
done
