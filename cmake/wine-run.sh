#!/bin/sh
# Runs one Windows program under 64-bit Wine for ctest:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# PREFIX is a private WINEPREFIX (created on first use); the program's exit
# status is passed through so a failing Windows test fails the run.
set -eu

if [ "$#" -lt 2 ]; then
    echo "usage: $0 WINEPREFIX PROGRAM [ARGS...]" >&2
    exit 2
fi

prefix=$1
shift

WINE=${VELMORA_WINE:-/usr/lib/wine/wine64}
WINEPREFIX=$prefix
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG

# Tests may start in parallel (ctest -j); only one of them may run wineboot.
# The marker is written last, so an interrupted initialisation is redone; its
# name changes whenever the set-up below does, so old prefixes are rebuilt.
mkdir -p "$(dirname "$prefix")"
if [ ! -f "$prefix/.velmora-prefix-v3" ]; then
    (
        flock 9
        if [ ! -f "$prefix/.velmora-prefix-v3" ]; then
            # Only ever wipe what looks like a prefix (or an empty folder).
            if [ -e "$prefix" ]; then
                if [ -f "$prefix/system.reg" ] || [ -z "$(ls -A "$prefix")" ]; then
                    rm -rf "$prefix"
                else
                    echo "wine-run: $prefix exists and is no Wine prefix" >&2
                    exit 1
                fi
            fi
            # mono and gecko are never needed and their installers would
            # only slow the first run down (or wait for a click).
            WINEDLLOVERRIDES="mscoree=d;mshtml=d" "$WINE" wineboot -i >/dev/null 2>&1 || {
                echo "wine-run: wineboot failed for $prefix" >&2
                exit 1
            }
            # Z: (the Linux root) stays reachable, since tests find the
            # source and build trees through it, but as a network drive:
            # a walk of "every fixed drive" then covers C: alone instead of
            # the whole host file system.
            "$WINE" reg add 'HKLM\Software\Wine\Drives' /v z: /t REG_SZ /d network /f >/dev/null 2>&1 || {
                echo "wine-run: cannot set the type of drive Z: in $prefix" >&2
                exit 1
            }
            "${VELMORA_WINESERVER:-/usr/lib/wine/wineserver}" -w
            # Wine links the profile's Desktop, Documents, ... to $HOME; a
            # walk of C: would wander into the host's home folder through
            # them. Plain empty folders take their place.
            find "$prefix/drive_c/users" -type l | while IFS= read -r link; do
                rm -f "$link" && mkdir -p "$link"
            done
            touch "$prefix/.velmora-prefix-v3"
        fi
    ) 9>"$prefix.lock"
fi

exec "$WINE" "$@"
