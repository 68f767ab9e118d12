#!/bin/sh
# velmora-scan's quarantine, restore and --one-file-system on synthesized trees:
#   quarantine_test.sh VELMORA_SCAN VELMORA_SYNTH WORKDIR
set -u
scan=$1
synth=$2
work=$3
status=0
# Some steps run from other folders.
case $scan in /*) ;; *) scan=$PWD/$scan ;; esac

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

# --- what follows: small trees of their own ------------------------------------
tab=$(printf '\t')
worm=$work/pristine/worm_a.exe
repaired=elkern_a_rot0.exe
restore() { "$scan" --restore "$@" >"$work/out" 2>"$work/err"; rc=$?; }
said() {  # text what
    grep -qF -- "$1" "$work/err" || fail "$2: standard error does not say $1: $(head -n 2 "$work/err")"
}
restored_rows() { grep -c "	restaurado$" "$work/out"; }

# --- recorded paths, and a restore of some of them -----------------------------
# A start given relative, through a link and with "." and ".." is recorded as
# the real absolute path, which a restore from any folder walks; a name with a
# backslash, a tab and a control byte goes through the escapes and back. A
# path given to --restore chooses what lies under it, not what merely begins
# with the same letters.
rm -rf "$work/m"
mkdir -p "$work/m/tree/d"
ln -s "$work/m" "$work/m/link"
odd=$(printf 'a\\b\tc\001d.exe')
cp "$worm" "$work/m/tree/d/$odd"
cp "$worm" "$work/m/tree/d/w.exe"
(cd "$work/m" && "$scan" --quarantine q link/tree/./d/../d >/dev/null 2>&1); rc=$?
[ $rc -eq 1 ] || fail "a relative start through a link: exit status $rc"
real=$(cd "$work/m" && pwd -P)
[ "$(head -n 1 "$work/m/q/manifest.txt")" = "velmora-quarantine${tab}2" ] || fail "the manifest does not begin with its version"
[ "$(awk -F '\t' '$1 == "saved" && NF == 9' "$work/m/q/manifest.txt" | wc -l)" -eq 2 ] || fail "not two saved lines of nine fields"
awk -F '\t' -v p="$real/tree/d/w.exe" '$NF == p { f = 1 } END { exit !f }' "$work/m/q/manifest.txt" ||
    fail "a relative start is not recorded as its real path: $(cut -f 9 "$work/m/q/manifest.txt")"
restore "$work/m/q" "$work/m/tree/d/w"
[ $rc -eq 2 ] || fail "a restore of a path under which nothing was saved: exit status $rc"
said "$work/m/tree/d/w: nothing saved in the quarantine lies under it" "a restore of a prefix of a name"
[ -e "$work/m/tree/d/w.exe" ] && fail "a restore of a prefix of a name restored the name"
(cd "$work/m" && "$scan" --restore q link/tree/d/w.exe >"$work/out" 2>"$work/err"); rc=$?
[ $rc -eq 0 ] && [ "$(restored_rows)" -eq 1 ] || fail "a restore of one file named through a link: exit status $rc"
[ -e "$work/m/tree/d/$odd" ] && fail "a restore of one file restored another"
(cd / && "$scan" --restore "$work/m/q" >"$work/out" 2>"$work/err"); rc=$?
[ $rc -eq 0 ] || fail "a restore from /: exit status $rc: $(head -n 2 "$work/err")"
cmp -s "$work/m/tree/d/$odd" "$worm" && cmp -s "$work/m/tree/d/w.exe" "$worm" || fail "a restore from /: not every file is back"

# --- older and newer manifests -------------------------------------------------
# Owner, group and mode come back, set-ID bits included. A manifest of
# version 1 (no first line, no owner) is still read: a file put back where
# none is stays private, one that replaces a file takes its mode without
# set-ID bits. A manifest of a later version is not read at all.
rm -rf "$work/v"
mkdir -p "$work/v/tree"
for round in 2 1 3; do
    rm -rf "$work/v/q"
    cp "$work/pristine/$repaired" "$work/v/tree/host.exe"
    cp "$worm" "$work/v/tree/w.exe"
    chmod 4755 "$work/v/tree/host.exe"
    chmod 0640 "$work/v/tree/w.exe"
    "$scan" --quarantine "$work/v/q" "$work/v/tree" >/dev/null 2>&1
    m=$work/v/q/manifest.txt
    [ $round -eq 1 ] && sed -i '1d; s/^\(saved\(\t[^\t]*\)\{4\}\)\(\t[^\t]*\)\{3\}\t/\1\t/' "$m"
    [ $round -eq 3 ] && sed -i "1s/.*/velmora-quarantine${tab}3/" "$m"
    restore "$work/v/q"
    modes=$(stat -c '%a' "$work/v/tree/host.exe" "$work/v/tree/w.exe" 2>/dev/null | tr '\n' ' ')
    case $round in
        2) [ $rc -eq 0 ] && [ "$modes" = "4755 640 " ] || fail "restore: exit status $rc, modes $modes" ;;
        1) [ $rc -eq 0 ] && [ "$modes" = "755 600 " ] || fail "version 1: exit status $rc, modes $modes" ;;
        3) [ $rc -eq 2 ] && [ ! -e "$work/v/tree/w.exe" ] || fail "version 3: exit status $rc, or it was obeyed"
           said "was written by a newer version" "version 3" ;;
    esac
    [ $round -eq 3 ] || cmp -s "$work/v/tree/host.exe" "$work/pristine/$repaired" || fail "version $round: the host is not back"
