#!/bin/sh
# The quarantine and the restore run as root on a tree that an unprivileged
# user controls: folders swapped for links before and during a restore,
# forged manifest lines, a quarantine others can write, owners and modes,
# two scanners sharing a new quarantine, relative and many starting paths,
# and what a failed restore says and leaves behind.
#   quarantine_root_test.sh VELMORA_SCAN VELMORA_SYNTH WORKDIR
# Cases that need root (another user's files, the attacker's steps) are
# skipped, saying so, when the test does not run as root.
set -u
umask 022
scan=$1
synth=$2
work=$3
status=0
nobody=65534
# Some steps run from other folders.
case $scan in /*) ;; *) scan=$PWD/$scan ;; esac

fail() {
    echo "quarantine_root_test: FAIL: $*" >&2
    status=1
}
skipped() { echo "quarantine_root_test: skipped (needs root): $*" >&2; }
is_root() { [ "$(id -u)" -eq 0 ]; }

# The attacker's steps run as nobody from inside the tree it owns, so the
# folders above it need not be open to it.
as_attacker() {  # folder command...
    (cd "$1" && shift && setpriv --reuid=$nobody --regid=$nobody --clear-groups "$@")
}
case_dir() { t=$work/$1; mkdir -p "$t"; }
run() { "$scan" "$@" >"$t/out" 2>"$t/err"; rc=$?; }
expect_rc() {  # status what
    [ "$rc" -eq "$1" ] || fail "$2: exit status $rc, expected $1: $(head -n 2 "$t/err")"
}
says() {  # text what
    grep -qF -- "$1" "$t/err" || fail "$2: standard error does not name $1: $(head -n 2 "$t/err")"
}
empty_dir() {  # folder what
    [ -z "$(find "$1" -mindepth 1)" ] || fail "$2: written in $1: $(find "$1" -mindepth 1 | head -n 3)"
}
rows() { grep -c "	$1$" "$t/out"; }
no_leftover() {  # folder what
    [ -z "$(find "$1" -name '*.vq-restore*')" ] || fail "$2: a temporary file was left"
}
# Runs the scanner under a file size limit (in the shell's blocks), SIGXFSZ
# ignored or at its default; both outputs go through pipes to writers without
# the limit, and the status to $t/rc.
limited() {  # blocks ignore|default arguments...
    blocks=$1
    signal=$2
    shift 2
    # shellcheck disable=SC3045  # dash and bash both know ulimit -c
    ( ( (ulimit -c 0; ulimit -f "$blocks"
         if [ "$signal" = ignore ]; then trap '' XFSZ; exec "$scan" "$@"; fi
         exec env --default-signal=XFSZ "$scan" "$@"); echo $? >"$t/rc") 2>&1 1>&3 3>&- |
        cat >"$t/err") 3>&1 | cat >"$t/out"
    rc=$(cat "$t/rc")
}

rm -rf "$work"
mkdir -p "$work"
"$synth" "$work/syn" 11 --expect "$work/expected" >/dev/null || { echo "quarantine_root_test: synthesizer failed" >&2; exit 1; }
worm=$work/syn/worm_a.exe
host=elkern_a_rot0.exe  # repaired, not deleted
cmp -s "$work/syn/$host" "$work/expected/$host" && { echo "quarantine_root_test: $host is not repaired" >&2; exit 1; }

# --- 1. a folder swapped for a link before the restore ---------------------
# The restore walks the recorded way folder by folder and refuses a link on
# it: nothing is written behind the link, nor in the folder under its new name.
if is_root; then
    case_dir swap
    mkdir -p "$t/tree/d" "$t/elsewhere"
    cp "$worm" "$t/tree/d/worm.exe"
    chown -R $nobody:$nobody "$t/tree"
    run --quarantine "$t/q" "$t/tree"; expect_rc 1 "swap: the scan"
    # shellcheck disable=SC2016
    as_attacker "$t/tree" sh -c 'mv d d.old && ln -s "$1" d' sh "$t/elsewhere"
    run --restore "$t/q"; expect_rc 2 "folder swapped before the restore"
    says "$t/tree/d" "folder swapped before the restore"
    empty_dir "$t/elsewhere" "folder swapped before the restore"
    empty_dir "$t/tree/d.old" "folder swapped before the restore"
    [ "$(rows restaurado)" -eq 0 ] || fail "folder swapped before the restore: a row says restored"
else
    skipped "a folder swapped for a link before the restore"
fi

# --- 2. the same swap while the restore runs ---------------------------------
# The restore is held between two of its entries: rows go one per restored
# file, flushed, to a FIFO read only once the swap is made, and the 200 rows
# before z's entry (about 180 KiB) are far more than a pipe holds (64 KiB),
# so once its first row has been read it has restored files but cannot reach
# z's entry. z's entry is the manifest's last, and its path sorts last too.
if is_root; then
    case_dir held
    long=$(printf '%0200d' 0)
    deep=$t/tree/a/$long/$long/$long/$long
    mkdir -p "$deep" "$t/tree/z" "$t/elsewhere"
    i=0
    while [ $i -lt 200 ]; do i=$((i + 1)); cp "$worm" "$deep/w$i.exe"; done
    cp "$worm" "$t/tree/z/worm.exe"
    chown -R $nobody:$nobody "$t/tree"
    "$scan" --quarantine "$t/q" "$t/tree/a" >/dev/null 2>&1
    "$scan" --quarantine "$t/q" "$t/tree/z" >/dev/null 2>&1
    mkfifo "$t/rows"
    "$scan" --restore "$t/q" >"$t/rows" 2>"$t/err" &
    pid=$!
    exec 3<"$t/rows"
    IFS= read -r first <&3 || fail "held restore: no row"
    case $first in "$t/tree/a/"*) ;; *) fail "held restore: first row $first" ;; esac
    # shellcheck disable=SC2016
    as_attacker "$t/tree" sh -c 'mv z z.old && ln -s "$1" z' sh "$t/elsewhere"
    cat <&3 >"$t/out"
    exec 3<&-
    wait $pid; rc=$?
    expect_rc 2 "folder swapped during the restore"
    says "$t/tree/z" "folder swapped during the restore"
    empty_dir "$t/elsewhere" "folder swapped during the restore"
    empty_dir "$t/tree/z.old" "folder swapped during the restore"
    [ "$(rows restaurado)" -eq 199 ] || fail "folder swapped during the restore: the other files are not all back"
    no_leftover "$t/tree" "folder swapped during the restore"
else
    skipped "a folder swapped for a link during the restore"
fi

# --- 3. forged manifest lines -------------------------------------------------
# An entry of a quarantine of the attacker's own, and copies of it in Q; each
# forged line is refused and named, the others are restored.
case_dir forged
mkdir -p "$t/tree/d" "$t/victim" "$t/payload"
cp "$worm" "$t/tree/d/worm.exe"
cp "$work/syn/worm_b.exe" "$t/payload/p.exe"
"$scan" --quarantine "$t/aq" "$t/payload" >/dev/null 2>&1
# A forged line is the attacker's true line with another id and path.
forge() {  # id path
    awk -F '\t' -v OFS='\t' -v id="$1" -v path="$2" '$1 == "saved" { $2 = id; $NF = path; print }' "$t/aq/manifest.txt"
}
run --quarantine "$t/q" "$t/tree"; expect_rc 1 "forged: the scan"
for id in 0000006 00000007 00000008 00000009; do cp "$t/aq/00000001.vq" "$t/q/$id.vq"; done
{
    forge ../aq/00000001 "$t/victim/ld.so.preload"
    forge 0000006 "$t/victim/seven.exe"
    forge 00000007 "$t/tree/../victim/dotdot.exe"
    forge 00000008 "$t/victim/./dot.exe"
    forge 00000009 victim/relative.exe
} >"$t/forged"
cat "$t/forged" >>"$t/q/manifest.txt"
(cd "$t" && "$scan" --restore "$t/q" >"$t/out" 2>"$t/err"); rc=$?
expect_rc 2 "forged lines"
empty_dir "$t/victim" "forged lines"
[ -z "$(find "$t" -name dotdot.exe -o -name relative.exe)" ] || fail "forged lines: a file was written"
awk -F '\t' '{ print $2 " " $NF }' "$t/forged" >"$t/named"
while read -r id path; do
    grep -qF -e "$id" -e "$path" "$t/err" || fail "forged line $id $path: not named: $(head -n 2 "$t/err")"
done <"$t/named"
cmp -s "$t/tree/d/worm.exe" "$worm" || fail "forged lines: the true entry is not back"
[ "$(rows restaurado)" -eq 1 ] || fail "forged lines: not one restored row"
# Q made writable by others: the attacker writes its manifest, and Q itself
# is refused, the entry of a true line as well.
if is_root; then
    run --quarantine "$t/q" "$t/tree"; expect_rc 1 "forged: a scan into a quarantine with refused lines"
    chmod 0777 "$t/q"
    cat "$t/q/manifest.txt" "$t/forged" | as_attacker "$t/q" sh -c 'rm -f manifest.txt && cat >manifest.txt'
    (cd "$t" && "$scan" --restore "$t/q" >"$t/out" 2>"$t/err"); rc=$?
    expect_rc 2 "a manifest others can write"
    says "$t/q" "a manifest others can write"
    empty_dir "$t/victim" "a manifest others can write"
    [ -e "$t/tree/d/worm.exe" ] && fail "a manifest others can write: its entries were restored"
else
    skipped "forged lines written by another user"
fi

# --- 4. a quarantine folder others can write, a manifest that is a link ---------
case_dir open
mkdir -p "$t/tree"
cp "$worm" "$t/tree/w.exe"
cp "$worm" "$t/tree/x.exe"
run --quarantine "$t/q" "$t/tree/w.exe"; expect_rc 1 "open quarantine: the scan"
ln -s q "$t/qlink"
refused() {  # quarantine what
    before=$(find "$t/q" | sort | md5sum; md5sum <"$t/q/manifest.txt")
    run --quarantine "$1" "$t/tree/x.exe"; expect_rc 2 "$2: --quarantine"
    says "$1" "$2: --quarantine"
    cmp -s "$t/tree/x.exe" "$worm" || fail "$2: a file was changed"
    grep -q "eliminado" "$t/out" && fail "$2: a file was scanned"
    run --restore "$1"; expect_rc 2 "$2: --restore"
    says "$1" "$2: --restore"
    [ -e "$t/tree/w.exe" ] && fail "$2: a file was restored"
    [ "$(find "$t/q" | sort | md5sum; md5sum <"$t/q/manifest.txt")" = "$before" ] || fail "$2: the quarantine was written"
}
chmod 0757 "$t/q"; refused "$t/q" "a quarantine others can write (0757)"
chmod 0777 "$t/q"; refused "$t/q" "a quarantine of mode 0777"
chmod 0700 "$t/q"; refused "$t/qlink" "a quarantine reached through a link"
# A manifest that is a link to another file of the user's is no manifest:
# nothing is read from that file nor appended to it.
mv "$t/q/manifest.txt" "$t/manifest.txt"
echo keep >"$t/victim.txt"
ln -s ../victim.txt "$t/q/manifest.txt"
refused "$t/q" "a manifest that is a link"
[ "$(cat "$t/victim.txt")" = keep ] || fail "a manifest that is a link: the file it leads to was written"
rm "$t/q/manifest.txt"
mv "$t/manifest.txt" "$t/q/manifest.txt"
if is_root; then
    chown $nobody "$t/q"; refused "$t/q" "a quarantine owned by nobody"
    chown 0 "$t/q"
else
    skipped "a quarantine owned by another user"
fi
# Others may read it, not write it: at that limit it is used.
chmod 0755 "$t/q"
run --restore "$t/q"; expect_rc 0 "a quarantine others can read"
cmp -s "$t/tree/w.exe" "$worm" || fail "a quarantine others can read: the file is not back"

# --- 5. owner, group and mode --------------------------------------------------
# Hard links: the restore puts back the name that was scanned, as a file of
# its own; the file's other names (here one outside the scanned tree) keep
# what the scan left.
if is_root; then
    case_dir owner
    mkdir -p "$t/tree" "$t/outside"
    cp "$work/syn/$host" "$t/tree/host.exe"
    cp "$worm" "$t/tree/w.exe"
    chown -R $nobody:$nobody "$t/tree"
    chmod 4755 "$t/tree/host.exe"
    chmod 0664 "$t/tree/w.exe"
    ln "$t/tree/host.exe" "$t/outside/link.exe"
    run --quarantine "$t/q" "$t/tree"; expect_rc 1 "owner: the scan"
    left=$(md5sum <"$t/outside/link.exe")
    run --restore "$t/q"; expect_rc 0 "owner: the restore"
    cmp -s "$t/tree/host.exe" "$work/syn/$host" || fail "owner: the setuid host is not back"
    cmp -s "$t/tree/w.exe" "$worm" || fail "owner: the worm copy is not back"
    [ "$(stat -c '%u:%g %a' "$t/tree/host.exe")" = "$nobody:$nobody 4755" ] ||
        fail "owner: the setuid host came back as $(stat -c '%U:%G %a' "$t/tree/host.exe")"
    [ "$(stat -c '%u:%g %a' "$t/tree/w.exe")" = "$nobody:$nobody 664" ] ||
        fail "owner: the worm copy came back as $(stat -c '%U:%G %a' "$t/tree/w.exe")"
    [ "$(md5sum <"$t/outside/link.exe")" = "$left" ] || fail "owner: the other name was changed by the restore"
    [ "$(stat -c %h "$t/tree/host.exe")" -eq 1 ] || fail "owner: the restored name is still linked"
else
    skipped "owner, group and mode given back"
fi

# --- 6. two scanners into one new quarantine at once -----------------------------
case_dir shared
for side in one two; do
    mkdir -p "$t/$side"
    i=0
    while [ $i -lt 300 ]; do i=$((i + 1)); cp "$worm" "$t/$side/w$i.exe"; echo "$t/$side/w$i.exe"; done
done | sort >"$t/expected"
"$scan" --quarantine "$t/q" "$t/one" >"$t/out1" 2>"$t/err1" &
pid1=$!
"$scan" --quarantine "$t/q" "$t/two" >"$t/out2" 2>"$t/err2" &
pid2=$!
wait $pid1; rc1=$?
wait $pid2; rc2=$?
[ $((rc1 * 10 + rc2)) -eq 11 ] || fail "two scanners: exit statuses $rc1 and $rc2: $(cat "$t/err1" "$t/err2" | head -n 2)"
[ -s "$t/err1" ] || [ -s "$t/err2" ] && fail "two scanners: $(cat "$t/err1" "$t/err2" | head -n 2)"
[ -z "$(find "$t/one" "$t/two" -type f)" ] || fail "two scanners: files left"
awk -F '\t' '$1 == "saved" { print $NF }' "$t/q/manifest.txt" | sort >"$t/saved"
cmp -s "$t/saved" "$t/expected" || fail "two scanners: $(wc -l <"$t/saved") saved lines for 600 files"
[ "$(awk -F '\t' '$1 == "saved" { print $2 }' "$t/q/manifest.txt" | sort -u | wc -l)" -eq 600 ] ||
    fail "two scanners: entry numbers shared"
[ "$(find "$t/q" -name '*.vq' | wc -l)" -eq 600 ] || fail "two scanners: not 600 entries"
run --restore "$t/q"; expect_rc 0 "two scanners: the restore"
[ "$(rows restaurado)" -eq 600 ] || fail "two scanners: $(rows restaurado) of 600 restored"
sum=$(md5sum <"$worm" | cut -d ' ' -f 1)
[ "$(find "$t/one" "$t/two" -type f -exec md5sum {} + | awk -v sum="$sum" '$1 == sum' | wc -l)" -eq 600 ] ||
    fail "two scanners: not every file is back as it was"

# --- 7. relative starting paths, restored from another folder ---------------------
case_dir relative
mkdir -p "$t/tree/sub" "$t/tree/sub2" "$t/other"
cp "$worm" "$t/tree/sub/w.exe"
cp "$worm" "$t/tree/sub2/w.exe"
(cd "$t/tree" && "$scan" --quarantine "$t/q" sub >/dev/null 2>&1); rc=$?
expect_rc 1 "relative path sub"
(cd "$t/other" && "$scan" --quarantine "$t/q" ../tree/sub2 >/dev/null 2>&1); rc=$?
expect_rc 1 "relative path ../tree/sub2"
(cd "$t/other" && "$scan" --restore "$t/q" >"$t/out" 2>"$t/err"); rc=$?
expect_rc 0 "relative paths restored from another folder"
for sub in sub sub2; do
    cmp -s "$t/tree/$sub/w.exe" "$worm" || fail "relative paths: $sub/w.exe is not back in its place"
done
empty_dir "$t/other" "relative paths"

# --- 8. 1,100 starting paths under a 256-descriptor limit -------------------------
case_dir many
(cd "$t" && seq -f 'p%g' 1 1100 | xargs mkdir)
cp "$worm" "$t/p1100/w.exe"
(
    cd "$t" || exit 9
    # shellcheck disable=SC3045  # dash and bash both know ulimit -n
    ulimit -n 256
    set --
    i=0
    while [ $i -lt 1100 ]; do i=$((i + 1)); set -- "$@" "p$i"; done
    exec "$scan" --quarantine "$t/q" "$@"
) >"$t/out" 2>"$t/err"; rc=$?
expect_rc 1 "1,100 starting paths"
[ -s "$t/err" ] && fail "1,100 starting paths: $(head -n 2 "$t/err")"
[ -e "$t/p1100/w.exe" ] && fail "1,100 starting paths: the worm in the last one is still there"
[ "$(rows eliminado)" -eq 1 ] || fail "1,100 starting paths: the worm is not reported deleted"

# --- 9. what a failed restore says and leaves ----------------------------------------
case_dir messages
mkdir -p "$t/tree/gone" "$t/tree/full"
cp "$worm" "$t/tree/gone/w.exe"
cp "$worm" "$t/tree/full/w.exe"
run --quarantine "$t/q" "$t/tree"; expect_rc 1 "messages: the scan"
rm -r "$t/tree/gone"
run --restore "$t/q" "$t/tree/gone"; expect_rc 2 "a restore into a folder that is gone"
says "$t/tree/gone" "a restore into a folder that is gone"
grep -qi "damaged" "$t/err" && fail "a folder that is gone is told as a damaged copy: $(cat "$t/err")"
grep -Eqi "gone|no such|not exist|missing" "$t/err" || fail "a folder that is gone is not told: $(cat "$t/err")"
# A full disk: the write of the restore fails as it would.
limited 0 ignore --restore "$t/q" "$t/tree/full"
expect_rc 2 "a restore onto a full disk"
says "$t/tree/full" "a restore onto a full disk"
grep -qi "damaged" "$t/err" && fail "a full disk is told as a damaged copy: $(cat "$t/err")"
grep -Eqi "full|space|too large" "$t/err" || fail "a full disk is not told: $(cat "$t/err")"
no_leftover "$t/tree" "a restore onto a full disk"
# Killed by SIGXFSZ in its middle, as by a crash: the next restore removes
# what was left and puts the file back.
limited 0 default --restore "$t/q" "$t/tree/full"
[ "$rc" -ne 0 ] || fail "a restore past the file size limit succeeded"
run --restore "$t/q" "$t/tree/full"; expect_rc 0 "a restore after one that was killed"
cmp -s "$t/tree/full/w.exe" "$worm" || fail "a restore after one that was killed: the file is not back"
no_leftover "$t/tree" "a restore after one that was killed"
# An entry longer than its header (and its line) says: refused as damaged
# once past that size, not after writing it all (here, more than the limit).
rm -f "$t/tree/full/"*.vq-restore*
run --quarantine "$t/q2" "$t/tree/full/w.exe"
entry=$t/q2/00000001.vq
printf '\144\000\000\000' | dd of="$entry" bs=1 seek=16 conv=notrunc 2>/dev/null
sed -i 's/^\(saved\t00000001\t[^\t]*\t\)[0-9]*/\1100/' "$t/q2/manifest.txt"
limited 1 ignore --restore "$t/q2"
expect_rc 2 "an entry longer than its size"
grep -qi "damaged" "$t/err" || fail "an entry longer than its size is not told damaged: $(cat "$t/err")"
grep -Eqi "full|space|too large" "$t/err" && fail "an entry longer than its size was written past it: $(cat "$t/err")"
[ -e "$t/tree/full/w.exe" ] && fail "an entry longer than its size was restored"
no_leftover "$t/tree" "an entry longer than its size"

