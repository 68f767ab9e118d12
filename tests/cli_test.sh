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
# Where a scan must be caught in its middle, whatever the machine's speed, its
# rows go to one of these FIFOs and nobody reads them until then: a pipe holds
# 64 KiB on Linux, and the trees scanned so yield far more rows, so once its
# first row has been read the scanner cannot finish before the pipe is drained.
mkfifo "$work/rows1" "$work/rows2"
"$synth" "$work/tree" 7 --expect "$work/expected" >/dev/null || { echo "cli_test: synthesizer failed" >&2; exit 1; }
cp -R "$work/tree" "$work/pristine"

# --- usage --------------------------------------------------------------
"$scan" --help >"$work/out" 2>&1; expect_exit 0 $? "--help"
grep -q "detect-only" "$work/out" || fail "--help does not name --detect-only"
"$scan" --version >"$work/out" 2>&1; expect_exit 0 $? "--version"
grep -q '^velmora-scan [0-9]' "$work/out" || fail "--version prints no version"
# -j takes 1 to 256 readers, in decimal digits.
for args in "" "--detect-only" "--bogus $work/tree" "--detect-only $work/missing" "--detect-only $work/tree -j" \
    "-j 0 --detect-only $work/tree" "--jobs 257 --detect-only $work/tree" "-j 4x --detect-only $work/tree" \
    "-j -4 --detect-only $work/tree" "-j 4294967297 --detect-only $work/tree"; do
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

# --detect-only changes nothing, so it saves nothing: a quarantine given with
# it is neither made nor needed, not even one that could not be used. Without
# --detect-only that same folder is refused and nothing is changed.
"$scan" --detect-only --quarantine "$work/no-q" "$work/tree/worm_a.exe" >"$work/out" 2>"$work/err"
expect_exit 1 $? "--detect-only with a new quarantine"
[ -e "$work/no-q" ] && fail "--detect-only made the quarantine folder"
printf 'not a folder\n' >"$work/file-q"
"$scan" --detect-only --quarantine "$work/file-q" "$work/tree/worm_a.exe" >"$work/out" 2>"$work/err"
expect_exit 1 $? "--detect-only with an unusable quarantine"
[ -s "$work/err" ] && fail "--detect-only with an unusable quarantine: $(cat "$work/err")"
grep -q "worm_a.exe	infectado: " "$work/out" || fail "--detect-only with an unusable quarantine: no finding"
"$scan" --quarantine "$work/file-q" "$work/tree/worm_a.exe" >"$work/out" 2>"$work/err"; rc=$?
[ $((rc & 2)) -eq 2 ] && [ -s "$work/err" ] || fail "an unusable quarantine is not refused (exit status $rc)"
cmp -s "$work/tree/worm_a.exe" "$work/pristine/worm_a.exe" || fail "a scan whose quarantine was refused changed a file"

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

# --- rows that cannot be forged ----------------------------------------------
# As the coreutils checksum tools do: a path holding a control byte or a
# backslash is escaped and its row begins with a backslash; any other path is
# written as it is. Names carrying a tab, a newline, a backslash and other
# control bytes so stay inside their own row.
rm -rf "$work/forge"
mkdir -p "$work/forge"
worm="$work/pristine/worm_a.exe"
cp "$worm" "$work/forge/$(printf 'a\teliminado\nInfome del analisis\t.exe')"
cp "$worm" "$work/forge/$(printf 'b\\x\r\001\177.exe')"
cp "$worm" "$work/forge/$(printf 'c\\t.exe')"
cp "$worm" "$work/forge/$(printf 'back\\slash.exe')"
cp "$worm" "$work/forge/$(printf 'new\nline.exe')"
cp "$worm" "$work/forge/plain name.exe"
"$scan" --detect-only "$work/forge" >"$work/out"; expect_exit 1 $? "forged names"
[ "$(wc -l <"$work/out")" -eq 17 ] || fail "forged names: expected 6 rows and the report, got $(wc -l <"$work/out") lines"
[ "$(awk -F '\t' 'NF != 2' "$work/out" | wc -l)" -eq 0 ] || fail "forged names: a line without exactly one tab"
[ "$(grep -c '^Infome del analisis' "$work/out")" -eq 1 ] || fail "forged names: a forged report heading"
[ "$(grep -c '^\\' "$work/out")" -eq 5 ] || fail "forged names: expected 5 rows marked as escaped"
grep -qxF "\\$work/forge/a\\teliminado\\nInfome del analisis\\t.exe	infectado: Win32.Klez.A@mm" "$work/out" ||
    fail "forged names: tab and newline not escaped"
grep -qxF "\\$work/forge/b\\\\x\\r\\x01\\x7F.exe	infectado: Win32.Klez.A@mm" "$work/out" ||
    fail "forged names: backslash, carriage return or control bytes not escaped"
# A name that looks like an escape cannot pass for one.
grep -qxF "\\$work/forge/c\\\\t.exe	infectado: Win32.Klez.A@mm" "$work/out" || fail "forged names: a literal backslash-t"
grep -qxF "\\$work/forge/back\\\\slash.exe	infectado: Win32.Klez.A@mm" "$work/out" ||
    fail "forged names: a lone backslash not escaped"
grep -qxF "\\$work/forge/new\\nline.exe	infectado: Win32.Klez.A@mm" "$work/out" ||
    fail "forged names: a lone newline not escaped"
