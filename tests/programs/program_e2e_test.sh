#!/bin/sh
# The whole program end to end, in a fresh prefix whose only drive is C:
# and that reports the given Windows (win98, nt40, winxp; "default" leaves
# Wine's own): a threat-named process, service and startup values run beside
# decoys, synthesized samples lie in C:\Muestras, and a program holds one
# infected host and one worm copy open as Windows holds running images.
#   program_e2e_test.sh BUILD_DIR WORK_DIR [WINDOWS]
# Passes when the start-up boxes come before the dialog; the process and the
# values are gone, and so is the service on the NT family only, while the
# decoys remain; the files in use are treated through copies whose last step
# is scheduled (wininit.ini on 98, delayed moves on NT); and after a restart
# C:\Muestras equals the expected tree (on 98 the worm copy in use stays, as
# reported), with no copy left behind.
set -eu
. "$(dirname "$0")/wine_test_env.sh"
runKey='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
sessionKey='HKLM\System\CurrentControlSet\Control\Session Manager'
fail() { echo "program_e2e_test ($windows): $*" >&2; exit 1; }
nt=1
[ "$windows" = win98 ] && nt=0
host=elkern_a_rot0.exe
worm=worm_h.exe

rm -rf "$work/held"
mkdir -p "$work/held"
plant=$work/plant.sh
cat >"$plant" <<PLANT
set -eu
c=\$WINEPREFIX/drive_c
mkdir -p "\$c/Velmora/wink"
hold=\$1/tests/programs/velmora-hold-open.exe
cp "\$hold" "\$c/Velmora/WINK123.EXE"
cp "\$hold" "\$c/Velmora/xwink.exe"
cp "\$hold" "\$c/Velmora/wink/keep.exe"
cp "\$hold" "\$c/Velmora/"
cp "\$c/Muestras/$host" "\$c/Muestras/$worm" "$work/held/"
"$WINE" sc create wqksvc binpath= 'C:\\Velmora\\xwink.exe' >/dev/null
"$WINE" sc create decoysvc binpath= 'C:\\Velmora\\xwink.exe' DisplayName= winkdecoy >/dev/null
"$WINE" reg add '$runKey' /v krn132a /d 'C:\\Velmora\\WINK123.EXE' /f >/dev/null
"$WINE" reg add '$runKey' /v Wqk /d x /f >/dev/null
"$WINE" reg add '$runKey' /v Decoy /d y /f >/dev/null
rm -f "\$c"/*.ready
# Each program says when it runs (and the holder, when it holds both files):
# the sweep must meet all of them.
"$WINE" 'C:\\Velmora\\WINK123.EXE' 'C:\\threat.ready' & echo \$! >"$work/threat.pid"
"$WINE" 'C:\\Velmora\\xwink.exe' 'C:\\decoy.ready' & echo \$! >"$work/decoy.pid"
"$WINE" 'C:\\Velmora\\wink\\keep.exe' 'C:\\folder.ready' & echo \$! >"$work/folder.pid"
"$WINE" 'C:\\Velmora\\velmora-hold-open.exe' 'C:\\holder.ready' 'C:\\Muestras\\$host' 'C:\\Muestras\\$worm' &
echo \$! >"$work/holder.pid"
for name in threat decoy folder holder; do
    while [ ! -e "\$c/\$name.ready" ]; do
        kill -0 "\$(cat "$work/\$name.pid")" 2>/dev/null || { echo "\$name did not start" >&2; exit 1; }
        sleep 0.1
    done
done
PLANT

VELMORA_WINDOWS=$([ "$windows" = default ] || echo "$windows") VELMORA_BEFORE_START=$plant \
    sh "$here/scripts/run-dialog.sh" "$build" "$work" --headless >"$work/run.txt" 2>&1 || {
    cat "$work/run.txt" >&2
    fail "the program run failed"
}
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
drive=$(tr -d '\r' <"$work/drive.txt")
row() { printf '%s\n' "$drive" | grep -qxF "row	$1	$2" || fail "no row \"$1	$2\""; }

# Boxes: the service (NT only), then the process, both before the dialog,
# then the restart warning after the scan.
boxes=$(printf '%s\n' "$drive" | grep '^box' | cut -f2,3 | tr '\t' '|')
expected="El proceso Klez eliminado|before
Tiene que reiniciar y volver a analizar el ordenador para que el proceso de la desinfeccion sea completo."
[ $nt -eq 1 ] && expected="El servicio Klez eliminado|before
$expected"
[ "$boxes" = "$expected" ] || fail "boxes were:
$boxes"

alive() { kill -0 "$(cat "$work/$1.pid")" 2>/dev/null; }
alive threat && fail "WINK123.EXE still runs"
alive decoy || fail "xwink.exe was ended"
alive folder || fail "a program in a folder named wink was ended"

service() { "$WINE" sc query "$1" 2>/dev/null | tr -d '\r' | grep -qi "SERVICE_NAME: $1"; }
if [ $nt -eq 1 ]; then
    service wqksvc && fail "service wqksvc remains"
else
    service wqksvc || fail "the 98 family has no services, yet wqksvc was deleted"
fi
service decoysvc || fail "service decoysvc was deleted"
values=$("$WINE" reg query "$runKey" 2>/dev/null | tr -d '\r')
printf '%s\n' "$values" | grep -qiE '^ *(krn132a|Wqk) ' && fail "a threat-named startup value remains"
printf '%s\n' "$values" | grep -qE '^ *Decoy ' || fail "the decoy startup value was deleted"

# The files in use: copied, the copy treated, the last step scheduled.
row "C:\\Muestras\\$host" "se crea una copia para la desinfeccion"
row "C:\\Muestras\\$host.zq-000" "infectado: Win32.Elkern.A"
row "C:\\Muestras\\$host" "se desinfectara al reinicio"
row "C:\\Muestras\\$worm" "infectado: Win32.Klez.H@mm"
pending=$("$WINE" reg query "$sessionKey" /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' || true)
wininit=$(tr -d '\r' <"$WINEPREFIX/drive_c/windows/wininit.ini" 2>/dev/null || true)
if [ $nt -eq 1 ]; then
    row "C:\\Muestras\\$worm" "se eliminara al reinicio"
    row "Eliminado al reinicio:" 1
    row "Incapaz de desinfectar:" 0
    for name in "$host.zq-000" "$host" "$worm"; do
        printf '%s\n' "$pending" | grep -qiF "C:\\Muestras\\$name" || fail "no delayed move names $name: $pending"
    done
    [ -z "$wininit" ] || fail "wininit.ini written on the NT family"
else
    row "C:\\Muestras\\$worm" "incapaz de desinfectar"
    row "Eliminado al reinicio:" 0
    row "Incapaz de desinfectar:" 1
    [ "$(printf '%s\n' "$wininit" | grep -xiF "[rename]")" ] || fail "no [rename] section: $wininit"
    # WININIT.EXE runs before long names exist: both sides are short paths.
    short='[^\\ .=]{1,8}([.][^\\ .=]{1,3})?'
    printf '%s\n' "$wininit" | grep -qixE "C:\\\\Muestras\\\\$short=C:\\\\Muestras\\\\$short" ||
        fail "no rename of the cured copy by short paths: $wininit"
    printf '%s\n' "$wininit" | grep -qiF "$worm" && fail "the worm copy in use was scheduled: $wininit"
    [ -z "$(printf '%s\n' "$pending" | grep -i Muestras)" ] || fail "delayed moves asked for on 98: $pending"
fi
row "Desinfectado al reinicio:" 1
# Until the restart, the files in use are untouched.
cmp -s "$work/held/$host" "$WINEPREFIX/drive_c/Muestras/$host" || fail "the host in use changed before the restart"
cmp -s "$work/held/$worm" "$WINEPREFIX/drive_c/Muestras/$worm" || fail "the worm copy in use changed before the restart"
[ -s "$work/velmora-dialog.png" ] || fail "no screenshot"

# A restart: every program ends, then Windows carries out what was asked.
"$WINE" sc delete decoysvc >/dev/null 2>&1 || true
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
"$WINE" wineboot -r >/dev/null 2>&1 || fail "wineboot -r failed"
"$WINESERVER" -w 2>/dev/null || true

muestras=$WINEPREFIX/drive_c/Muestras
[ -z "$(find "$muestras" -name '*.zq-*')" ] || fail "copies remain after the restart: $(find "$muestras" -name '*.zq-*')"
cmp -s "$muestras/$host" "$work/expected/$host" || fail "the host that was in use is not cured after the restart"
if [ $nt -eq 1 ]; then
    [ -e "$muestras/$worm" ] && fail "the worm copy that was in use remains after the restart"
else
    cmp -s "$muestras/$worm" "$work/held/$worm" || fail "the worm copy left in place on 98 changed"
    rm -f "$muestras/$worm"
fi
diff -r "$muestras" "$work/expected" >"$work/diff.txt" || fail "C:\\Muestras differs from the expected tree (see $work/diff.txt)"
"$WINESERVER" -k 2>/dev/null || true
echo "program_e2e_test ($windows): passed"
