#!/bin/sh
# velmora-scan's quarantine, restore and --one-file-system on synthesized trees:
#   quarantine_test.sh VELMORA_SCAN VELMORA_SYNTH WORKDIR
set -u
scan=$1
synth=$2
work=$3
status=0

fail() {
    echo "quarantine_test: FAIL: $*" >&2
    status=1
}

sums() {  # folder: "sum path" lines of its files, sorted by path
    (cd "$1" && find . -type f -exec md5sum {} + | sort -k 2)
}

same_tree() {  # a b what
    sums "$1" >"$work/a.sums"
    sums "$2" >"$work/b.sums"
    cmp -s "$work/a.sums" "$work/b.sums" || fail "$3: $(diff "$work/a.sums" "$work/b.sums" | head -n 4)"
}

# Every entry has its "saved" line and every line its entry; no part is left.
consistent() {  # quarantine what
    [ -z "$(find "$1" -name '*.part')" ] || fail "$2: a partial entry was left"
    entries=$(find "$1" -name '*.vq' | sed 's#.*/##; s#\.vq$##' | sort)
    lines=$(awk -F '\t' '$1 == "saved" { print $2 }' "$1/manifest.txt" | sort)
    [ "$entries" = "$lines" ] || fail "$2: entries and manifest disagree"
}

rm -rf "$work"
mkdir -p "$work"
"$synth" "$work/pristine" 11 --expect "$work/expected" >/dev/null || { echo "quarantine_test: synthesizer failed" >&2; exit 1; }
mkdir -p "$work/pristine/deeper"
cp "$work/pristine/worm_a.exe" "$work/pristine/deeper/again.exe"

# --- save, restore, restore again ------------------------------------------
host=$(ls "$work/pristine" | grep '^elkern' | head -n 1)
chmod 755 "$work/pristine/$host"
cp -R "$work/pristine" "$work/tree"
"$scan" --quarantine "$work/q" "$work/tree" >"$work/out" 2>"$work/err"; rc=$?
[ $rc -eq 1 ] || fail "quarantined scan: exit status $rc: $(head -n 2 "$work/err")"
same_tree "$work/tree" "$work/expected" "quarantined scan: the tree is not disinfected as without a quarantine"
[ "$(stat -c %a "$work/q")" = 700 ] || fail "the quarantine folder is not private"
consistent "$work/q" "quarantined scan"
changed=$(awk -F '\t' '$2 == "desinfectado" || $2 == "eliminado" { print $1 }' "$work/out" | sort -u | wc -l)
saved=$(grep -c "^saved	" "$work/q/manifest.txt")
done_lines=$(grep -c "^done	" "$work/q/manifest.txt")
[ "$saved" -eq "$changed" ] && [ "$done_lines" -eq "$changed" ] ||
    fail "$changed files changed, $saved saved, $done_lines told done"