grep -qxF "$work/forge/plain name.exe	infectado: Win32.Klez.A@mm" "$work/out" ||
    fail "forged names: a plain name not written as it is"
# The same rule for the paths on standard error, and only for the path.
"$scan" --detect-only "$work/forge/$(printf 'no\\such\nfile')" "$work/forge/no such file" >"$work/out" 2>"$work/err"
expect_exit 2 $? "forged names: missing starting paths"
[ "$(wc -l <"$work/err")" -eq 2 ] || fail "forged names: expected one line per missing path: $(cat "$work/err")"
grep -qx "velmora-scan: \\\\$work/forge/no\\\\\\\\such\\\\nfile: .*[a-z].*" "$work/err" ||
    fail "forged names: an escaped path on standard error: $(head -n 1 "$work/err")"
grep -qx "velmora-scan: $work/forge/no such file: .*[a-z].*" "$work/err" ||
    fail "forged names: a plain path on standard error: $(tail -n 1 "$work/err")"
"$scan" "$work/forge" >"$work/out"; expect_exit 1 $? "forged names, disinfection"
[ -z "$(ls "$work/forge")" ] || fail "forged names: worm copies left"
[ "$(grep -c '	eliminado$' "$work/out")" -eq 6 ] || fail "forged names: six deletions expected"
"$scan" --help | grep -qF '\xHH' || fail "--help does not document the escapes"
"$scan" --help | grep -qF 'begins with a backslash' || fail "--help does not document the escaped rows' mark"

# --- paths through the quarantine ----------------------------------------------
# A name with control bytes is saved under its escaped row text, byte for
# byte, and comes back under exactly its own name; a backslash-x in the name
# itself stays text. An escape that ends the path is read as well.
rm -rf "$work/qt" "$work/q"
mkdir -p "$work/qt/a" "$work/qt/ab"
ctl=$(printf 'q\001\037\177\\x41.exe')
last=$(printf 'end\037')
for f in "a/$ctl" "a/$last" a/w.exe ab/w.exe ab.exe; do cp "$worm" "$work/qt/$f"; done
"$scan" --quarantine "$work/q" "$work/qt" >"$work/out" 2>"$work/err"; expect_exit 1 $? "quarantined scan"
escaped="\\$work/qt/a/q\\x01\\x1F\\x7F\\\\x41.exe"
grep -qxF "$escaped	eliminado" "$work/out" || fail "quarantine: the row of a name with control bytes: $(grep '^\\' "$work/out")"
ESCAPED=$escaped awk -F '\t' '$1 == "saved" { for (i = 2; i <= NF; i++) if ($i == ENVIRON["ESCAPED"]) n++ }
    END { exit n != 1 }' "$work/q/manifest.txt" || fail "quarantine: the manifest does not hold the escaped path as written"
[ -z "$(find "$work/qt" -type f)" ] || fail "quarantine: worm copies left"
# A restore under a folder takes what lies in it, not whatever begins with
# its name: qt/a takes neither qt/ab/ nor qt/ab.exe; qt/ab takes its file
# and still not qt/ab.exe.
"$scan" --restore "$work/q" "$work/qt/a" >"$work/out" 2>"$work/err"; expect_exit 0 $? "restore under qt/a"
grep -qxF "$escaped	restaurado" "$work/out" || fail "restore: the row of a name with control bytes"
cmp -s "$work/qt/a/$ctl" "$worm" || fail "restore: a name with control bytes did not come back as itself"
grep -qxF "\\$work/qt/a/end\\x1F	restaurado" "$work/out" && cmp -s "$work/qt/a/$last" "$worm" ||
    fail "restore: a name ending in a control byte did not come back as itself"
cmp -s "$work/qt/a/w.exe" "$worm" || fail "restore under qt/a: its file did not come back"
[ "$(find "$work/qt" -type f | wc -l)" -eq 3 ] || fail "restore under qt/a: $(find "$work/qt" -type f | sed 's#.*/qt/##' | tr '\n' ' ')"
"$scan" --restore "$work/q" "$work/qt/ab" >"$work/out" 2>"$work/err"; expect_exit 0 $? "restore under qt/ab"
[ "$(grep -c '	restaurado$' "$work/out")" -eq 1 ] && [ -e "$work/qt/ab/w.exe" ] && [ ! -e "$work/qt/ab.exe" ] ||
    fail "restore under qt/ab: not exactly its one file"
"$scan" --restore "$work/q" >"$work/out" 2>"$work/err"; expect_exit 0 $? "restore of the rest"
[ "$(grep -c '	restaurado$' "$work/out")" -eq 1 ] && cmp -s "$work/qt/ab.exe" "$worm" || fail "restore of the rest: not qt/ab.exe alone"

