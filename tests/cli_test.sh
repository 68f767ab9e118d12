#!/bin/sh
# End-to-end check of velmora-scan on a synthesized tree:
#   cli_test.sh VELMORA_SCAN VELMORA_SYNTH WORKDIR
set -u
scan=$1
synth=$2
work=$3
status=0

fail() {
    echo "cli_test: FAIL: $*" >&2
    status=1
}

expect_exit() {  # expected actual what
    [ "$1" -eq "$2" ] || fail "$3: exit status $2, expected $1"
}

rm -rf "$work"
mkdir -p "$work/tree/sub" "$work/clean" "$work/outside"
"$synth" "$work/tree" 7 --expect "$work/expected" >/dev/null || { echo "cli_test: synthesizer failed" >&2; exit 1; }
cp -R "$work/tree" "$work/pristine"

# --- usage --------------------------------------------------------------
"$scan" --help >"$work/out" 2>&1; expect_exit 0 $? "--help"
grep -q "detect-only" "$work/out" || fail "--help does not name --detect-only"
"$scan" --version >"$work/out" 2>&1; expect_exit 0 $? "--version"
grep -q '^velmora-scan [0-9]' "$work/out" || fail "--version prints no version"
for args in "" "--detect-only" "--bogus $work/tree" "--detect-only $work/missing"; do
    # shellcheck disable=SC2086
    "$scan" $args >"$work/out" 2>"$work/err"; rc=$?
    expect_exit 2 $rc "velmora-scan $args"
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "velmora-scan $args: expected a one-line message on stderr"
    [ -s "$work/out" ] && fail "velmora-scan $args: printed rows on a usage error"
done

# --- read-only mode -------------------------------------------------------
printf 'plain text\n' >"$work/clean/readme.txt"
"$scan" --detect-only "$work/clean" >"$work/out"; expect_exit 0 $? "clean folder"
[ "$(wc -l <"$work/out")" -eq 11 ] || fail "clean folder: expected the eleven report rows only"
head -n 1 "$work/out" | grep -q "^Infome del analisis	$" || fail "report heading"
grep -q "^Ficheros:	1$" "$work/out" || fail "clean folder: Ficheros"

# Things the scan must neither follow nor open.
mkfifo "$work/tree/sub/pipe.exe"
cp "$work/tree/worm_a.exe" "$work/outside/w.exe"
ln -s "$work/outside/w.exe" "$work/tree/sub/link.exe"
ln -s "$work/outside" "$work/tree/sub/linkdir"

