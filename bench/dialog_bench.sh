#!/bin/sh
# How long the window takes to scan an infected machine, beside the
# command-line scanner on the same tree in the same prefix: the shipped i686
# velmora.exe and velmora-scan.exe under 32-bit Wine, C: holding synthesized
# harmless infected hosts and worm copies in folders of 200 files.
#   dialog_bench.sh BUILD_DIR WORK_DIR [INFECTED_FILES...]   (default 1600 2400 10000)
# BUILD_DIR is the win32 build folder. Prints a Markdown table; the dialog's
# time runs from the press of "&Analizar" to the restart warning (measured
# by velmora-drive), the scanner's is the wall time of `velmora-scan.exe C:\`.
set -eu
build=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
shift 2
[ "$#" -gt 0 ] || set -- 1600 2400 10000
here=$(cd "$(dirname "$0")/.." && pwd)
WINE=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
prefix=$work/prefix
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win32

if [ -z "${VELMORA_IN_XVFB:-}" ]; then
    VELMORA_IN_XVFB=1 exec sh "$here/cmake/with-xvfb.sh" sh "$0" "$build" "$work" "$@"
fi

"$WINESERVER" -k 2>/dev/null || true
rm -rf "$prefix" "$prefix.lock" "$work/seed"
sh "$here/cmake/wine-run.sh" --win32 "$prefix" "$build/tests/support/velmora-synth.exe" "Z:$work/seed" 11 >/dev/null
c=$prefix/drive_c
mkdir -p "$c/Velmora"
cp "$build/app/velmora.exe" "$build/cli/velmora-scan.exe" "$build/tests/programs/velmora-drive.exe" "$c/Velmora/"
"$WINESERVER" -w
rm -f "$prefix/dosdevices/z:"

# N infected files, 200 a folder, the seed's infected samples in turn.
seed=$work/seed
. "$(dirname "$0")/plant_infected.sh"

now() { date +%s%N; }
echo "| infected files (rows) | dialog, press to restart warning | \`velmora-scan.exe C:\\\` | ratio |"
echo "| ---: | ---: | ---: | ---: |"
for size in "$@"; do
    plant "$size" "$c/Bench"
    "$WINE" 'C:\Velmora\velmora.exe' &
    program=$!
    "$WINE" 'C:\Velmora\velmora-drive.exe' scan 3600 | tr -d '\r' >"$work/drive-$size.txt"
    "$WINE" 'C:\Velmora\velmora-drive.exe' exit >/dev/null
    wait "$program" || true
    dialogMs=$(grep '^scan-ms' "$work/drive-$size.txt" | cut -f2)
    rows=$(grep -c '^row' "$work/drive-$size.txt")
    plant "$size" "$c/Bench"
    t0=$(now)
    "$WINE" 'C:\Velmora\velmora-scan.exe' 'C:\' >"$work/scan-$size.txt" || true
    scanMs=$((($(now) - t0) / 1000000))
    awk -v s="$size" -v r="$rows" -v d="$dialogMs" -v c="$scanMs" \
        'BEGIN { printf "| %d (%d) | %.2f s | %.2f s | %.1fx |\n", s, r, d / 1000, c / 1000, d / c }'
done
"$WINESERVER" -k 2>/dev/null || true
