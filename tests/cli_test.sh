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

[ $status -eq 0 ] && echo "cli_test: all checks passed"
exit $status