# --- the exit status: one bit per outcome ------------------------------------
# Errors are made by an unprivileged user, whom permissions stop (root's are
# not): setpriv drops to nobody when the test runs as root.
as_user() {
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
    else
        "$@"
    fi
}
rm -rf "$work/bits"
mkdir -p "$work/bits/err/locked" "$work/bits/ro" "$work/bits/ok"
cp "$worm" "$work/bits/err/w.exe"
cp "$worm" "$work/bits/err/locked/hidden.exe"
cp "$worm" "$work/bits/err/unreadable.exe"
printf 'plain\n' >"$work/bits/ok/readme.txt"
cp "$worm" "$work/bits/ro/w.exe"
cp "$work/pristine/elkern_a_rot0.exe" "$work/bits/ro/h.exe"
chmod 000 "$work/bits/err/locked" "$work/bits/err/unreadable.exe"
chmod 666 "$work/bits/ro/w.exe"
chmod 444 "$work/bits/ro/h.exe"
chmod 555 "$work/bits/ro"
chmod -R a+rX "$work/bits/ok" "$work/bits/err/w.exe"
chmod 755 "$work/bits" "$work/bits/err"

as_user "$scan" --detect-only "$work/bits/ok" >"$work/out" 2>"$work/err"; expect_exit 0 $? "bits: nothing found"
[ -s "$work/err" ] && fail "bits: nothing found, yet a message"
as_user "$scan" --detect-only "$work/bits/err" >"$work/out" 2>"$work/err"; expect_exit 3 $? "bits: found and errors"
[ "$(wc -l <"$work/err")" -eq 2 ] || fail "bits: expected one line per error"
grep -q "^velmora-scan: $work/bits/err/locked/: cannot open the folder (Permission denied)$" "$work/err" ||
    fail "bits: the unlistable folder is not named"
grep -q "^velmora-scan: $work/bits/err/unreadable.exe: cannot open the file (Permission denied)$" "$work/err" ||
    fail "bits: the unopenable file is not named"
as_user "$scan" --detect-only "$work/bits/ok/readme.txt" "$work/bits/err/unreadable.exe" >"$work/out" 2>"$work/err"
expect_exit 2 $? "bits: unreadable starting path"
[ -s "$work/out" ] && fail "bits: rows printed although a starting path is unreadable"
# Found, and not disinfected: the worm copy's folder cannot be written, the
# host cannot be written at all. Nothing is an error.
as_user "$scan" "$work/bits/ro" >"$work/out" 2>"$work/err"; expect_exit 5 $? "bits: not disinfected"
[ -s "$work/err" ] && fail "bits: not disinfected, yet an error message: $(cat "$work/err")"
grep -q "^Incapaz de desinfectar:	2$" "$work/out" || fail "bits: two files could not be disinfected"
cmp -s "$work/bits/ro/h.exe" "$work/pristine/elkern_a_rot0.exe" || fail "bits: a host that could not be written changed"
[ "$(stat -c %a "$work/bits/ro/h.exe")" = 444 ] || fail "bits: the mode of a file that is not ours changed"
# The same run as its owner disinfects everything: no bit 4.
"$scan" "$work/bits/ro" >"$work/out" 2>"$work/err"; expect_exit 1 $? "bits: disinfected"
[ -e "$work/bits/ro/w.exe" ] && fail "bits: worm copy left"
# Output that cannot be written.
"$scan" --detect-only "$work/bits/err/w.exe" >/dev/full 2>"$work/err"; expect_exit 3 $? "bits: output to a full disk"
grep -q "cannot write the results" "$work/err" || fail "bits: no message for the failed output"
"$scan" --detect-only "$work/bits/ok" >/dev/full 2>/dev/null; expect_exit 2 $? "bits: clean run, output to a full disk"
"$scan" --help >/dev/full 2>/dev/null; expect_exit 2 $? "--help to a full disk"
"$scan" --version >/dev/full 2>/dev/null; expect_exit 2 $? "--version to a full disk"
chmod -R u+rwX "$work/bits"

# --- starting paths ----------------------------------------------------------
ln -s "$work/bits/ok" "$work/link-start"
"$scan" --detect-only "$work/link-start" >"$work/out" 2>"$work/err"; expect_exit 2 $? "symbolic link as starting path"
grep -qx "velmora-scan: $work/link-start: is a symbolic link; give its target" "$work/err" ||
    fail "symbolic link as starting path: $(cat "$work/err")"
"$scan" --detect-only "$work/bits/err/w.exe" "$work/bits/err/w.exe" >"$work/out"; expect_exit 1 $? "same file twice"
grep -q "^Ficheros:	1$" "$work/out" || fail "the same file given twice was examined twice"
"$scan" --detect-only "$work/bits/err" "$work/bits/err/" "$work/bits/err/locked/.." >"$work/out"
grep -q "^Carpetas:	2$" "$work/out" || fail "the same folder given three times was walked more than once"
[ "$(grep -c '	infectado: ' "$work/out")" -eq 3 ] || fail "the same folder given three times: rows repeated"
# An identity is the device and the inode: one file by two spellings is one
# start, while two files, or two folders, of one file system are two.
"$scan" --detect-only "$work/bits/err/w.exe" "$work/bits/err/locked/../w.exe" >"$work/out"; expect_exit 1 $? "one file, two spellings"
grep -q "^Ficheros:	1$" "$work/out" || fail "one file given by two spellings was examined twice"
"$scan" --detect-only "$work/bits/err/w.exe" "$work/bits/err/unreadable.exe" "$work/bits/err/locked" "$work/bits/ok" \
    >"$work/out"; expect_exit 1 $? "two files and two folders"
grep -q "^Ficheros:	4$" "$work/out" && grep -q "^Carpetas:	2$" "$work/out" ||
    fail "two files and two folders of one file system: not all examined"
