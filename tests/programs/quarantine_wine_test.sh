#!/bin/sh
# velmora-scan.exe's quarantine under Wine, across a restart: synthesized
# samples lie in C:\Muestras with the quarantine folder among them, and a
# program holds one infected host open as Windows holds a running image.
#   quarantine_wine_test.sh BUILD_DIR WORK_DIR [WINDOWS]
# Passes when the rows read plainly; every changed file is saved once (the
# host in use from its examination, not through its copy) and the quarantine
# is never walked; after a restart the host is cured; and a restore then
# gives C:\Muestras back byte for byte, a second restore changing nothing.
set -eu
. "$(dirname "$0")/wine_test_env.sh"
fail() { echo "quarantine_wine_test ($windows): $*" >&2; exit 1; }
run() {  # PROGRAM [ARGS...] under the test's prefix
    # shellcheck disable=SC2086
    sh "$here/cmake/wine-run.sh" $wine_run_options "$work/prefix" "$@"
}
host=elkern_b_rot0.exe

# A fresh prefix: no samples, quarantine or restart-time request is left
# from an earlier run.
WINEPREFIX="$work/prefix" "$WINESERVER" -k 2>/dev/null || true
rm -rf "$work/prefix"
run "$build/tests/support/velmora-synth.exe" 'C:\Muestras' 9 >/dev/null || fail "synthesizer failed"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
muestras=$WINEPREFIX/drive_c/Muestras
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
"$WINESERVER" -w
cmp -s "$muestras/$host" "$work/pristine/$host" && fail "the host was not cured at the restart"

for round in 1 2; do
    rc=0
    run "$build/cli/velmora-scan.exe" --restore 'C:\Muestras\Cuarentena' >"$work/out" 2>"$work/err" || rc=$?
    [ $rc -eq 0 ] || fail "restore $round: exit status $rc: $(head -n 2 "$work/err")"
    restored=$(tr -d '\r' <"$work/out" | grep -c '	restaurado$' || true)
    [ "$round" -eq 2 ] || [ "$restored" -eq "$changed" ] || fail "restore: $restored rows for $changed files"
    [ "$round" -eq 1 ] || [ "$restored" -eq 0 ] || fail "a second restore restored again"
    diff -r -x Cuarentena "$muestras" "$work/pristine" >"$work/diff.txt" || fail "restore $round: C:\\Muestras differs (see $work/diff.txt)"
done
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

"$WINESERVER" -k 2>/dev/null || true
echo "quarantine_wine_test ($windows): passed"