timeout 300 "$scan" --detect-only "$work/tree" >"$work/out"; rc=$?
expect_exit 1 $rc "detect-only on the tree"
for f in "$work/pristine"/*.exe; do
    cmp -s "$f" "$work/tree/$(basename "$f")" || fail "detect-only changed $(basename "$f")"
done
grep -q "link.exe" "$work/out" && fail "a symbolic link was examined"
grep -q "linkdir" "$work/out" && fail "a linked folder was walked"
grep -q "pipe.exe" "$work/out" && fail "a FIFO was examined"
# Every finding row is path TAB infectado:/advertencia: name.
findings=$(grep -c "	infectado: \|	advertencia: " "$work/out")
other=$(grep -v "	infectado: \|	advertencia: " "$work/out" | wc -l)
[ "$other" -eq 11 ] || fail "detect-only printed rows other than findings and the report"
infected=$(sed -n 's/^Infectado:	//p' "$work/out")
warnings=$(sed -n 's/^Advertencias:	//p' "$work/out")
[ "$findings" -eq $((infected + warnings)) ] || fail "finding rows ($findings) and counters ($infected + $warnings) disagree"
[ "$infected" -gt 0 ] && [ "$warnings" -gt 0 ] || fail "the tree holds both infections and warnings"
grep -q "^Desinfectado:	0$" "$work/out" || fail "detect-only reports no disinfection"

# A single file is examined alone.
"$scan" --detect-only "$work/tree/worm_a.exe" >"$work/out"; expect_exit 1 $? "single file"
grep -q "^Carpetas:	0$" "$work/out" || fail "single file: no folder walked"
grep -q "^Ficheros:	1$" "$work/out" || fail "single file: one file"

# --- disinfection -----------------------------------------------------------
rm -rf "$work/tree/sub"
"$scan" "$work/tree" >"$work/out"; expect_exit 1 $? "disinfection"
# What is left is exactly the expected tree: hosts repaired byte for byte,
# worm copies gone, everything else untouched.
for f in "$work/expected"/*; do
    cmp -s "$f" "$work/tree/$(basename "$f")" || fail "$(basename "$f") differs from what disinfection should leave"
done
for f in "$work/tree"/*; do
    [ -e "$work/expected/$(basename "$f")" ] || fail "$(basename "$f") should have been deleted"
done
grep -q "	eliminado$" "$work/out" || fail "no row for a deleted worm copy"
grep -q "	desinfectado$" "$work/out" || fail "no row for a repaired host"
[ -f "$work/outside/w.exe" ] || fail "a file outside the tree was touched"

# A second run finds nothing left to cure.
"$scan" "$work/tree" >"$work/out"
grep -q "^Infectado:	0$" "$work/out" || fail "second run still finds infected files"

# --- a large tree: many copies of the corpus ------------------------------
sums() {  # folder: "sum path" lines of its files, sorted by path
    (cd "$1" && find . -type f -exec md5sum {} + | sort -k 2)
}
rm -rf "$work/big" "$work/big-pristine" "$work/big-expected"
mkdir -p "$work/big-pristine" "$work/big-expected"
n=0
while [ $n -lt 24 ]; do
    n=$((n + 1))
    cp -R "$work/pristine" "$work/big-pristine/d$n"
    cp -R "$work/expected" "$work/big-expected/d$n"
done
sums "$work/big-expected" >"$work/expected.sums"
{ sums "$work/big-pristine"; cat "$work/expected.sums"; } >"$work/allowed.sums"

whole_or_cured() {  # what
    sums "$work/big" >"$work/now.sums"
    bad=$(awk 'NR == FNR { ok[$2 " " $1] = 1; next } !(($2 " " $1) in ok) { print $2 }' \
          "$work/allowed.sums" "$work/now.sums")
    [ -z "$bad" ] || fail "$1: neither as it was nor cured: $bad"
    lost=$(awk 'NR == FNR { have[$2] = 1; next } !($2 in have) { print $2 }' "$work/now.sums" "$work/expected.sums")
    [ -z "$lost" ] || fail "$1: lost: $lost"
    [ -z "$(find "$work/big" -name '*.zq-*')" ] || fail "$1: a copy for treatment was left behind"
}

# --- two scanners at once ------------------------------------------------
# Both check and repair the same files; whichever comes second must find the
# file already cured and leave it alone, so the tree ends exactly as one
# scanner leaves it.
round=0
while [ $round -lt 8 ]; do
    round=$((round + 1))
    rm -rf "$work/big"
    cp -R "$work/big-pristine" "$work/big"
    "$scan" "$work/big" >"$work/pair1.out" 2>&1 &
    first=$!
    "$scan" "$work/big" >"$work/pair2.out" 2>&1 &
    second=$!
    wait $first; rc1=$?
    wait $second; rc2=$?
    [ $rc1 -le 1 ] && [ $rc2 -le 1 ] || fail "two scanners, round $round: exit status $rc1 and $rc2"
    grep -q "^Incapaz de desinfectar:	" "$work/pair1.out" || fail "two scanners, round $round: no report"
    grep -q "^Incapaz de desinfectar:	" "$work/pair2.out" || fail "two scanners, round $round: no report"
    sums "$work/big" | cmp -s - "$work/expected.sums" || fail "two scanners, round $round: the tree differs from the expected tree"
    [ $status -eq 0 ] || break
done

# --- interruptions -----------------------------------------------------------
# Every file found after an interrupted run is either as it was or as
# disinfection leaves it, never in between; nothing is lost; no copy for
# treatment is left; the report is printed.
rm -rf "$work/big"
cp -R "$work/big-pristine" "$work/big"

# Background jobs of a script start with SIGINT ignored (and the scanner
# keeps an ignored SIGINT or SIGHUP ignored), so the default is restored.
interrupted=0
for sig in INT TERM HUP INT TERM HUP; do
    rm -f "$work/sig.out"
    env --default-signal=INT,HUP "$scan" "$work/big" >"$work/sig.out" 2>"$work/sig.err" &
    pid=$!
    # Wait for the first row, so that the signal comes in the middle.
    tries=0
    while [ ! -s "$work/sig.out" ] && [ $tries -lt 600 ] && kill -0 $pid 2>/dev/null; do
        sleep 0.05
        tries=$((tries + 1))
    done
    kill -s $sig $pid 2>/dev/null
    wait $pid; rc=$?
    if [ $rc -eq 3 ]; then
        interrupted=$((interrupted + 1))
    elif [ $rc -gt 1 ]; then
        fail "SIG$sig: exit status $rc, expected 3 (or 0/1 if the run had ended)"
    fi
    [ "$(tail -n 11 "$work/sig.out" | head -n 1)" = "Infome del analisis	" ] || fail "SIG$sig: the report was not printed"
    whole_or_cured "SIG$sig"
done
[ $interrupted -gt 0 ] || fail "no run was interrupted: the tree is too small for this machine"

# A reader that goes away: the scan stops in order and says so.
{ "$scan" "$work/big" 2>"$work/pipe.err"; echo $? >"$work/pipe.rc"; } | head -n 1 >/dev/null
[ "$(cat "$work/pipe.rc")" -eq 3 ] || fail "closed output: exit status $(cat "$work/pipe.rc"), expected 3"
grep -q "cannot write the results" "$work/pipe.err" || fail "closed output: no message on stderr"
whole_or_cured "closed output"

# Finish the job; then a second run finds nothing and the tree is as expected.
"$scan" "$work/big" >"$work/out" 2>&1; rc=$?
[ $rc -le 1 ] || fail "completing run: exit status $rc"
"$scan" "$work/big" >"$work/out"; rc=$?
[ $rc -le 1 ] || fail "run after completion: exit status $rc"
grep -q "^Infectado:	0$" "$work/out" || fail "a run after the interrupted ones still finds infected files"
sums "$work/big" | cmp -s - "$work/expected.sums" || fail "after interruptions the tree differs from the expected tree"
rm -rf "$work/big" "$work/big-pristine" "$work/big-expected" "$work/pair"

[ $status -eq 0 ] && echo "cli_test: all checks passed"
exit $status
