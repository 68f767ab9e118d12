#!/bin/sh
# Runs one Windows program under Wine for ctest and the scripts:
#   wine-run.sh [--win32] [--windows VERSION] PREFIX PROGRAM [ARGS...]
# PREFIX is a private WINEPREFIX (created on first use); the program's exit
# status is passed through so a failing Windows test fails the run.
# --win32 uses the 32-bit loader in a 32-bit prefix (the shipped i686
# programs and their tests); without it the prefix is 64-bit. --windows makes
# a new prefix report that Windows (win98, nt40, winxp: winecfg -v), so the
# programs take that family's paths for real.
set -eu

WINE=${VELMORA_WINE:-/usr/lib/wine/wine64}
arch=win64
windows=""
while [ "$#" -gt 0 ]; do
    case $1 in
    --win32) WINE=${VELMORA_WINE:-/usr/lib/wine/wine}; arch=win32; shift ;;
    --windows) windows=$2; shift 2 ;;
    *) break ;;
    esac
done
if [ "$#" -lt 2 ]; then
    echo "usage: $0 [--win32] [--windows VERSION] WINEPREFIX PROGRAM [ARGS...]" >&2
    exit 2
fi

prefix=$1
shift

WINEPREFIX=$prefix
WINEDEBUG=-all
WINEARCH=$arch
# Wine spells Windows names in Linux file names in the locale's character
# set: only in a UTF-8 one does every name a test plants come back as it
# was written, whatever locale the caller (a bare CI machine) has.
LC_ALL=C.UTF-8
export WINEPREFIX WINEDEBUG WINEARCH LC_ALL

# Tests may start in parallel (ctest -j); only one of them may run wineboot.
# The marker is written last, so an interrupted initialisation is redone; its
# name changes whenever the set-up below does, so old prefixes are rebuilt,
# and it names the architecture and Windows version the prefix was made for.
marker="$prefix/.velmora-prefix-v4-$arch${windows:+-$windows}"
mkdir -p "$(dirname "$prefix")"
if [ ! -f "$marker" ]; then
    (
        flock 9
        if [ ! -f "$marker" ]; then
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
            # Each step is a session of its own, whose server ends with its
            # last program; a step that meets a server on its way out is
            # tried again once that one is gone.
            settle() {
                for attempt in 1 2 3; do
                    "$@" >/dev/null 2>&1 && return 0
                    "${VELMORA_WINESERVER:-/usr/lib/wine/wineserver}" -w
                done
                return 1
            }
            settle "$WINE" reg add 'HKLM\Software\Wine\Drives' /v z: /t REG_SZ /d network /f || {
                echo "wine-run: cannot set the type of drive Z: in $prefix" >&2
                exit 1
            }
            if [ -n "$windows" ]; then
                settle "$WINE" winecfg -v "$windows" || {
                    echo "wine-run: cannot make $prefix report $windows" >&2
                    exit 1
                }
            fi
            "${VELMORA_WINESERVER:-/usr/lib/wine/wineserver}" -w
            # Wine links the profile's Desktop, Documents, ... to $HOME; a
            # walk of C: would wander into the host's home folder through
            # them. Plain empty folders take their place.
            find "$prefix/drive_c/users" -type l | while IFS= read -r link; do
                rm -f "$link" && mkdir -p "$link"
            done
            touch "$marker"
        fi
    ) 9>"$prefix.lock"
fi

# The session's own programs (services, devices) start with the first
# program of a session and keep its standard streams: a crash of one of them
# under load would be written into that program's output, which the tests
# read. So a session is started here by a program with no streams, and
# kept for a moment after its last program, so that the program joins it.
"${VELMORA_WINESERVER:-/usr/lib/wine/wineserver}" -p2 >/dev/null 2>&1 || true
"$WINE" cmd /c exit >/dev/null 2>&1 </dev/null || true
exec "$WINE" "$@"