# --- 10. a change that fails after the save ---------------------------------
# A scanner run by nobody saves a host that root owns but cannot repair it:
# the "done" line says it failed and gives the digest of what was left (the
# file as it was), not "-", which would claim the file is gone.
if is_root; then
    case_dir failed
    mkdir -p "$t/tree"
    cp "$work/syn/$host" "$t/tree/host.exe"
    chown $nobody:$nobody "$t/tree"
    chmod 644 "$t/tree/host.exe"
    setpriv --reuid=$nobody --regid=$nobody --clear-groups "$scan" --quarantine "$t/tree/q" "$t/tree/host.exe" \
        >"$t/out" 2>"$t/err"; rc=$?
    [ $((rc & 4)) -eq 4 ] || fail "a failed repair: exit status $rc lacks the not-disinfected bit"
    cmp -s "$t/tree/host.exe" "$work/syn/$host" || fail "a failed repair changed the host"
    left=$(sha256sum "$t/tree/host.exe" | cut -d ' ' -f 1)
    grep -q "^done	00000001	[^	]*	change	failed	$left$" "$t/tree/q/manifest.txt" ||
        fail "a failed change does not record the digest of what was left: $(grep '^done' "$t/tree/q/manifest.txt")"
else
    skipped "a change that fails after the save"
fi

[ $status -eq 0 ] && echo "quarantine_root_test: all checks passed"
exit $status