[ "$(grep -c '	infectado: ' "$work/out")" -eq 3 ] || fail "two files and two folders: $(grep -c '	infectado: ' "$work/out") rows"
# Two file systems whose roots, and first files, have the same inode numbers:
# both are walked.
if unshare -m true 2>/dev/null; then in_mounts="unshare -m sh -c"
elif unshare -rm true 2>/dev/null; then in_mounts="unshare -rm sh -c"
else in_mounts=""; fi
if [ -z "$in_mounts" ]; then
    echo "cli_test: note: mounting is not allowed here; starts on two file systems are not tested" >&2
else
    rm -rf "$work/mnt1" "$work/mnt2"
    mkdir -p "$work/mnt1" "$work/mnt2"
    # shellcheck disable=SC2016
    $in_mounts '
        mount -t tmpfs -o size=1m velmora-test "$1/mnt1" && mount -t tmpfs -o size=1m velmora-test "$1/mnt2" || exit 9
        cp "$3" "$1/mnt1/w.exe" && cp "$3" "$1/mnt2/w.exe" || exit 9
        stat -c %i "$1/mnt1" "$1/mnt1/w.exe" >"$1/inodes1" && stat -c %i "$1/mnt2" "$1/mnt2/w.exe" >"$1/inodes2"
        "$2" --detect-only "$1/mnt1" "$1/mnt2" "$1/mnt1/w.exe" "$1/mnt2/w.exe" >"$1/out" 2>"$1/err"; echo $? >"$1/rc"' \
        sh "$work" "$scan" "$worm" || fail "two file systems: set-up failed"
    cmp -s "$work/inodes1" "$work/inodes2" || echo "cli_test: note: the two file systems' inode numbers differ" >&2
    [ "$(cat "$work/rc")" -eq 1 ] || fail "two file systems: exit status $(cat "$work/rc")"
    grep -q "^Ficheros:	4$" "$work/out" && grep -q "^Carpetas:	2$" "$work/out" ||
        fail "two file systems with the same inode numbers: not all examined"
    rmdir "$work/mnt1" "$work/mnt2"
fi

