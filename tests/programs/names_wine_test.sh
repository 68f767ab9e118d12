#!/bin/sh
# Names as Windows gives them, end to end, on the NT family. In a fresh
# prefix whose only drive is C: (reporting the given Windows: default, nt40,
# winxp), threats lie under C:\Reach in folders and files named in Latin,
# Cyrillic, CJK and emoji letters; two are 7 folders deep at about 300
# characters, past MAX_PATH, one is past 1,000 characters, one has a name of
# 240 characters. Beside them lie fullwidth look-alikes that the code page's
# best fit would turn into other names: a worm "ｗｏｒｍ.exe" beside a clean
# "worm.exe"; a worm "．．＼．．＼Fuera＼victim.exe" in C:\Reach\wf, whose best
# fit leads to the worm waiting at C:\Fuera\victim.exe, outside; a folder
# "．．" holding a worm, whose best fit is C:\Reach's parent.
#   names_wine_test.sh BUILD_DIR WORK_DIR [WINDOWS]
# First the window scans every fixed drive (velmora-drive presses
# "&Analizar"; it cannot pick a folder in the folder browser), then the tree
# is planted again and velmora-scan.exe scans C:\Reach.
# Passes when each run leaves C:\Reach equal to the expected tree (worms
# gone, hosts equal byte for byte to their clean forms, clean files as they
# were, nothing added), its rows, read as UTF-8, are exactly the expected
# ones, file by file, and its counters agree; the window also deletes the
# worm in C:\Fuera, found on C: by its own name, and leaves C:\Muestras as
# a full disinfection must; the command line exits with 1 (found, all
# disinfected, no error), writes nothing on standard error and leaves C:
# outside C:\Reach as it was, C:\Fuera byte for byte.
set -eu
# The test's own tools read names as bytes. Wine reads the names under
# drive_c in its locale's character set (in the C locale, ASCII, which
# drops every letter's high bit): it runs in a UTF-8 locale.
LC_ALL=C
export LC_ALL
wineLocale=C.UTF-8