done

# --- lines the scanner never writes --------------------------------------------
# Each field at its limit is read; just past it the line is refused, named by
# its number, and nothing is written for it; so is a second "done" line of an
# entry, which would overwrite what the first recorded. The true line is still
# obeyed.
rm -rf "$work/f"
mkdir -p "$work/f/tree" "$work/f/victim"
cp "$worm" "$work/f/tree/w.exe"
"$scan" --quarantine "$work/f/q" "$work/f/tree" >/dev/null 2>&1
IFS=$tab read -r _ _ time size sha _ <<EOF
$(grep '^saved' "$work/f/q/manifest.txt")
EOF
v=$work/f/victim
cp "$work/f/q/00000001.vq" "$work/f/q/00000004.vq"
forge() { printf 'saved\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$time" "$2" "$sha" "$3" "$4" "$5" "$6" >>"$work/f/q/manifest.txt"; }
forge 00000002 "$size" 0 0 0644 "$v/missing.exe"       # 4: read; its entry is missing
forge 0000003 "$size" 0 0 0644 "$v/seven.exe"          # 5
forge 000000003 "$size" 0 0 0644 "$v/nine.exe"         # 6
forge 0000000a "$size" 0 0 0644 "$v/lower.exe"         # 7
forge 00000004 2147483647 4294967294 0 7777 "$v/big.exe"  # 8: read; its entry is damaged
forge 00000005 2147483648 0 0 0644 "$v/past.exe"       # 9
forge 00000006 "$size" 4294967295 0 0644 "$v/uid.exe"  # 10
forge 00000007 "$size" 0 0 10000 "$v/mode.exe"         # 11
forge 00000008 "$size" 0 0 0644 "$v//double.exe"       # 12
forge 00000009 "$size" 0 0 0644 "$v/./dot.exe"         # 13
forge 00000001 "$size" 0 0 0644 "$v/again.exe"         # 14: a second line of entry 1
printf 'done\t0000000A\t%s\tdelete\tdone\t-\n' "$time" >>"$work/f/q/manifest.txt"  # 15
forge 0000000B "$size" 0 0 0644 "$v/../victim/up.exe"  # 16
printf 'done\t00000001\t%s\trepair\tdone\t%s\n' "$time" "$sha" >>"$work/f/q/manifest.txt"  # 17: a second one
restore "$work/f/q"
[ $rc -eq 2 ] || fail "forged lines: exit status $rc"
refused=$(sed -n 's/.*: line \([0-9]*\) is not one the scanner writes.*/\1/p' "$work/err" | tr '\n' ' ')
[ "$refused" = "5 6 7 9 10 11 12 13 14 15 16 17 " ] || fail "forged lines: refused $refused"
said "$work/f/q/00000002.vq: the saved copy cannot be read" "a line read whose entry is missing"
said "$work/f/q/00000004.vq: the saved copy is damaged" "a line read whose entry is not its own"
[ -z "$(ls -A "$v")" ] || fail "forged lines: written $(ls -A "$v")"
cmp -s "$work/f/tree/w.exe" "$worm" && [ "$(restored_rows)" -eq 1 ] || fail "forged lines: the true line was not obeyed"

# --- what lies at the target ------------------------------------------------------
# A temporary file an earlier restore left (here a link) is removed, not what
# it leads to; a target that is now a link is not written through; a saved
# copy with one byte changed or one byte short is damaged and nothing is put
# back from it; nor anything over a FIFO. A --detect-only scan neither makes
# nor checks a quarantine.
rm -rf "$work/t"
mkdir -p "$work/t/tree"
for name in a b c d e; do cp "$worm" "$work/t/tree/$name.exe"; done
"$scan" --quarantine "$work/t/q" "$work/t/tree" >/dev/null 2>&1
echo keep >"$work/t/victim"
ln -s ../victim "$work/t/tree/a.exe.vq-restore"
ln -s ../victim "$work/t/tree/b.exe"
mkfifo "$work/t/tree/e.exe"
entry() { awk -F '\t' -v p="$work/t/tree/$1.exe" '$1 == "saved" && $NF == p { print $2 }' "$work/t/q/manifest.txt"; }
c=$work/t/q/$(entry c).vq
d=$work/t/q/$(entry d).vq
cp "$c" "$work/t/c.vq"
cp "$d" "$work/t/d.vq"
printf '\377' | dd of="$c" bs=1 seek=1000 conv=notrunc 2>/dev/null
head -c "$(($(wc -c <"$d") - 1))" "$work/t/d.vq" >"$d"
restore "$work/t/q"
[ $rc -eq 2 ] || fail "targets: exit status $rc"
said "$work/t/tree/b.exe: is not a regular file now" "a target that is a link"
said "$work/t/tree/e.exe: is not a regular file now" "a target that is a FIFO"
said "$c: the saved copy is damaged" "an entry with one byte changed"
said "$d: the saved copy is damaged" "an entry one byte short"
[ "$(cat "$work/t/victim")" = keep ] || fail "targets: written through a link"
cmp -s "$work/t/tree/a.exe" "$worm" || fail "targets: a file beside an old temporary file is not back"
[ -e "$work/t/tree/c.exe" ] || [ -e "$work/t/tree/d.exe" ] && fail "targets: a damaged entry was put back"
[ -z "$(find "$work/t/tree" -name '*.vq-restore')" ] || fail "targets: a temporary file was left"
cp "$work/t/c.vq" "$c"
cp "$work/t/d.vq" "$d"
rm "$work/t/tree/b.exe" "$work/t/tree/e.exe"
restore "$work/t/q"
[ $rc -eq 0 ] && [ "$(restored_rows)" -eq 4 ] || fail "targets: the entries made whole again are not restored"
rm -rf "$work/dq"
"$scan" --detect-only --quarantine "$work/dq" "$worm" >/dev/null 2>"$work/err"; rc=$?
[ $rc -eq 1 ] && [ ! -e "$work/dq" ] || fail "--detect-only made the quarantine (exit status $rc)"
mkdir -m 777 "$work/dq"
"$scan" --detect-only --quarantine "$work/dq" "$worm" >/dev/null 2>"$work/err"; rc=$?
[ $rc -eq 1 ] && [ ! -s "$work/err" ] || fail "--detect-only checked the quarantine (exit status $rc)"

# --- a quarantine others can write, a way through a link -------------------------------
# Group members may read the folder, not write it; a link to it is not it.
# A folder on the recorded way swapped for a link is named as such and
# nothing is written behind it; back in its place, its file is restored.
rm -rf "$work/g"
mkdir -p "$work/g/tree/d" "$work/g/elsewhere"
cp "$worm" "$work/g/tree/d/w.exe"
"$scan" --quarantine "$work/g/q" "$work/g/tree" >/dev/null 2>&1
ln -s q "$work/g/qlink"
chmod 0770 "$work/g/q"
restore "$work/g/q"
[ $rc -eq 2 ] || fail "a quarantine its group can write: exit status $rc"
said "$work/g/q: can be written by others than its owner" "a quarantine its group can write"
chmod 0750 "$work/g/q"
restore "$work/g/qlink"
[ $rc -eq 2 ] || fail "a quarantine through a link: exit status $rc"
said "$work/g/qlink: is a symbolic link" "a quarantine through a link"
mv "$work/g/tree/d" "$work/g/tree/d.old"
ln -s ../elsewhere "$work/g/tree/d"
restore "$work/g/q"
[ $rc -eq 2 ] || fail "a folder swapped for a link: exit status $rc"
said "$work/g/tree/d/w.exe: a folder on its way is a link now" "a folder swapped for a link"
[ -z "$(find "$work/g/elsewhere" "$work/g/tree/d.old" -mindepth 1)" ] || fail "a folder swapped for a link: written"
rm "$work/g/tree/d"
mv "$work/g/tree/d.old" "$work/g/tree/d"
restore "$work/g/q"
[ $rc -eq 0 ] && cmp -s "$work/g/tree/d/w.exe" "$worm" || fail "a quarantine its group can read: exit status $rc"

# --- numbers already taken ------------------------------------------------------------
# An entry without a line and another writer's part keep their numbers: the
# scan passes over them and saves every file.
rm -rf "$work/n"
mkdir -p "$work/n/tree" "$work/n/q"
chmod 700 "$work/n/q"
for i in 1 2 3; do cp "$worm" "$work/n/tree/w$i.exe"; done
: >"$work/n/q/00000001.vq"
: >"$work/n/q/00000002.part"
"$scan" --quarantine "$work/n/q" "$work/n/tree" >/dev/null 2>"$work/err"; rc=$?
[ $rc -eq 1 ] || fail "numbers taken: exit status $rc: $(head -n 2 "$work/err")"
[ "$(awk -F '\t' '$1 == "saved" { print $2 }' "$work/n/q/manifest.txt" | sort | tr '\n' ' ')" = "00000003 00000004 00000005 " ] ||
    fail "numbers taken: not saved past them"
restore "$work/n/q"
[ $rc -eq 0 ] && [ "$(restored_rows)" -eq 3 ] || fail "numbers taken: exit status $rc of the restore"
# A number whose lookup fails for another reason than its absence (here an
# I/O error, preloaded) is neither passed over nor taken: the file is not
# saved, and stays as it was.
lookup=${VELMORA_FAIL_LOOKUP_LIBRARY:-}
if [ -f "$lookup" ]; then
    env LD_PRELOAD="$lookup" VELMORA_FAIL_LOOKUP=00000001.vq ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
        "$scan" --quarantine "$work/n/q2" "$work/n/tree/w1.exe" >"$work/out" 2>"$work/err"; rc=$?
    [ $((rc & 4)) -eq 4 ] || fail "a failed lookup: exit status $rc lacks the not-disinfected bit"
    cmp -s "$work/n/tree/w1.exe" "$worm" || fail "a failed lookup: the file was changed"
    said "cannot be saved into the quarantine" "a failed lookup"
    said "Input/output error" "a failed lookup"
    [ -z "$(find "$work/n/q2" -name '0*')" ] && ! grep -q "^saved" "$work/n/q2/manifest.txt" ||
        fail "a failed lookup: a number was taken"
else
    echo "quarantine_test: note: no VELMORA_FAIL_LOOKUP_LIBRARY; a failed lookup is not tested" >&2
fi

# --- the manifest's lock -----------------------------------------------------------------
# A writer holds the manifest alone: while a reader holds it shared, a scanner
# starting on the new quarantine waits to write before its first line, and
# writes it once. flock(1) holds it until the FIFO release is opened; the
# scanner waits when the kernel lists its request for the lock as blocked.
rm -rf "$work/l"
mkdir -p "$work/l/tree" "$work/l/q"
chmod 700 "$work/l/q"
: >"$work/l/q/manifest.txt"
cp "$worm" "$work/l/tree/w.exe"
mkfifo "$work/l/held" "$work/l/release"
flock -s "$work/l/q/manifest.txt" sh -c 'echo held; read -r _ <"$1"' sh "$work/l/release" >"$work/l/held" &
holder=$!
exec 3<"$work/l/held"
IFS= read -r _ <&3 || fail "lock: not held"
"$scan" --quarantine "$work/l/q" "$work/l/tree" >"$work/out" 2>"$work/err" &
pid=$!
running() { [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" != Z ] && [ -e "/proc/$1" ]; }
while running $pid && [ ! -s "$work/l/q/manifest.txt" ] &&
    ! grep -q "^[0-9]*: -> FLOCK  *ADVISORY  *WRITE  *$pid " /proc/locks; do
    sleep 0.01
done
[ -s "$work/l/q/manifest.txt" ] && fail "lock: a scanner wrote while a reader held the manifest"
: >"$work/l/release"
wait $holder
exec 3<&-
wait $pid; rc=$?
[ $rc -eq 1 ] || fail "lock: exit status $rc: $(head -n 2 "$work/err")"
[ "$(grep -c "^velmora-quarantine" "$work/l/q/manifest.txt")" -eq 1 ] &&
    [ "$(head -n 1 "$work/l/q/manifest.txt")" = "velmora-quarantine${tab}2" ] &&
    [ "$(grep -c "^saved	00000001	" "$work/l/q/manifest.txt")" -eq 1 ] || fail "lock: $(head -n 3 "$work/l/q/manifest.txt")"

# --- files back already, under a descriptor limit ---------------------------------------
# A restore cut short before it wrote its lines leaves files back whose
# entries are not marked restored: the next restore finds each so, writes
# nothing over it and marks it, keeping no descriptor of its own for any of
# them, so that many such files pass under a limit far below their number.
rm -rf "$work/b"
mkdir -p "$work/b/tree"
i=0
while [ $i -lt 100 ]; do i=$((i + 1)); cp "$worm" "$work/b/tree/w$i.exe"; done
cp -R "$work/b/tree" "$work/b/pristine"
"$scan" --quarantine "$work/b/q" "$work/b/tree" >/dev/null 2>&1
cp "$work/b/pristine"/* "$work/b/tree/"
inodes=$(ls -i "$work/b/tree" | sort)
# shellcheck disable=SC3045  # dash and bash both know ulimit -n
(ulimit -n 32; exec "$scan" --restore "$work/b/q") >"$work/out" 2>"$work/err"; rc=$?
[ $rc -eq 0 ] && [ ! -s "$work/err" ] || fail "files back already: exit status $rc: $(head -n 2 "$work/err")"
[ "$(restored_rows)" -eq 100 ] && [ "$(grep -c "^restored	" "$work/b/q/manifest.txt")" -eq 100 ] ||
    fail "files back already: $(restored_rows) rows for 100 files"
[ "$(ls -i "$work/b/tree" | sort)" = "$inodes" ] || fail "files back already: a file was written again"
same_tree "$work/b/tree" "$work/b/pristine" "files back already"

# --- a change that failed, an owner that cannot be given back ---------------------------
# The "done" line of a failed change records the digest of what was left.
rm -rf "$work/o"
mkdir -p "$work/o/tree"
cp "$work/pristine/$repaired" "$work/o/tree/host.exe"
if chattr +i "$work/o/tree/host.exe" 2>/dev/null; then
    "$scan" --quarantine "$work/o/q" "$work/o/tree" >/dev/null 2>&1
    chattr -i "$work/o/tree/host.exe"
    left=$(sha256sum <"$work/o/tree/host.exe" | cut -d ' ' -f 1)
    grep -q "^done	00000001	[^	]*	change	failed	$left$" "$work/o/q/manifest.txt" ||
        fail "a failed change does not record what was left: $(grep '^done' "$work/o/q/manifest.txt")"
else
    echo "quarantine_test: note: chattr +i is not allowed here; a failed change is not tested" >&2
fi
# A user who may not give the group back: the set-group-ID bit stays off.
rm -rf "$work/o"
mkdir -p "$work/o"
cp "$worm" "$work/o/w.exe"
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && chown -R 65534:0 "$work/o" &&
    as_nobody test -x "$scan" -a -w "$work/o"; then
    chmod 2755 "$work/o/w.exe"
    as_nobody sh -c \
        '"$1" --quarantine "$2/q" "$2/w.exe" && exit 9; "$1" --restore "$2/q"' sh "$scan" "$work/o" >"$work/out" 2>"$work/err"
    rc=$?
    [ $rc -eq 0 ] || fail "an owner not given back: exit status $rc: $(head -n 2 "$work/err")"
    said "its owner and group could not be given back" "an owner not given back"
    [ "$(stat -c '%u %a' "$work/o/w.exe")" = "65534 755" ] || fail "an owner not given back: $(stat -c '%u %a' "$work/o/w.exe")"
    cmp -s "$work/o/w.exe" "$worm" || fail "an owner not given back: the file is not back"
else
    echo "quarantine_test: note: not root, or nobody cannot run the scanner here; an owner not given back is not tested" >&2
fi

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