# --- many starting paths -------------------------------------------------------
# A starting path is opened only when the scan comes to it, so 1,100 of them
# go through under a limit of 256 descriptors, and the worm copy in the last
# is found. One missing among them still stops the run before anything is
# scanned, and is named.
rm -rf "$work/many"
mkdir "$work/many"
(
    cd "$work/many" || exit 1
    i=0
    while [ $i -lt 1100 ]; do
        i=$((i + 1))
        mkdir "d$i" && printf 'plain\n' >"d$i/f.txt" || exit 1
    done
    cp "$worm" d1100/w.exe
) || fail "many starting paths: set-up failed"
case $scan in /*) here_scan=$scan ;; *) here_scan=$PWD/$scan ;; esac
# shellcheck disable=SC2046
(cd "$work/many" && ulimit -n 256 && exec "$here_scan" --detect-only $(seq -f 'd%g' 1 1100)) >"$work/out" 2>"$work/err"
expect_exit 1 $? "1,100 starting paths"
[ -s "$work/err" ] && fail "1,100 starting paths: $(head -n 2 "$work/err")"
grep -q "^Carpetas:	1100$" "$work/out" && grep -q "^Ficheros:	1101$" "$work/out" || fail "1,100 starting paths: not all scanned"
grep -q "d1100/w.exe	infectado: " "$work/out" || fail "1,100 starting paths: the worm copy in the last one is not found"
# shellcheck disable=SC2046
(cd "$work/many" && ulimit -n 256 && exec "$here_scan" --detect-only $(seq -f 'd%g' 1 1101)) >"$work/out" 2>"$work/err"
expect_exit 2 $? "1,100 starting paths and a missing one"
[ -s "$work/out" ] && fail "1,100 starting paths and a missing one: something was scanned"
[ "$(wc -l <"$work/err")" -eq 1 ] && grep -q "d1101: cannot read (No such file or directory)$" "$work/err" ||
    fail "1,100 starting paths and a missing one: $(head -n 2 "$work/err")"
rm -rf "$work/many"

# --- deep trees and long paths -----------------------------------------------
# 10,000 levels, and names whose full path is far beyond 4,096 bytes: the
# worm copies at the bottom are found and deleted, and the rows name them
# in full.
rm -rf "$work/deep"
mkdir -p "$work/deep"
chunk=d
i=1
while [ $i -lt 1000 ]; do
    chunk="$chunk/d"
    i=$((i + 1))
    [ $i -eq 100 ] && chunk100=$chunk
done
# No path handed to the system may exceed 4,096 bytes, so the tree is built
# from pieces that are moved into each other: ten chains of 1,000 folders,
# and 25 names of 201 bytes in two parts.
long=$(printf '%0200d' 0)
(
    cd "$work/deep" || exit 1
    names1=""
    names2=""
    i=0
    while [ $i -lt 25 ]; do
        if [ $i -lt 12 ]; then names1="$names1/$long$i"; else names2="$names2/$long$i"; fi
        i=$((i + 1))
    done
    mkdir -p "la$names1" "lb$names2" && cp "$worm" "lb$names2/longest.exe" &&
        mv "lb/${long}12" "la$names1/" || exit 1
    k=0
    while [ $k -lt 10 ]; do mkdir -p "c$k/$chunk" || exit 1; k=$((k + 1)); done
    cp "$worm" "c9/$chunk/bottom.exe" && mv "la/${long}0" "c9/$chunk/" || exit 1
    k=9
    while [ $k -gt 0 ]; do mv "c$k/d" "c$((k - 1))/$chunk/" || exit 1; k=$((k - 1)); done
    # Siblings of the chain high up: the walk comes back to them through
    # levels whose descriptors it had to close on the way down.
    for m in 1 2 3; do cp "$worm" "c0/$chunk100/m$m.exe" || exit 1; done
) || fail "deep tree: set-up failed"
"$scan" "$work/deep/c0" >"$work/out" 2>"$work/err"; expect_exit 1 $? "deep tree"
grep -q "^Carpetas:	10026$" "$work/out" || fail "deep tree: every folder is walked"
grep -q "^Eliminado:	5$" "$work/out" || fail "deep tree: all five worm copies deleted"
bottom=$(awk -F '\t' '$2 == "eliminado" && $1 ~ /bottom\.exe$/ { print length($1) }' "$work/out")
[ "$bottom" = $((${#work} + 9 + 20000 + 10)) ] || fail "deep tree: the row of the deepest copy does not name its whole path ($bottom)"
longest=$(awk -F '\t' '$2 == "eliminado" && $1 ~ /longest\.exe$/ { print length($1) }' "$work/out")
[ "${longest:-0}" -gt 4096 ] || fail "deep tree: the copy under the long names was not reached"
[ -s "$work/err" ] && fail "deep tree: $(head -c 300 "$work/err")"
rm -rf "$work/deep"

# --- a hostile tree: folders swapped for links during the scan --------------
# A folder of the tree is replaced by a symbolic link to a folder outside it.
# Outside lie files of the same names: worm copies, hosts and files of other
# modes, exactly what a scan that resolves paths again would delete, repair or
# chmod. The names are long, so that the folder's rows are well over twice
# what a pipe holds.
rm -rf "$work/race" "$work/victims" "$work/victims-pristine" "$work/race-src"
mkdir -p "$work/race/x" "$work/victims" "$work/race-src"
n=0
while [ $n -lt 150 ]; do
    n=$((n + 1))
    cp "$worm" "$work/race-src/w$n-$long.exe"
    cp "$work/pristine/elkern_a_rot0.exe" "$work/race-src/h$n-$long.exe"
done
chmod 444 "$work/race-src/w1-$long.exe" "$work/race-src/h1-$long.exe"
chmod 600 "$work/race-src/w2-$long.exe"
cp -p "$work/race-src"/* "$work/victims/"
cp -Rp "$work/victims" "$work/victims-pristine"
fingerprint() {  # folder: content and mode of each file in it
    (cd "$1" && md5sum -- * && stat -c '%a %n' -- *)
}
fingerprint "$work/victims-pristine" >"$work/victims.sums"
victims_unchanged() {  # what
    fingerprint "$work/victims" >"$work/victims.now" 2>&1
    cmp -s "$work/victims.sums" "$work/victims.now" ||
        fail "$1: outside the tree a file was changed, deleted or added, or its mode changed: $(diff "$work/victims.sums" "$work/victims.now" | grep '^[<>]' | head -n 1 | cut -c 1-80)"
}
# The helper keeps swapping the folder and back, so that the swaps land at
# whatever points of the scan they happen to meet. It is a small Python loop:
# a swap by separate commands is far too slow to land between two steps of
# the scan. It says on standard output when it has swapped once.
cat >"$work/swap.py" <<'PY'
import os, sys, time
os.chdir(sys.argv[1])
stop = sys.argv[2]
swaps = 0
while os.path.exists(stop):
    time.sleep(0.0003)
    os.rename("x", "x.real")
    os.symlink("../victims", "x")
    time.sleep(0.0003)
    os.unlink("x")
    os.rename("x.real", "x")
    swaps += 1
    if swaps == 1:
        print("swapping", flush=True)
PY
round=0
while [ $round -lt 8 ]; do
    round=$((round + 1))
    cp -p "$work/race-src"/* "$work/race/x/"
    : >"$work/race.stop"
    python3 "$work/swap.py" "$work/race" "$work/race.stop" >"$work/rows1" &
    swapper=$!
    exec 3<"$work/rows1"
    IFS= read -r _ <&3 || fail "race, round $round: the helper did not start"
    "$scan" "$work/race" >"$work/out" 2>"$work/err"; rc=$?
    "$scan" "$work/race" >>"$work/out" 2>>"$work/err"; rc2=$?
    rm -f "$work/race.stop"
    wait $swapper
    exec 3<&-
    [ -d "$work/race/x" ] && [ ! -L "$work/race/x" ] || fail "race, round $round: the folder was not put back"
    [ $rc -le 7 ] && [ $rc2 -le 7 ] || fail "race, round $round: exit status $rc, $rc2"
    [ "$(grep -c "^Infome del analisis	$" "$work/out")" -eq 2 ] || fail "race, round $round: no report"
    victims_unchanged "race, round $round"
    [ $status -eq 0 ] || break
done
# One interleaving is forced: the folder is swapped once the scan is inside
# it, and stays swapped. The files whose rows were still to be written (most
# of them) are all examined and treated after the swap.
cp -p "$work/race-src"/* "$work/race/x/"
"$scan" "$work/race" >"$work/rows1" 2>"$work/err" &
scanner=$!
exec 3<"$work/rows1"
IFS= read -r _ <&3 || fail "swap in mid-scan: no row"
{ mv "$work/race/x" "$work/race/x.real" && ln -s ../victims "$work/race/x"; } || fail "swap in mid-scan: set-up failed"
cat <&3 >"$work/out"
exec 3<&-
wait $scanner; rc=$?
[ $rc -le 7 ] || fail "swap in mid-scan: exit status $rc"
[ "$(tail -n 11 "$work/out" | head -n 1)" = "Infome del analisis	" ] || fail "swap in mid-scan: no report"
victims_unchanged "swap in mid-scan"
# Inside, each file is as it was or cured, and nothing was added.
wsum=$(md5sum <"$worm" | cut -d ' ' -f 1)
hsum=$(md5sum <"$work/pristine/elkern_a_rot0.exe" | cut -d ' ' -f 1)
csum=$(md5sum <"$work/expected/elkern_a_rot0.exe" | cut -d ' ' -f 1)
bad=$( (cd "$work/race/x.real" && md5sum -- *) | awk -v w="$wsum" -v h="$hsum" -v c="$csum" '
    !(($2 ~ /^w[0-9]+-0+\.exe$/ && $1 == w) || ($2 ~ /^h[0-9]+-0+\.exe$/ && ($1 == h || $1 == c))) { print $2 }')
[ -z "$bad" ] || fail "swap in mid-scan: neither as it was nor cured: $(echo "$bad" | head -n 3 | cut -c 1-40)"
rm -f "$work/race/x"
mv "$work/race/x.real" "$work/race/x"
# Without the helper the tree is disinfected completely.
"$scan" "$work/race" >"$work/out" 2>&1
"$scan" "$work/race" >"$work/out" 2>&1; expect_exit 0 $? "race: the tree after the rounds"
victims_unchanged "race, afterwards"
rm -rf "$work/race" "$work/victims" "$work/victims-pristine" "$work/race-src"

# --- progress on a terminal ----------------------------------------------------
# script(1) gives the scanner a pseudo-terminal for both outputs. The progress
# line appears there, and is erased before the report; not with --quiet, and
# never when standard error is not a terminal. The first folder is drawn at
# once, so that the line shows however fast the scan is over.
script -qec "\"$scan\" --detect-only \"$work/pristine\"" /dev/null >"$work/tty.out" 2>&1
grep -q "ficheros, [0-9]* carpetas, [0-9]* hallazgos, [0-9]*/s .*pristine/" "$work/tty.out" ||
    fail "progress: no progress line on a terminal"
