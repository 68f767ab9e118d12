#!/bin/sh
# velmora-scan.exe's quarantine under Wine, across a restart: synthesized
# samples lie in C:\Muestras with the quarantine folder among them, and a
# program holds one infected host open as Windows holds a running image.
#   quarantine_wine_test.sh BUILD_DIR WORK_DIR [WINDOWS]
# Passes when the rows read plainly; every changed file is saved once (the
# host in use from its examination, not through its copy) and the quarantine
# is never walked; the system holds the cure at the restart that the rows
# promise; after a restart the host is cured; and a restore then gives
# C:\Muestras back byte for byte, a second restore changing nothing. The
# scenario runs twice: as it is, and once more beside busy loops that the
# test starts itself, so that a machine too slow to keep up changes nothing.
set -eu
. "$(dirname "$0")/wine_test_env.sh"
pass=quiet
fail() { echo "quarantine_wine_test ($windows, $pass): $*" >&2; exit 1; }
run() {  # PROGRAM [ARGS...] under the test's prefix
    # shellcheck disable=SC2086
    sh "$here/cmake/wine-run.sh" $wine_run_options "$work/prefix" "$@"
}
host=elkern_b_rot0.exe
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
muestras=$WINEPREFIX/drive_c/Muestras

# Whatever the outcome, no busy loop and no Wine process outlives the test.
busy=""
cleanup() {
    # shellcheck disable=SC2086
    [ -z "$busy" ] || kill $busy 2>/dev/null || true
    "$WINESERVER" -k 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

# Every new session of a prefix is a start of Windows: its wineboot carries
# out the restart-time operations. A session ends once no program of its
# own runs (at once where the packaged wineserver is started with -p0), so
# the steps that must all happen before the restart share one session that
# only the test ends; the restart is the test's own wineboot -r.
stop_session() {
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
}

# scenario fresh|again: fresh starts from a new prefix, so that no samples,
# quarantine or restart-time request are left from an earlier run; again
# keeps the prefix of the pass before, whose restart carried out every
# request, and makes the samples and the quarantine anew.
scenario() {
    stop_session
    if [ "$1" = fresh ]; then rm -rf "$work/prefix"; fi
    rm -rf "$muestras"
    run "$build/tests/support/velmora-synth.exe" 'C:\Muestras' 9 >/dev/null || fail "synthesizer failed"
    "$WINESERVER" -w
    "$WINESERVER" -p || fail "cannot keep one session for the steps before the restart"
    rm -rf "$work/pristine"
    cp -R "$muestras" "$work/pristine"

    rm -f "$WINEPREFIX/drive_c/holder.ready"
    "$WINE" "$build/tests/programs/velmora-hold-open.exe" 'C:\holder.ready' "C:\\Muestras\\$host" &
    holder=$!
    n=0
    until [ -f "$WINEPREFIX/drive_c/holder.ready" ]; do
        n=$((n + 1)); [ $n -lt 600 ] || fail "the holder never held the host"; sleep 0.1
    done

    rc=0
    run "$build/cli/velmora-scan.exe" --quarantine 'C:\Muestras\Cuarentena' 'C:\Muestras' >"$work/out" 2>"$work/err" || rc=$?
    kill "$holder" 2>/dev/null || true
    wait "$holder" 2>/dev/null || true
    cp "$muestras/$host" "$work/held-host"
    tr -d '\r' <"$work/out" >"$work/rows"
    [ $((rc & 1)) -eq 1 ] && [ $((rc & 2)) -eq 0 ] || fail "scan: exit status $rc: $(head -n 2 "$work/err")"
    grep -qxF "C:\\Muestras\\$host	se desinfectara al reinicio" "$work/rows" || fail "the host in use is not cured at the restart: $(grep -F "$host" "$work/rows")"
    grep -q '^\\' "$work/rows" && fail "a row is marked as escaped"
    grep -qi 'Cuarentena' "$work/rows" && fail "the quarantine was walked"
    files=$(find "$work/pristine" -type f | wc -l)
    grep -qx "Ficheros:	$((files + 1))" "$work/rows" || fail "not every file, and the host's copy, examined once: $(grep Ficheros "$work/rows")"

    manifest=$(tr -d '\r' <"$muestras/Cuarentena/manifest.txt")
    changed=$(awk -F '\t' '$2 == "desinfectado" || $2 == "eliminado" || $2 ~ /al reinicio$/ { print $1 }' "$work/rows" | grep -v '\.zq-' | sort -u | wc -l)
    [ "$(printf '%s\n' "$manifest" | grep -c '^saved	')" -eq "$changed" ] || fail "not one entry per changed file: $manifest"
    printf '%s\n' "$manifest" | grep -q "^saved	.*	C:\\\\Muestras\\\\$host\$" || fail "the host in use was not saved"
    printf '%s\n' "$manifest" | grep -q 'zq-' && fail "the scan's own copy was saved"
    printf '%s\n' "$manifest" | grep -q '^done	[0-9A-F]*	[^	]*	repair	at-restart	[0-9a-f]\{64\}$' || fail "no cure at the restart recorded"

    # What the rows promise, the NT family holds: the host's deletion, then the
    # move of its cured copy into its place. (The 95/98/Me family's wininit.ini
    # entry is read by the refused restore below.)
    if [ "$windows" != win98 ]; then
        "$WINE" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations \
            >"$work/pending" 2>&1 || true
        tr -d '\r' <"$work/pending" >"$work/pending.txt"
        grep -qiF "\\??\\C:\\Muestras\\$host\\0\\0\\??\\C:\\Muestras\\$host.zq-000\\0\\??\\C:\\Muestras\\$host" "$work/pending.txt" ||
            fail "the cure at the restart is not held: $(cat "$work/pending.txt")"
    fi

    # Before the restart, Windows will still replace the host by its cured copy:
    # a restore of it now would be undone then, so it is refused and says why.
    rc=0
    run "$build/cli/velmora-scan.exe" --restore 'C:\Muestras\Cuarentena' "C:\\Muestras\\$host" >"$work/out" 2>"$work/err" || rc=$?
    [ $((rc & 2)) -eq 2 ] || fail "a restore before the restart: exit status $rc"
    grep -qi "restart" "$work/err" || fail "a restore before the restart does not say to restart first: $(cat "$work/err")"
    tr -d '\r' <"$work/out" | grep -q '	restaurado$' && fail "a file that a restart will replace was restored"
    tr -d '\r' <"$muestras/Cuarentena/manifest.txt" | grep -q '^restored	' && fail "a refused restore was recorded"
    cmp -s "$muestras/$host" "$work/held-host" || fail "a restore before the restart touched the host"

    "$WINE" wineboot -r >/dev/null 2>&1 || fail "wineboot -r failed"
    cmp -s "$muestras/$host" "$work/pristine/$host" && fail "the host was not cured at the restart"
    [ -e "$muestras/$host.zq-000" ] && fail "the cured copy is still there after the restart"

    for round in 1 2; do
        rc=0
        run "$build/cli/velmora-scan.exe" --restore 'C:\Muestras\Cuarentena' >"$work/out" 2>"$work/err" || rc=$?
        [ $rc -eq 0 ] || fail "restore $round: exit status $rc: $(head -n 2 "$work/err")"
        restored=$(tr -d '\r' <"$work/out" | grep -c '	restaurado$' || true)
        [ "$round" -eq 2 ] || [ "$restored" -eq "$changed" ] || fail "restore: $restored rows for $changed files"
        [ "$round" -eq 1 ] || [ "$restored" -eq 0 ] || fail "a second restore restored again"
        diff -r -x Cuarentena "$muestras" "$work/pristine" >"$work/diff.txt" || fail "restore $round: C:\\Muestras differs (see $work/diff.txt)"
    done
}

scenario fresh
# One busy loop more than the machine has processors. Each counts in the
# shell alone, which keeps a processor busy as a plain spin does, and ends by
# itself once this shell is gone, even one killed outright.
pass=busy
cpus=$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)
i=0
while [ "$i" -le "$cpus" ]; do
    sh -c 'while kill -0 "$1" 2>/dev/null; do n=0; while [ $n -lt 200000 ]; do n=$((n + 1)); done; done' busy "$$" &
    busy="$busy $!"
    i=$((i + 1))
