#!/bin/sh
# Names each suite that was not run, one line each:
#   ... | not-run.sh WHAT REASON
# reads suite names on standard input and writes "not run: NAME (WHAT): REASON"
# for each. Fails when there are none: a list that came out empty means the
# suites could not even be listed, which must not pass for nothing skipped.
set -eu
what=$1
reason=$2
[ -n "$reason" ] || { echo "not-run: no reason given" >&2; exit 1; }
count=0
while IFS= read -r name; do
    [ -n "$name" ] || continue
    echo "not run: $name ($what): $reason"
    count=$((count + 1))
done
[ $count -gt 0 ] || { echo "not-run: no suite names for $what" >&2; exit 1; }
