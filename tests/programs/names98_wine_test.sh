#!/bin/sh
# Names on Windows 98, whose programs have only the code page's functions,
# in a fresh prefix reporting win98:
# - an infected host held open as a running image in
#   C:\Archivos de programa\Programa con nombre largo\Herramienta infectada.exe:
#   velmora-scan.exe on its folder treats a copy and leaves the last step to
#   WININIT.EXE, which runs before long names exist, so the [rename] entry
#   of wininit.ini names both files by short paths (8.3, no spaces); after a
#   restart the host is its clean form and no copy is left;
# - names the code page cannot spell in C:\Ajeno: a worm and a clean file
#   whose Cyrillic names the code page turns into the same "????????.exe",
#   and a Cyrillic folder holding a worm: each is reached by its short name,
#   the worms deleted and the clean file left as it was.
#   names98_wine_test.sh BUILD_DIR WORK_DIR [WINDOWS]
# Passes when the rows, the report, the exit statuses and the files on disk
# are exactly as said.
set -eu
# The test's own tools read names as bytes. Wine reads the names under
# drive_c in its locale's character set (in the C locale, ASCII, which
# drops every letter's high bit): it runs in a UTF-8 locale.
LC_ALL=C
export LC_ALL
wineLocale=C.UTF-8
. "$(dirname "$0")/wine_test_env.sh"
fail() { printf 'names98_wine_test (%s): %s\n' "$windows" "$*" >&2; exit 1; }
faults=0
fault() { printf 'names98_wine_test (%s): %s\n' "$windows" "$*" >&2; faults=$((faults + 1)); }
[ "$windows" = win98 ] || fail "this test is for win98 only"
same() {  # WHAT EXPECTED ACTUAL
    [ "$(cat "$2")" = "$(cat "$3")" ] ||
        fault "$1 differ:
$(diff "$2" "$3" | head -n 40)"
}
# The report of a scan: FOLDERS FILES INFECTED DISINFECTED DELETED AT-RESTART.
report() {
    printf 'Infome del analisis\t\nCarpetas:\t%s\nFicheros:\t%s\nInfectado:\t%s\nAdvertencias:\t0\nSospechoso:\t0\nDesinfectado:\t%s\nEliminado:\t%s\nDesinfectado al reinicio:\t%s\nEliminado al reinicio:\t0\nIncapaz de desinfectar:\t0\n' "$@"
}
scan() {  # NAME PATH: velmora-scan.exe on PATH, its output in WORK/NAME-*
    rc=0
    LC_ALL=$wineLocale "$WINE" "$build/cli/velmora-scan.exe" "$2" >"$work/$1-out" 2>"$work/$1-err" || rc=$?
    tr -d '\r' <"$work/$1-out" >"$work/$1-lines"
    [ ! -s "$work/$1-err" ] || fault "$1: velmora-scan wrote on standard error: $(head -n 3 "$work/$1-err")"
}

# A fresh prefix: no sample, wininit.ini or restart-time request is left
# from an earlier run.
WINEPREFIX="$work/prefix" "$WINESERVER" -k 2>/dev/null || true
rm -rf "$work/prefix" "$work/expected"
# shellcheck disable=SC2086
LC_ALL=$wineLocale sh "$here/cmake/wine-run.sh" $wine_run_options "$work/prefix" \
    "$build/tests/support/velmora-synth.exe" 'C:\Muestras' 7 --expect "Z:$work/expected" >/dev/null ||
    fail "synthesizer failed"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
c=$WINEPREFIX/drive_c
samples=$c/Muestras

# --- A host in use under long names with spaces ---------------------------------
folder='Archivos de programa/Programa con nombre largo'
name='Herramienta infectada.exe'
winFolder='C:\Archivos de programa\Programa con nombre largo'
host=$c/$folder/$name
mkdir -p "$c/$folder"
cp "$samples/elkern_a_rot0.exe" "$host"
rm -f "$c/holder.ready"
LC_ALL=$wineLocale "$WINE" "$build/tests/programs/velmora-hold-open.exe" 'C:\holder.ready' "$winFolder\\$name" &
holder=$!
n=0
until [ -f "$c/holder.ready" ]; do
    kill -0 "$holder" 2>/dev/null || fail "the holder could not hold the host"
    n=$((n + 1)); [ $n -lt 600 ] || fail "the holder never held the host"; sleep 0.1
done