tr '\r' '\n' <"$work/tty.out" | grep -q "^ *Infome del analisis" || fail "progress: the report is missing"
"$scan" --detect-only "$work/pristine" >"$work/out" 2>"$work/err"
[ -s "$work/err" ] && fail "progress: written to a file"
[ "$(tr '\r' '\n' <"$work/tty.out" | grep -c '	infectado: ')" -eq "$(grep -c '	infectado: ' "$work/out")" ] ||
    fail "progress: rows lost on a terminal"
tr '\r' '\n' <"$work/tty.out" | grep "ficheros, " | grep -q "	" && fail "progress: a row was written into the progress line"
script -qec "\"$scan\" --quiet --detect-only \"$work/pristine\"" /dev/null >"$work/tty.out" 2>&1
grep -q "hallazgos" "$work/tty.out" && fail "progress: shown despite --quiet"
script -qec "\"$scan\" --detect-only \"$work/pristine\" 2>\"$work/tty.err\"" /dev/null >/dev/null 2>&1
[ -s "$work/tty.err" ] && fail "progress: written although standard error is not a terminal"
# However long the folder's path, the line never grows past 79 columns: it
# then ends with the end of the path, in exactly the room that is left. The
# starting folder's long path is the first one drawn.
rm -rf "$work/progress"
mkdir -p "$work/progress/$long/$long"
cp "$worm" "$work/progress/$long/$long/w.exe"
script -qec "\"$scan\" --detect-only \"$work/progress/$long/$long\"" /dev/null >"$work/tty.out" 2>&1
LC_ALL=C tr '\r' '\n' <"$work/tty.out" | grep "ficheros, \|^ *$" >"$work/tty.lines"
widest=$(LC_ALL=C awk '{ if (length($0) > n) n = length($0) } END { print n + 0 }' "$work/tty.lines")
[ "$widest" -le 79 ] || fail "progress: a line of $widest columns"
grep -q "ficheros, .*\.\.\.0*/$" "$work/tty.lines" || fail "progress: the end of a long path is not shown"
[ "$(LC_ALL=C awk '/ficheros, / && length($0) == 79' "$work/tty.lines" | wc -l)" -gt 0 ] ||
    fail "progress: a long path is cut shorter than the room"
rm -rf "$work/progress"