done
scenario again
# shellcheck disable=SC2086
kill $busy 2>/dev/null || true
busy=""

# A folder on the recorded way swapped for a link (which Windows sees as a
# reparse point): the restore refuses it and writes nothing behind it.
way=$WINEPREFIX/drive_c/Camino
rm -rf "$way" "$WINEPREFIX/drive_c/Otro" "$WINEPREFIX/drive_c/CaminoQ"
mkdir -p "$way/d" "$WINEPREFIX/drive_c/Otro"
cp "$work/pristine/worm_h.exe" "$way/d/w.exe"
rc=0
run "$build/cli/velmora-scan.exe" --quarantine 'C:\CaminoQ' 'C:\Camino' >"$work/out" 2>"$work/err" || rc=$?
[ $((rc & 1)) -eq 1 ] && [ ! -e "$way/d/w.exe" ] || fail "the worm on the way was not removed: exit status $rc"
mv "$way/d" "$way/d.old"
ln -s ../Otro "$way/d"
rc=0
run "$build/cli/velmora-scan.exe" --restore 'C:\CaminoQ' >"$work/out" 2>"$work/err" || rc=$?
[ $((rc & 2)) -eq 2 ] || fail "a restore through a reparse point: exit status $rc"
grep -qF 'C:\Camino\d\w.exe' "$work/err" || fail "a restore through a reparse point names nothing: $(cat "$work/err")"
[ -z "$(ls -A "$WINEPREFIX/drive_c/Otro")" ] || fail "a restore wrote behind a reparse point"
[ -e "$way/d.old/w.exe" ] && fail "a restore wrote into the folder under its new name"

stop_session
echo "quarantine_wine_test ($windows): passed"