# What is saved is inert: no scanner sees a program in it.
"$scan" --detect-only "$work/q" >"$work/out"; rc=$?
[ $rc -eq 0 ] || fail "the quarantine's entries are found as threats (exit status $rc)"
for entry in "$work/q"/*.vq; do
    [ "$(dd if="$entry" bs=1 skip=32 count=2 2>/dev/null)" = MZ ] && fail "$entry shows a program's header"
done

"$scan" --restore "$work/q" >"$work/out" 2>"$work/err"; rc=$?
[ $rc -eq 0 ] || fail "restore: exit status $rc: $(head -n 2 "$work/err")"
[ "$(grep -c "	restaurado$" "$work/out")" -eq "$changed" ] || fail "restore: not one row per saved file"
same_tree "$work/tree" "$work/pristine" "restore: the tree is not given back byte for byte"
[ "$(stat -c %a "$work/tree/$host")" = 755 ] || fail "restore: a repaired program lost its mode"
[ "$(grep -c "^restored	" "$work/q/manifest.txt")" -eq "$changed" ] || fail "restore: entries not marked restored"
"$scan" --restore "$work/q" >"$work/out" 2>"$work/err"; rc=$?
[ $rc -eq 0 ] && [ ! -s "$work/err" ] && ! grep -q "restaurado" "$work/out" || fail "a second restore did something"
same_tree "$work/tree" "$work/pristine" "a second restore changed the tree"

# --- a restore by path, and a file changed since ----------------------------
rm -rf "$work/tree" "$work/q"
cp -R "$work/pristine" "$work/tree"
"$scan" --quarantine "$work/q" "$work/tree" >/dev/null 2>&1
printf 'changed since' >>"$work/tree/$host"
cp "$work/tree/$host" "$work/changed"
"$scan" --restore "$work/q" "$work/tree/deeper" >"$work/out" 2>"$work/err"; rc=$?
[ $rc -eq 0 ] || fail "restore of a folder: exit status $rc"
[ "$(grep -c "	restaurado$" "$work/out")" -eq 1 ] || fail "restore of a folder: not exactly its one file"
cmp -s "$work/tree/deeper/again.exe" "$work/pristine/deeper/again.exe" || fail "restore of a folder: its file is not back"
[ -e "$work/tree/worm_a.exe" ] && fail "restore of a folder: a file outside it came back"
"$scan" --restore "$work/q" >"$work/out" 2>"$work/err"; rc=$?
[ $rc -eq 2 ] || fail "restore over a changed file: exit status $rc, expected 2"
grep -q "$host: changed since the scan; not restored" "$work/err" || fail "the changed file is not named: $(cat "$work/err")"
cmp -s "$work/tree/$host" "$work/changed" || fail "a file changed since the scan was overwritten"
[ -e "$work/tree/worm_a.exe" ] || fail "restore: the other files were not put back"

# --- inside the tree ---------------------------------------------------------
# The quarantine lies in the scanned tree, named another way than the walk
# meets it: it is recognised as the same folder and never walked.
rm -rf "$work/tree"
cp -R "$work/pristine" "$work/tree"
for round in 1 2; do
    files=$(find "$work/tree" -path "$work/tree/q" -prune -o -type f -print | wc -l)
    folders=$(find "$work/tree" -path "$work/tree/q" -prune -o -type d -print | wc -l)
    "$scan" --quarantine "$work/tree/./q" "$work/tree" >"$work/out" 2>"$work/err"; rc=$?
    # Warnings stay, so the second round still finds something.
    [ $rc -eq 1 ] || fail "quarantine inside the tree, round $round: exit status $rc: $(head -n 2 "$work/err")"
    grep -q "^Ficheros:	$files$" "$work/out" && grep -q "^Carpetas:	$folders$" "$work/out" ||
        fail "quarantine inside the tree, round $round: it was walked"
done

# --- a full file system ---------------------------------------------------------
# A file size limit of zero makes every write of the save fail as a full disk
# would (the signal it raises is ignored, so the write fails with EFBIG).
rm -rf "$work/tree" "$work/q"
cp -R "$work/pristine" "$work/tree"
# Both outputs go through pipes to writers without the limit.
( (ulimit -f 0; trap '' XFSZ; exec "$scan" --quarantine "$work/q" "$work/tree") 2>&1 1>&3 3>&- |
    cat >"$work/err" ) 3>&1 | cat >"$work/out"
rc=$(sed -n 's/^Incapaz de desinfectar:	//p' "$work/out")
same_tree "$work/tree" "$work/pristine" "full file system: a file was changed that could not be saved"
[ "${rc:-0}" -gt 0 ] || fail "full file system: nothing counted as not disinfected"
[ "$(grep -c "	incapaz de desinfectar$" "$work/out")" -eq "$rc" ] || fail "full file system: rows"
grep -q "cannot be saved into the quarantine; it is left as it is" "$work/err" || fail "full file system: stderr says nothing"
consistent "$work/q" "full file system"
(ulimit -f 0; trap '' XFSZ; exec "$scan" --quarantine "$work/q" "$work/tree/worm_a.exe" >/dev/null 2>&1); rc=$?
[ $((rc & 4)) -eq 4 ] || fail "full file system: exit status $rc lacks the not-disinfected bit"

# --- interrupted ----------------------------------------------------------------
# Rows go to a FIFO that nobody reads until the signal is sent; the tree's rows
# are far more than a pipe holds, so the scan is held in its middle.
long=$(printf '%0200d' 0)
rm -rf "$work/big" "$work/q"
n=0
while [ $n -lt 12 ]; do
    n=$((n + 1))
    mkdir -p "$work/big/d$n/$long"
    cp -R "$work/pristine" "$work/big/d$n/$long/$long"
done
cp -R "$work/big" "$work/big-pristine"
mkfifo "$work/rows"
env --default-signal=INT "$scan" --quarantine "$work/q" "$work/big" >"$work/rows" 2>"$work/err" &
pid=$!
exec 3<"$work/rows"
IFS= read -r _ <&3 || fail "interrupted: no row"
kill -s INT $pid
cat <&3 >/dev/null
exec 3<&-
wait $pid; rc=$?
[ $rc -eq 3 ] || fail "interrupted: exit status $rc"
consistent "$work/q" "interrupted"
"$scan" --restore "$work/q" >/dev/null 2>"$work/err"; rc=$?
[ $rc -eq 0 ] || fail "restore after an interrupted scan: exit status $rc: $(head -n 2 "$work/err")"
same_tree "$work/big" "$work/big-pristine" "restore after an interrupted scan"

# --- one file system -------------------------------------------------------------
rm -rf "$work/tree"
cp -R "$work/pristine" "$work/tree"
mkdir -p "$work/tree/mnt"
mounted="sh -c"
if ! { [ "$(id -u)" -eq 0 ] && mount -t tmpfs -o size=1m velmora-test "$work/tree/mnt" 2>/dev/null; }; then
    if unshare -rm true 2>/dev/null; then mounted="unshare -rm sh -c"; else mounted=""; fi
fi
if [ -z "$mounted" ]; then
    echo "quarantine_test: note: mounting is not allowed here; --one-file-system is not tested" >&2
else
    # shellcheck disable=SC2016
    $mounted '
        mountpoint -q "$1/tree/mnt" || mount -t tmpfs -o size=1m velmora-test "$1/tree/mnt" || exit 9
        cp "$1/pristine/worm_a.exe" "$1/tree/mnt/w.exe"
        "$2" --detect-only -x "$1/tree" >"$1/out" 2>"$1/err"; echo $? >"$1/rc"
        "$2" --detect-only "$1/tree" >"$1/out-all" 2>/dev/null
        umount "$1/tree/mnt"' sh "$work" "$scan"
    rc=$(cat "$work/rc")
    [ "$rc" -eq 1 ] || fail "-x: exit status $rc, expected 1 (found, and no error)"
    grep -q "/mnt/w.exe" "$work/out" && fail "-x: descended into another file system"
    grep -q "/mnt/w.exe" "$work/out-all" || fail "without -x the mounted folder is walked"
    [ "$(grep -c "mnt/: on another file system" "$work/err")" -eq 1 ] || fail "-x: the folder passed over is not noted once"
fi

[ $status -eq 0 ] && echo "quarantine_test: all checks passed"
exit $status