# --- a large tree: many copies of the corpus ------------------------------
sums() {  # folder: "sum path" lines of its files, sorted by path
    (cd "$1" && find . -type f -exec md5sum {} + | sort -k 2)
}
rm -rf "$work/big" "$work/big-pristine" "$work/big-expected"
mkdir -p "$work/big-pristine" "$work/big-expected"
# The copies lie two long names down, so that every row is some 500 bytes
# and one run's rows come to over a megabyte: the scans caught in their middle
# below need many times what a pipe holds, run after run on the same tree.
n=0
while [ $n -lt 24 ]; do
    n=$((n + 1))
    mkdir -p "$work/big-pristine/d$n/$long" "$work/big-expected/d$n/$long"
    cp -R "$work/pristine" "$work/big-pristine/d$n/$long/$long"
    cp -R "$work/expected" "$work/big-expected/d$n/$long/$long"
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
# scanner leaves it. The second starts while the first is held in its middle,
# and both are held until each has written a row: they are in mid-scan
# together, then run on at once.
round=0
while [ $round -lt 8 ]; do
    round=$((round + 1))
    rm -rf "$work/big"
    cp -R "$work/big-pristine" "$work/big"
    "$scan" "$work/big" >"$work/rows1" 2>"$work/pair1.err" &
    first=$!
    exec 3<"$work/rows1"
    IFS= read -r _ <&3 || fail "two scanners, round $round: no row from the first"
    "$scan" "$work/big" >"$work/rows2" 2>"$work/pair2.err" &
    second=$!
    exec 4<"$work/rows2"
    IFS= read -r _ <&4 || fail "two scanners, round $round: no row from the second"
    cat <&3 >"$work/pair1.out" &
    drain1=$!
    cat <&4 >"$work/pair2.out" &
    drain2=$!
    wait $first; rc1=$?
    wait $second; rc2=$?
    wait $drain1 $drain2
    exec 3<&- 4<&-
    # A worm copy that the other scanner deleted first may count as not
    # disinfected (4); neither scanner meets an error (2).
    [ $((rc1 & 2)) -eq 0 ] && [ $((rc2 & 2)) -eq 0 ] ||
        fail "two scanners, round $round: exit status $rc1 and $rc2: $(cat "$work/pair1.err" "$work/pair2.err" | head -n 2)"
    for out in "$work/pair1.out" "$work/pair2.out"; do
        [ "$(tail -n 11 "$out" | head -n 1)" = "Infome del analisis	" ] || fail "two scanners, round $round: no report"
    done
    sums "$work/big" | cmp -s - "$work/expected.sums" || fail "two scanners, round $round: the tree differs from the expected tree"
    [ $status -eq 0 ] || break
done

# --- interruptions -----------------------------------------------------------
# Every file found after an interrupted run is either as it was or as
# disinfection leaves it, never in between; nothing is lost; no copy for
# treatment is left; the report is printed. The signal comes once the first
# row is read, while the scanner is held in its middle; the rest is read only
# afterwards, so that the scan stops for the signal, not for a closed pipe.
rm -rf "$work/big"
cp -R "$work/big-pristine" "$work/big"

# A signal that was ignored when the scanner started stays ignored (nohup,
# a background job): sent while the scanner is held in its middle, it stops
# nothing.
# signal_midway SIG COMMAND...: runs COMMAND with its rows into the FIFO
# rows1, which holds it after its first row, sends SIG there, and waits: the
# rest of the rows are in sig.out, standard error in sig.err, the status in rc.
signal_midway() {
    sig=$1
    shift
    "$@" >"$work/rows1" 2>"$work/sig.err" &
    pid=$!
    exec 3<"$work/rows1"
    IFS= read -r _ <&3 || fail "SIG$sig: no row"
    kill -s "$sig" $pid
    cat <&3 >"$work/sig.out"
    exec 3<&-
    wait $pid; rc=$?
}

present=$(find "$work/big" -type f | wc -l)
for sig in INT HUP; do
    signal_midway $sig sh -c 'trap "" "$1"; shift; exec "$@"' sh $sig "$scan" --detect-only "$work/big"
    expect_exit 1 $rc "ignored SIG$sig"
    [ -s "$work/sig.err" ] && fail "ignored SIG$sig: $(head -c 300 "$work/sig.err")"
    grep -q "^Ficheros:	$present$" "$work/sig.out" || fail "ignored SIG$sig: the scan did not go on to its end"
done

# -j N runs N readers beside the scanning thread (-j 1 none): all are started
# before the walk and stay to its end, so they are counted while the scan is
# held after its first row. The rows are the same for every number of them.
"$scan" --detect-only "$work/big" >"$work/jobs.out" 2>/dev/null
for jobs in "-j 1:1" "--jobs 4:5" "-j 256:257"; do
    # shellcheck disable=SC2086
    "$scan" --detect-only ${jobs%:*} "$work/big" >"$work/rows1" 2>"$work/err" &
    pid=$!
    exec 3<"$work/rows1"
    IFS= read -r first <&3 || fail "${jobs%:*}: no row"
    threads=$(ls "/proc/$pid/task" | wc -l)
    { printf '%s\n' "$first"; cat <&3; } >"$work/out"
    exec 3<&-
    wait $pid; expect_exit 1 $? "${jobs%:*}"
    [ "$threads" -eq "${jobs#*:}" ] || fail "${jobs%:*}: $threads threads, expected ${jobs#*:}"
    cmp -s "$work/out" "$work/jobs.out" || fail "${jobs%:*}: rows other than the default's"
done

