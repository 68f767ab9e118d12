#!/bin/sh
# Runs velmora.exe under Wine in a prefix of its own whose only drive is C:,
# holding freshly synthesized harmless samples in C:\Muestras.
#   run-dialog.sh BUILD_DIR OUT_DIR [--headless]
# BUILD_DIR is a Windows build folder (velmora.exe, velmora-synth.exe,
# velmora-drive.exe); its wine-arch file says whether its programs run under
# 32-bit Wine (the shipped i686 build) or wine64. VELMORA_WINDOWS (win98,
# nt40, winxp, ...) makes the prefix report that Windows. OUT_DIR receives
# the prefix, the expected tree and, headless, the driver's output and a
# screenshot.
# With a display (DISPLAY set) and without --headless the person uses the
# dialog. Otherwise a virtual display is used: "&Analizar" is pressed, the
# start-up boxes and the restart warning answered, the report captured, the
# program ended, and the samples left on C: compared with what a full
# disinfection must leave (unless a caller's VELMORA_BEFORE_START hook
# planted more and checks the outcome itself).
set -eu

if [ "$#" -lt 2 ]; then
    echo "usage: $0 BUILD_DIR OUT_DIR [--headless]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
headless=${3:-}
here=$(cd "$(dirname "$0")/.." && pwd)
WINESERVER=${VELMORA_WINESERVER:-/usr/lib/wine/wineserver}
windows=${VELMORA_WINDOWS:-}
if [ "$(cat "$build/wine-arch" 2>/dev/null)" = win32 ]; then
    WINE=${VELMORA_WINE:-/usr/lib/wine/wine}
    set -- --win32
    WINEARCH=win32
else
    WINE=${VELMORA_WINE:-/usr/lib/wine/wine64}
    set --
    WINEARCH=win64
fi
[ -n "$windows" ] && set -- "$@" --windows "$windows"
prefix=$out/prefix
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH

# Headless runs get a private virtual display, for the whole run.
if { [ -z "${DISPLAY:-}" ] || [ "$headless" = "--headless" ]; } && [ -z "${VELMORA_IN_XVFB:-}" ]; then
    VELMORA_IN_XVFB=1 exec sh "$here/cmake/with-xvfb.sh" sh "$0" "$build" "$out" --headless
fi

# A fresh prefix every time, made the way the tests make theirs.
"$WINESERVER" -k 2>/dev/null || true
rm -rf "$prefix" "$prefix.lock" "$out/expected" "$out/drive.txt" "$out/velmora-dialog.png" "$out/inside-rows.txt"
# The demo also holds mail folders and archives with threats inside, which
# are only reported; a caller that plants its own samples gets the corpus
# alone.
inside=""
[ -n "${VELMORA_BEFORE_START:-}" ] || inside="--inside Z:$out/inside-rows.txt"
# shellcheck disable=SC2086
sh "$here/cmake/wine-run.sh" "$@" "$prefix" "$build/tests/support/velmora-synth.exe" \
    'C:\Muestras' 11 --expect "Z:$out/expected" $inside >/dev/null
mkdir -p "$prefix/drive_c/Velmora"
cp "$build/app/velmora.exe" "$build/tests/programs/velmora-drive.exe" "$prefix/drive_c/Velmora/"
# From here on C: is the only drive: "every fixed drive" is C: alone.
"$WINESERVER" -w
rm -f "$prefix/dosdevices/z:"

if [ -n "${DISPLAY:-}" ] && [ "$headless" != "--headless" ]; then
    echo "run-dialog: velmora.exe ($WINEARCH) is starting; the samples are in C:\\Muestras"
    exec "$WINE" 'C:\Velmora\velmora.exe'
fi

# The end-to-end test plants running threats here (WINEPREFIX is set).
if [ -n "${VELMORA_BEFORE_START:-}" ]; then
    sh "$VELMORA_BEFORE_START" "$build"
fi

"$WINE" 'C:\Velmora\velmora.exe' &
program=$!
rc=0
"$WINE" 'C:\Velmora\velmora-drive.exe' scan 600 >"$out/drive.txt" || rc=$?
if command -v import >/dev/null 2>&1; then
    import -window root -crop 604x384+0+0 "$out/velmora-dialog.png" || true
fi
"$WINE" 'C:\Velmora\velmora-drive.exe' exit || rc=$?
programRc=0
wait "$program" || programRc=$?
# Nothing of Wine's may outlive the virtual display, unless a caller still
# wants to look at the prefix's running programs.
[ -n "${VELMORA_BEFORE_START:-}" ] || "$WINESERVER" -k 2>/dev/null || true
# Rows are UTF-8, and WTF-8 where a name holds an unpaired surrogate: text
# all the same, even where the locale would call such bytes binary.
tr -d '\r' <"$out/drive.txt" | grep -aE '^(box|row)' | sed -n '1,400p'
if [ "$rc" -ne 0 ] || [ "$programRc" -ne 0 ]; then
    echo "run-dialog: the driver ($rc) or velmora.exe ($programRc) failed" >&2
    exit 1
fi
[ -f "$out/velmora-dialog.png" ] && echo "run-dialog: screenshot of the report: $out/velmora-dialog.png"
[ -n "${VELMORA_BEFORE_START:-}" ] && exit 0
if ! diff -r "$prefix/drive_c/Muestras" "$out/expected" >"$out/diff.txt"; then
    echo "run-dialog: C:\\Muestras differs from the expected tree (see $out/diff.txt)" >&2
    exit 1
fi
echo "run-dialog: C:\\Muestras equals the expected tree"
# Each threat inside a mail folder or an archive is exactly one row of it.
missing=0
tr -d '\r' <"$out/inside-rows.txt" | grep -v ':	' | while IFS= read -r line; do
    row="row	C:\\Muestras\\$(printf '%s' "$line" | sed 's|/|\\|')"
    [ "$(tr -d '\r' <"$out/drive.txt" | grep -cxF "$row")" -eq 1 ] || { echo "run-dialog: no single row $row" >&2; exit 1; }
done || missing=1
[ $missing -eq 0 ] || exit 1
echo "run-dialog: every threat inside a mail folder or an archive has its row"
exit 0