scan held "$winFolder"
[ "$rc" -eq 5 ] || fault "held: exit status $rc, not 5 (found, cured only at the restart)"
# The host is found, copied, the copy cured, the host's cure scheduled. The
# copy is a file examined and found infected in its own right: two files,
# two infected, one disinfected (the copy), one at the restart.
{
    printf '%s\t%s\n' "$winFolder\\$name" 'infectado: Win32.Elkern.A' \
        "$winFolder\\$name" 'se crea una copia para la desinfeccion' \
        "$winFolder\\$name.zq-000" 'infectado: Win32.Elkern.A' \
        "$winFolder\\$name.zq-000" 'desinfectado' \
        "$winFolder\\$name" 'se desinfectara al reinicio'
    report 1 2 2 1 0 1
} >"$work/held-expected"
same "the rows for the host in use" "$work/held-expected" "$work/held-lines"
cmp -s "$host" "$samples/elkern_a_rot0.exe" || fault "the host in use changed before the restart"

# WININIT.EXE reads "[rename]" and "TARGET=SOURCE" lines: both short paths,
# each name at most 8 characters and an extension of at most 3, no spaces,
# the cured copy beside the host.
tr -d '\r' <"$c/windows/wininit.ini" >"$work/wininit" 2>/dev/null || fail "no wininit.ini written"
short='[^\\ .=]{1,8}([.][^\\ .=]{1,3})?'
entries=$(sed -n '/^\[rename\]$/,/^\[/{/=/p}' "$work/wininit")
[ "$(printf '%s\n' "$entries" | grep -c .)" -eq 1 ] || fault "not one [rename] entry: $(cat "$work/wininit")"
printf '%s\n' "$entries" | grep -qxiE "C:(\\\\$short)+=C:(\\\\$short)+" ||
    fault "the [rename] entry is not two short paths: $entries"
target=${entries%%=*}
source=${entries#*=}
[ "${target%\\*}" = "${source%\\*}" ] || fault "the cured copy is not beside the host: $entries"
[ "$target" != "$source" ] || fault "the entry renames a file to itself: $entries"
printf '%s\n' "$target" | grep -qiE '[.]EXE$' || fault "the entry's target is not the host: $entries"

kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
LC_ALL=$wineLocale "$WINE" wineboot -r >/dev/null 2>&1 || fail "wineboot -r failed"
"$WINESERVER" -w 2>/dev/null || true
cmp -s "$host" "$work/expected/elkern_a_rot0.exe" || fault "the host is not its clean form after the restart"
left=$(find "$c/Archivos de programa" -type f ! -path "$host")
[ -z "$left" ] || fault "files beside the host after the restart: $left"

# --- Names the code page cannot spell -------------------------------------------
mkdir -p "$c/Ajeno/Папка"
cp "$samples/worm_e.exe" "$c/Ajeno/Документ.exe"
cp "$samples/clean_host_1.exe" "$c/Ajeno/Договоры.exe"
cp "$samples/worm_g.exe" "$c/Ajeno/Папка/gusano.exe"
scan foreign 'C:\Ajeno'
[ "$rc" -eq 1 ] || fault "foreign: exit status $rc, not 1 (found, all disinfected)"
# A row shows the name as the code page spells it.
{
    printf '%s\t%s\n' 'C:\Ajeno\????????.exe' 'infectado: Win32.Klez.E@mm' \
        'C:\Ajeno\????????.exe' 'eliminado'
    printf '%s\t%s\n' 'C:\Ajeno\?????\gusano.exe' 'infectado: Win32.Klez.G@mm' \
        'C:\Ajeno\?????\gusano.exe' 'eliminado'
} | sort >"$work/foreign-rows-expected"
sed '/^Infome del analisis	$/,$d' "$work/foreign-lines" | sort >"$work/foreign-rows"
same "the rows for names outside the code page" "$work/foreign-rows-expected" "$work/foreign-rows"
report 2 3 2 0 2 0 >"$work/foreign-report-expected"
sed -n '/^Infome del analisis	$/,$p' "$work/foreign-lines" >"$work/foreign-report"
same "the report for names outside the code page" "$work/foreign-report-expected" "$work/foreign-report"
[ ! -e "$c/Ajeno/Документ.exe" ] || fault "the worm named in Cyrillic remains"
[ ! -e "$c/Ajeno/Папка/gusano.exe" ] || fault "the worm in the Cyrillic folder remains"
cmp -s "$c/Ajeno/Договоры.exe" "$samples/clean_host_1.exe" || fault "the clean file named in Cyrillic changed"
[ "$(find "$c/Ajeno" | sort | tr '\n' '|')" = "$c/Ajeno|$c/Ajeno/Договоры.exe|$c/Ajeno/Папка|" ] ||
    fault "C:\\Ajeno holds: $(find "$c/Ajeno")"

"$WINESERVER" -k 2>/dev/null || true
[ "$faults" -eq 0 ] || fail "$faults checks failed"
echo "names98_wine_test ($windows): passed"
