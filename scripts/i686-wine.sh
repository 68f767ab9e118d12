#!/bin/sh
# Can the shipped 32-bit programs run here under 32-bit Wine?
#   i686-wine.sh [NOTE_FILE]
# Exit 0, printing nothing, when they can. Exit 1 with the reason on
# standard output when they cannot: the machine cannot execute 32-bit x86
# programs (scripts/probe-i386.sh), or 32-bit Wine is not installed (the
# reason install-deps left in NOTE_FILE, when it tried). Exit 2 when the
# probe itself failed: that is an error, never a reason to skip.
set -u
here=$(cd "$(dirname "$0")" && pwd)
note=${1:-}

rc=0
reason=$(sh "$here/probe-i386.sh") || rc=$?
case $rc in
0) ;;
1) echo "$reason"; exit 1 ;;
*) exit 2 ;;
esac
if [ ! -x "${VELMORA_WINE32:-/usr/lib/wine/wine}" ]; then
    if [ -n "$note" ] && [ -s "$note" ]; then
        cat "$note"
    else
        echo "32-bit Wine (wine32:i386) is not installed"
    fi
    exit 1
fi
exit 0
