#!/bin/sh
# Stops the wineserver of every Wine prefix under a build folder, so that no
# Wine process outlives a test stage, whatever its outcome:
#   stop-wineservers.sh BUILD_DIR...
WINESERVER=${VELMORA_WINESERVER:-/usr/lib/wine/wineserver}
for build in "$@"; do
    [ -d "$build" ] || continue
    find "$build" -maxdepth 5 -name system.reg 2>/dev/null | while IFS= read -r reg; do
        prefix=$(dirname "$reg")
        WINEPREFIX=$prefix "$WINESERVER" -k 2>/dev/null || true
        WINEPREFIX=$prefix "$WINESERVER" -w 2>/dev/null || true
    done
done
exit 0
