#!/bin/sh
# The scan benchmark: `make bench` builds what it needs and runs this.
# Extra arguments go to bench.py (--sizes "2000", --runs 1, --no-wine for
# neither Wine build, --no-clam, --inside-mb "64" for the sizes of the mail
# and archive mixes, --no-inside for none). BENCH_NATIVE names a native
# build other than build/native. bench/inside_bench.py alone measures only
# the mixes and replaces only their section of the results. clamscan comes
# from Debian's clamav package, installed here for the benchmark only; the
# tests never need it.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

if ! command -v clamscan >/dev/null 2>&1 || ! command -v sigtool >/dev/null 2>&1; then
    if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
        echo "installing clamav for the benchmark"
        DEBIAN_FRONTEND=noninteractive apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clamav >/dev/null
    else
        echo "clamscan not found and cannot be installed here: the benchmark runs without it" >&2
    fi
fi

exec python3 "$root/bench/bench.py" "$@"
