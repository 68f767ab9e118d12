#!/bin/sh
# The mixes of the benchmark of what lies inside files hold what they claim:
#   inside_check.sh VELMORA_BENCH_INSIDE VELMORA_BARE_READER VELMORA_SCAN WORKDIR
# For each row of mixes: the count printed is the sum of the ledger, the
# same seed writes the same bytes, the whole read reads every byte written,
# every file holds exactly the worm copies its ledger names as the scanner
# sees the file alone, and every deflated range inflates to its size (one
# byte off, none does). Then the usage errors.
set -u
inside=$1
bare=$2
scan=$3
work=$4
status=0

fail() {
    echo "inside_check: FAIL: $*" >&2
    status=1
}

rm -rf "$work"
mkdir -p "$work"

# kind, MiB, seed
while read -r kind mb seed; do
    tree="$work/$kind-$mb-$seed"
    what="$kind $mb MiB seed $seed"
    "$inside" "$kind" "$tree" "$mb" "$seed" >"$work/made" || { fail "$what: status $?"; continue; }
    planted=$(cut -d' ' -f1 "$work/made")
    items=$(cut -d' ' -f4 "$work/made")
    bytes=$(cut -d' ' -f8 "$work/made")
    listed=$(awk -F'\t' '{ n += $2 } END { print n + 0 }' "$tree.planted")
    [ "$planted" = "$listed" ] || fail "$what: $planted planted printed, $listed in the ledger"
    # One item in 100, the 50th of each hundred.
    [ "$planted" -eq $(( (items + 50) / 100 )) ] || fail "$what: $planted planted among $items items"
    [ "$planted" -gt 0 ] || fail "$what: nothing planted"
    [ "$bytes" -ge $(( mb << 20 )) ] || fail "$what: $bytes bytes, fewer than asked"

    cp "$tree.planted" "$work/first.planted"
    find "$tree" -type f -exec cksum {} + | sort >"$work/first.sums"
    "$inside" "$kind" "$tree" "$mb" "$seed" >/dev/null
    find "$tree" -type f -exec cksum {} + | sort | cmp -s - "$work/first.sums" || fail "$what: a second run differs"
    cmp -s "$tree.planted" "$work/first.planted" || fail "$what: a second ledger differs"

    files=$(find "$tree" -type f | wc -l)
    read_all=$("$bare" --whole "$tree")
    [ "$read_all" = "$files files, $bytes bytes read" ] || fail "$what: the whole read says \"$read_all\""
    read_heads=$("$bare" "$tree" | cut -d' ' -f3)
    [ "$read_heads" -lt "$bytes" ] || fail "$what: without --whole, $read_heads bytes read of $bytes"

    # The scanner, one file at a time: each file's rows of infected items
    # against its line in the ledger (none: no line).
    find "$tree" -type f | sort | while read -r file; do
        want=$(awk -F'\t' -v f="$file" '$1 == f { print $2 }' "$tree.planted")
        got=$("$scan" --detect-only "$file" | grep -c "	mensaje infectado: \|	contiene Win32")
        [ "$got" = "${want:-0}" ] || echo "$file: ${want:-0} planted, $got found"
    done >"$work/short"
    [ -s "$work/short" ] && fail "$what: $(cat "$work/short")"

    if [ "$kind" = archive ]; then
        [ -s "$tree.deflated" ] || fail "$what: no deflated entry"
        "$inside" inflate "$tree.deflated" >"$work/inflated" || fail "$what: the ranges do not inflate"
        ranges=$(wc -l <"$tree.deflated")
        grep -q " to inflate $ranges entries," "$work/inflated" || fail "$what: $(cat "$work/inflated")"
        awk -F'\t' 'NR == 1 { $2 += 1 } { print $1 "\t" $2 "\t" $3 "\t" $4 }' "$tree.deflated" >"$work/off"
        "$inside" inflate "$work/off" >/dev/null 2>&1
        [ $? -eq 1 ] || fail "$what: a range one byte off inflates"
    elif [ -e "$tree.deflated" ]; then
        fail "$what: a mail mix lists deflated ranges"
    fi
    rm -rf "$tree"
done <<EOF
mail 8 1
mail 7 9
archive 8 1
archive 6 9
EOF

# Sizes are whole MiB from 1 on; anything else is a usage error, as is an
# unknown job or a missing list of ranges.
"$inside" mail "$work/one" 1 5 >/dev/null || fail "1 MiB refused"
for args in "mail $work/u 0 1" "mail $work/u 1048577 1" "mail $work/u 1x 1" "mail $work/u -1 1" \
    "news $work/u 1 1" "mail $work/u 1" "inflate" "inflate $work/missing"; do
    # shellcheck disable=SC2086
    "$inside" $args >/dev/null 2>&1
    [ $? -eq 2 ] || fail "velmora-bench-inside $args: not a usage error"
done

[ $status -eq 0 ] && rm -rf "$work"
exit $status