# --- The tree, staged on the Linux side ----------------------------------------
# names_wine_test.sh --stage WORK_DIR: from the samples in WORK_DIR/samples
# (infected forms) and WORK_DIR/expected (clean forms), writes
#   stage/     what is copied to drive_c: Reach and Fuera
#   expect/    what the scans must leave of them: Reach after either run,
#              Fuera after the window's (the command line leaves it as staged)
#   rows-reach, rows-fuera  each file's rows, "PATH<TAB>STATUS|STATUS...", sorted
#   counts     the report's counters for the command line's scan of C:\Reach
# Paths are staged with plain shell commands: under drive_c a name written
# in UTF-8 is that Unicode name to Windows programs.
if [ "${1:-}" = --stage ]; then
    work=$2
    stage=$work/stage
    expect=$work/expect
    rm -rf "$stage" "$expect" "$work/rows-reach" "$work/rows-fuera" "$work/rows.tmp"
    mkdir -p "$stage" "$expect"
    infected=0 disinfected=0 deleted=0
    : >"$work/rows.tmp"
    # The name the scan reports for a sample: worm_h... is Klez.H, elkern_b...
    # is Elkern.B.
    threat() {
        variant=$(printf '%s' "$1" | cut -d_ -f2 | tr a-z A-Z)
        case $1 in
        worm_*) printf 'Win32.Klez.%s@mm' "$variant" ;;
        elkern_*) printf 'Win32.Elkern.%s' "$variant" ;;
        esac
    }
    windowsPath() { printf 'C:\\%s' "$1" | tr / '\\'; }
    # place SAMPLE PATH: the sample's infected form at PATH (under drive_c);
    # its folder stays, whatever becomes of the file.
    place() {
        mkdir -p "$stage/$(dirname "$2")" "$expect/$(dirname "$2")"
        cp "$work/samples/$1.exe" "$stage/$2"
    }
    row() {  # PATH STATUSES
        printf '%s\t%s\n' "$(windowsPath "$1")" "$2" >>"$work/rows.tmp"
    }
    worm() {  # SAMPLE PATH: deleted
        place "$1" "$2"
        row "$2" "infectado: $(threat "$1")|eliminado"
        case $2 in Reach/*) infected=$((infected + 1)) deleted=$((deleted + 1)) ;; esac
    }
    host() {  # SAMPLE PATH: repaired to its clean form
        place "$1" "$2"
        cp "$work/expected/$1.exe" "$expect/$2"
        row "$2" "infectado: $(threat "$1")|desinfectado"
        infected=$((infected + 1)) disinfected=$((disinfected + 1))
    }
    clean() {  # SAMPLE PATH: untouched
        place "$1" "$2"
        cp "$work/samples/$1.exe" "$expect/$2"
    }
    repeat() {  # COUNT TEXT
        n=$1 text=""
        while [ "$n" -gt 0 ]; do text=$text$2 n=$((n - 1)); done
        printf '%s' "$text"
    }
    # What Windows counts of a text: UTF-16 units.
    units() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | wc -c | awk '{ print $1 / 2 }'; }
    atLeast() {  # WHAT TEXT MIN MAX: the tree is what this test claims it is
        n=$(units "$2")
        [ "$n" -ge "$3" ] && [ "$n" -le "$4" ] || { printf 'names_wine_test: %s is %s units long\n' "$1" "$n" >&2; exit 1; }
    }

    worm worm_a 'Reach/latin/ñandú/gusano.exe'
    host elkern_a_rot0 'Reach/cyrillic/Документы/host.exe'
    clean clean_host_2 'Reach/cyrillic/Документы/limpio.exe'
    host elkern_c_entry 'Reach/cjk/報告書/host.exe'
    worm worm_d 'Reach/cjk/資料.exe'
    worm worm_c 'Reach/emoji/😀/gusano.exe'
    # Seven folders of 37 characters: about 300 in all.
    deep=Reach/profundo
    for level in 1 2 3 4 5 6 7; do deep=$deep/nivel${level}_ü$(repeat 29 x); done
    worm worm_e "$deep/gusano.exe"
    host elkern_b_rot3 "$deep/anfitrión.exe"
    atLeast "the deep worm's path" "$(windowsPath "$deep/gusano.exe")" 290 310
    atLeast "the deep host's path" "$(windowsPath "$deep/anfitrión.exe")" 290 310
    # Ten folders of 105 characters: past 1,000 in all.
    far=Reach/mil
    for level in 0 1 2 3 4 5 6 7 8 9; do far=$far/tramo${level}_$(repeat 98 y); done
    worm worm_g "$far/gusano.exe"
    atLeast "the far worm's path" "$(windowsPath "$far/gusano.exe")" 1001 1200
    long=$(repeat 10 ñ)$(repeat 226 n).exe
    atLeast "the long name" "$long" 240 240
    worm worm_a_min_size "Reach/nombre largo/$long"
    worm worm_h 'Reach/anchos/ｗｏｒｍ.exe'
    clean clean_host_1 'Reach/anchos/worm.exe'
    worm worm_d_headers_end_at_eof 'Reach/wf/．．＼．．＼Fuera＼victim.exe'
    worm worm_b 'Reach/．．/gusano.exe'
    # Outside the scanned folder: what best fits would reach instead.
    worm worm_h 'Fuera/victim.exe'
    clean clean_host_2 'Fuera/limpio.exe'

    grep '^C:\\Reach\\' "$work/rows.tmp" | sort >"$work/rows-reach"
    grep '^C:\\Fuera\\' "$work/rows.tmp" | sort >"$work/rows-fuera"
    rm -f "$work/rows.tmp"
    folders=$(find "$stage/Reach" -type d | wc -l)
    files=$(find "$stage/Reach" -type f | wc -l)
    printf '%s\n' "$folders" "$files" "$infected" "$disinfected" "$deleted" >"$work/counts"
    exit 0
fi

# --- The test ------------------------------------------------------------------
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
. "$(dirname "$0")/wine_test_env.sh"
fail() { printf 'names_wine_test (%s): %s\n' "$windows" "$*" >&2; exit 1; }
# A check that fails is reported and the run goes on, so that one run tells
# about both front ends; the test fails at its end.
faults=0
fault() { printf 'names_wine_test (%s): %s\n' "$windows" "$*" >&2; faults=$((faults + 1)); }
case $windows in win95 | win98 | winme) fail "the 95/98/Me family has its own test (names98_wine_test.sh)" ;; esac

# Each file's rows on one line, "PATH<TAB>STATUS|STATUS...", sorted: a file
# whose rows are not one run gets two lines and differs.
group() {
    awk -F '\t' '{
        if (NR > 1 && $1 == path) { line = line "|" $2; next }
        if (NR > 1) print line
        path = $1; line = $0
    } END { if (NR > 0) print line }' | sort
}
same() {  # WHAT EXPECTED ACTUAL
    [ "$(cat "$2")" = "$(cat "$3")" ] ||
        fault "$1 differ:
$(diff "$2" "$3" | head -n 40)"
}

rm -rf "$work/samples" "$work/stage" "$work/expect"
cat >"$work/plant.sh" <<PLANT
set -eu
c=\$WINEPREFIX/drive_c
mkdir -p "$work/samples"
cp "\$c/Muestras/"*.exe "$work/samples/"
sh "$self" --stage "$work"
cp -R "$work/stage/." "\$c/"
cp "\$1/cli/velmora-scan.exe" "\$c/Velmora/"
PLANT

# --- The window, on every fixed drive ------------------------------------------
LC_ALL=$wineLocale VELMORA_WINDOWS=$([ "$windows" = default ] || echo "$windows") \
    VELMORA_BEFORE_START=$work/plant.sh sh "$here/scripts/run-dialog.sh" "$build" "$work" --headless >"$work/run.txt" 2>&1 || {
    cat "$work/run.txt" >&2
    fail "the window's run failed"
}
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
c=$WINEPREFIX/drive_c
tr -d '\r' <"$work/drive.txt" >"$work/drive-rows"

# One box: the restart warning, after the scan, since threats were found.
[ "$(grep -a '^box' "$work/drive-rows")" = "box	Tiene que reiniciar y volver a analizar el ordenador para que el proceso de la desinfeccion sea completo." ] ||
    fault "the boxes were: $(grep -a '^box' "$work/drive-rows")"
grep -a '^row	C:\\Reach\\' "$work/drive-rows" | cut -f2,3 | group >"$work/window-reach"
same "the window's rows for C:\\Reach" "$work/rows-reach" "$work/window-reach"
grep -a '^row	C:\\Fuera\\' "$work/drive-rows" | cut -f2,3 | group >"$work/window-fuera"
same "the window's rows for C:\\Fuera" "$work/rows-fuera" "$work/window-fuera"
tree() {  # WHO FOLDER EXPECTED: the folder on C: equals the expected one
    diff -r "$c/$2" "$3" >"$work/diff-$1-$2.txt" ||
        fault "$1 left C:\\$2 unlike the expected tree: $(head -n 20 "$work/diff-$1-$2.txt")"
}
tree window Reach "$work/expect/Reach"
tree window Fuera "$work/expect/Fuera"
tree window Muestras "$work/expected"
# The counters of the whole drive agree with its rows: every infected file
# once, every deletion, every repaired file once; nothing waits for a
# restart and nothing failed.
counter() { grep -a "^row	$1	" "$work/drive-rows" | cut -f3; }
paths() { grep -a "^row	[^	]*	$1" "$work/drive-rows" | cut -f2 | sort -u | wc -l; }
[ "$(counter 'Infectado:')" = "$(paths 'infectado: ')" ] || fault "Infectado: $(counter 'Infectado:') for $(paths 'infectado: ') files"
[ "$(counter 'Eliminado:')" = "$(grep -ac '^row	[^	]*	eliminado$' "$work/drive-rows")" ] || fault "Eliminado: $(counter 'Eliminado:')"
[ "$(counter 'Desinfectado:')" = "$(paths 'desinfectado$')" ] || fault "Desinfectado: $(counter 'Desinfectado:')"
for label in 'Desinfectado al reinicio:' 'Eliminado al reinicio:' 'Incapaz de desinfectar:'; do
    [ "$(counter "$label")" = 0 ] || fault "$label $(counter "$label")"
done

# --- The command line, on C:\Reach ---------------------------------------------
rm -rf "$c/Reach" "$c/Fuera"
cp -R "$work/stage/." "$c/"
# Everything on C: outside C:\Reach: every path, and every file's sum.
outside() {
    (cd "$c" && find . -path ./Reach -prune -o -type f -exec sha256sum {} + -o ! -type f -print) | sort
}
outside >"$work/outside-before"
rc=0
LC_ALL=$wineLocale "$WINE" 'C:\Velmora\velmora-scan.exe' 'C:\Reach' >"$work/cli-out" 2>"$work/cli-err" || rc=$?
"$WINESERVER" -w 2>/dev/null || true
[ "$rc" -eq 1 ] || fault "velmora-scan exited with $rc, not 1: $(head -n 3 "$work/cli-err")"
[ ! -s "$work/cli-err" ] || fault "velmora-scan wrote on standard error: $(head -n 3 "$work/cli-err")"
tr -d '\r' <"$work/cli-out" >"$work/cli-lines"
sed '/^Infome del analisis	$/,$d' "$work/cli-lines" | group >"$work/cli-reach"
same "velmora-scan's rows" "$work/rows-reach" "$work/cli-reach"
{
    read -r folders; read -r files; read -r infected; read -r disinfected; read -r deleted
} <"$work/counts"
printf 'Infome del analisis\t\nCarpetas:\t%s\nFicheros:\t%s\nInfectado:\t%s\nAdvertencias:\t0\nSospechoso:\t0\nDesinfectado:\t%s\nEliminado:\t%s\nDesinfectado al reinicio:\t0\nEliminado al reinicio:\t0\nIncapaz de desinfectar:\t0\n' \
    "$folders" "$files" "$infected" "$disinfected" "$deleted" >"$work/report-expected"
sed -n '/^Infome del analisis	$/,$p' "$work/cli-lines" >"$work/cli-report"
same "velmora-scan's report lines" "$work/report-expected" "$work/cli-report"
tree velmora-scan Reach "$work/expect/Reach"
tree velmora-scan Fuera "$work/stage/Fuera"
outside >"$work/outside-after"
same "C: outside C:\\Reach before and after velmora-scan" "$work/outside-before" "$work/outside-after"
"$WINESERVER" -k 2>/dev/null || true
[ "$faults" -eq 0 ] || fail "$faults checks failed"
echo "names_wine_test ($windows): passed"