# Each starting path is opened again when the scan comes to it, and scanned
# only if it is still what the check found. A file, a folder, and a folder
# swapped for a link while the scanner is held in the first start are named as
# errors, and nothing under their names is examined; a start left alone is.
rm -rf "$work/starts"
mkdir -p "$work/starts/dir" "$work/starts/lnk" "$work/starts/kept"
for f in w.exe dir/w.exe kept/w.exe; do cp "$worm" "$work/starts/$f"; done
"$scan" --detect-only "$work/big" "$work/starts/w.exe" "$work/starts/dir" "$work/starts/lnk" "$work/starts/kept" \
    >"$work/rows1" 2>"$work/err" &
pid=$!
exec 3<"$work/rows1"
IFS= read -r _ <&3 || fail "replaced starts: no row"
{
    mv "$work/starts/w.exe" "$work/starts/w.old" && cp "$worm" "$work/starts/w.exe" &&
        mv "$work/starts/dir" "$work/starts/dir.old" && mkdir "$work/starts/dir" && cp "$worm" "$work/starts/dir/new.exe" &&
        rmdir "$work/starts/lnk" && ln -s "$work/outside" "$work/starts/lnk"
} || fail "replaced starts: set-up failed"
cat <&3 >"$work/out"
exec 3<&-
wait $pid; rc=$?
expect_exit 3 $rc "replaced starts"
[ "$(wc -l <"$work/err")" -eq 3 ] || fail "replaced starts: expected three messages: $(cat "$work/err")"
grep -qx "velmora-scan: $work/starts/w.exe: cannot open the file: it was replaced during the scan" "$work/err" &&
    grep -qx "velmora-scan: $work/starts/dir: cannot list the folder: it was replaced during the scan" "$work/err" &&
    grep -qx "velmora-scan: $work/starts/lnk: cannot list the folder: it was replaced during the scan" "$work/err" ||
    fail "replaced starts: $(cat "$work/err")"
grep -q "/starts/w.exe	\|/starts/dir/\|/starts/lnk/" "$work/out" && fail "replaced starts: something under their names was examined"
grep -q "^$work/starts/kept/w.exe	infectado: " "$work/out" || fail "replaced starts: the start left alone was not scanned"
rm -rf "$work/starts"

# Background jobs of a script start with SIGINT ignored (and the scanner
# keeps an ignored SIGINT or SIGHUP ignored), so the default is restored.
for sig in INT TERM HUP INT TERM HUP; do
    present=$(find "$work/big" -type f | wc -l)
    signal_midway $sig env --default-signal=INT,HUP "$scan" "$work/big"
    expect_exit 3 $rc "SIG$sig (found, and stopped)"
    [ "$(cat "$work/sig.err")" = "velmora-scan: the scan was interrupted; the report covers only what was examined" ] ||
        fail "SIG$sig: expected the one message on stderr: $(head -c 300 "$work/sig.err")"
    [ "$(tail -n 11 "$work/sig.out" | head -n 1)" = "Infome del analisis	" ] || fail "SIG$sig: the report was not printed"
    examined=$(sed -n 's/^Ficheros:	//p' "$work/sig.out")
    [ "${examined:-$present}" -lt "$present" ] || fail "SIG$sig: the scan went on to the end ($examined files)"
    whole_or_cured "SIG$sig"
done

# A reader that goes away: the scan stops in order and says so. The reader
# takes one row and leaves; the rest cannot fit in the pipe.
{ "$scan" "$work/big" 2>"$work/pipe.err"; echo $? >"$work/pipe.rc"; } | { IFS= read -r _; }
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

# --- mail folders and archives ---------------------------------------------
# The threats inside them are rows of the folder or archive, byte for byte
# as the synthesizer says, with the report's lines about them; the found bit
# is set, and in neither mode is such a file changed.
rm -rf "$work/inside" "$work/inside-pristine"
"$synth" "$work/inside" 3 --inside "$work/inside.rows" --expect "$work/inside-pristine" >/dev/null ||
    fail "synthesizer --inside failed"
find "$work/inside" -maxdepth 1 -name '*.exe' -delete
find "$work/inside-pristine" -maxdepth 1 -name '*.exe' -delete
grep '	' "$work/inside.rows" | grep -v ':	' | sed "s|^|$work/inside/|" | sort >"$work/inside.want"
grep ':	' "$work/inside.rows" >"$work/inside.report"
for mode in --detect-only ""; do
    # shellcheck disable=SC2086
    "$scan" --quiet $mode "$work/inside" >"$work/out" 2>"$work/err"; rc=$?
    expect_exit 1 $rc "mail and archives ${mode:-disinfecting}"
    grep "^$work/inside/" "$work/out" | sort | cmp -s - "$work/inside.want" ||
        fail "mail and archives ${mode:-disinfecting}: rows differ: $(grep "^$work/inside/" "$work/out" | sort | diff - "$work/inside.want")"
    tail -n 3 "$work/out" | cmp -s - "$work/inside.report" || fail "mail and archives ${mode:-disinfecting}: report $(tail -n 3 "$work/out")"
    grep -q "^Infectado:	0$" "$work/out" || fail "mail and archives ${mode:-disinfecting}: a file itself was infected"
    diff -r "$work/inside" "$work/inside-pristine" >/dev/null || fail "mail and archives ${mode:-disinfecting}: a file was changed"
done

[ $status -eq 0 ] && echo "cli_test: all checks passed"
exit $status
