#!/bin/sh
# The whole program end to end: velmora.exe in a fresh prefix whose only
# drive is C:, with a threat-named process, service and startup values
# running beside decoys, and synthesized samples in C:\Muestras.
#   program_e2e_test.sh BUILD_DIR WORK_DIR
# Passes when the start-up boxes come before the dialog, the process, the
# service and the values are gone while the decoys remain, the scan leaves
# C:\Muestras equal to the expected tree, and a screenshot was saved.
set -eu
mkdir -p "$2"
build=$(cd "$1" && pwd)
work=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")/../.." && pwd)
WINE=${VELMORA_WINE:-/usr/lib/wine/wine64}
runKey='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
fail() { echo "program_e2e_test: $*" >&2; exit 1; }

plant=$work/plant.sh
cat >"$plant" <<PLANT
set -eu
c=\$WINEPREFIX/drive_c
mkdir -p "\$c/Velmora/wink"
cp "\$1/tests/support/velmora-idle-child.exe" "\$c/Velmora/WINK123.EXE"
cp "\$1/tests/support/velmora-idle-child.exe" "\$c/Velmora/xwink.exe"
cp "\$1/tests/support/velmora-idle-child.exe" "\$c/Velmora/wink/keep.exe"
"$WINE" sc create wqksvc binpath= 'C:\\Velmora\\xwink.exe' >/dev/null
"$WINE" sc create decoysvc binpath= 'C:\\Velmora\\xwink.exe' DisplayName= winkdecoy >/dev/null
"$WINE" reg add '$runKey' /v krn132a /d 'C:\\Velmora\\WINK123.EXE' /f >/dev/null
"$WINE" reg add '$runKey' /v Wqk /d x /f >/dev/null
"$WINE" reg add '$runKey' /v Decoy /d y /f >/dev/null
"$WINE" 'C:\\Velmora\\WINK123.EXE' & echo \$! >"$work/threat.pid"
"$WINE" 'C:\\Velmora\\xwink.exe' & echo \$! >"$work/decoy.pid"
"$WINE" 'C:\\Velmora\\wink\\keep.exe' & echo \$! >"$work/folder.pid"
sleep 2
PLANT

VELMORA_BEFORE_START=$plant sh "$here/scripts/run-dialog.sh" "$build" "$work" --headless >"$work/run.txt" 2>&1 || {
    cat "$work/run.txt" >&2
    fail "the program run failed"
}
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
drive=$(tr -d '\r' <"$work/drive.txt")

# Boxes: the service, then the process, both before the dialog, then the
# restart warning after the scan.
boxes=$(printf '%s\n' "$drive" | grep '^box' | cut -f2,3 | tr '\t' '|')
expected="El servicio Klez eliminado|before
El proceso Klez eliminado|before
Tiene que reiniciar y volver a analizar el ordenador para que el proceso de la desinfeccion sea completo."
[ "$boxes" = "$expected" ] || fail "boxes were:
$boxes"

alive() { kill -0 "$(cat "$work/$1.pid")" 2>/dev/null; }
alive threat && fail "WINK123.EXE still runs"
alive decoy || fail "xwink.exe was ended"
alive folder || fail "a program in a folder named wink was ended"

service() { "$WINE" sc query "$1" 2>/dev/null | tr -d '\r' | grep -qi "SERVICE_NAME: $1"; }
service wqksvc && fail "service wqksvc remains"
service decoysvc || fail "service decoysvc was deleted"
values=$("$WINE" reg query "$runKey" 2>/dev/null | tr -d '\r')
printf '%s\n' "$values" | grep -qiE '^ *(krn132a|Wqk) ' && fail "a threat-named startup value remains"
printf '%s\n' "$values" | grep -qE '^ *Decoy ' || fail "the decoy startup value was deleted"

# The report: eleven rows at the end, the infected and repaired counts of
# the synthesized corpus.
printf '%s\n' "$drive" | grep -q "^row	Infome del analisis	$" || fail "no report"
printf '%s\n' "$drive" | grep -q "^row	Incapaz de desinfectar:	0$" || fail "a file could not be disinfected"
[ -s "$work/velmora-dialog.png" ] || fail "no screenshot"

"$WINE" sc delete decoysvc >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -k 2>/dev/null || true
echo "program_e2e_test: passed"
