#!/bin/sh
# Installs the Debian packages that building and testing need, and nothing
# when they are all present already (the usual case: this runs before every
# `make run` / `make test`). Needs root only when something is missing.
#   install-deps.sh [NOTE_FILE]
# When 32-bit Wine is wanted but cannot be installed (a package mirror in
# mid-sync), the reason is written to NOTE_FILE and the install of
# everything else still counts as done: the suites that need it are then
# named as not run (scripts/i686-wine.sh). The note is removed otherwise.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
note=${1:-}
[ -z "$note" ] || mkdir -p "$(dirname "$note")"

# cmake/make/g++: native build; clang + libclang-rt-dev: libFuzzer and the
# sanitizer runtimes; libgtest-dev: native GoogleTest; googletest: its sources,
# built with the mingw compilers; the two mingw compilers: the Windows
# flavours; zlib1g-dev and libz-mingw-w64-dev: inflate for the archive
# readers, natively and in the Windows programs; wine64: runs the win64
# tests; xvfb/xdotool: the dialog tests; imagemagick: the screenshot of the
# headless demo and end-to-end test; python3: draws the icon and the cursor
# (res/make_icons.py); lintian: checks the Debian package.
PACKAGES="cmake make g++ clang libclang-rt-dev libgtest-dev googletest
g++-mingw-w64-x86-64 g++-mingw-w64-i686 zlib1g-dev libz-mingw-w64-dev wine64
xvfb xdotool python3 imagemagick lintian"
# wine32:i386 runs the shipped 32-bit programs and their tests. It is wanted
# only where 32-bit x86 programs can execute at all: elsewhere neither the
# i386 architecture nor its package lists are asked for.
WINE32=wine32:i386
if sh "$here/probe-i386.sh" >/dev/null; then
    wants_wine32=yes
else
    wants_wine32=no
fi

missing_of() {
    for pkg in "$@"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
        [ "$status" = "installed" ] || printf ' %s' "$pkg"
    done
}
# Word splitting of the package lists is intended throughout.
# shellcheck disable=SC2086
missing=$(missing_of $PACKAGES)
wine32_missing=""
[ $wants_wine32 = no ] || wine32_missing=$(missing_of $WINE32)
# A note younger than an hour says 32-bit Wine could not be had just now
# (the stages of one `make test` each ask): the mirror is not asked again
# until then. Delete the note to ask at once.
if [ -z "$missing" ] && [ -n "$wine32_missing" ] && [ -n "$note" ] && [ -s "$note" ] &&
    [ -n "$(find "$note" -mmin -60 2>/dev/null)" ]; then
    exit 0
fi
[ -z "$note" ] || rm -f "$note"
[ -n "$missing$wine32_missing" ] || exit 0

echo "install-deps: installing$missing$wine32_missing"
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO="sudo"
    else
        echo "install-deps: missing packages:$missing$wine32_missing; run this script as root" >&2
        exit 1
    fi
else
    SUDO=""
fi

# Another apt run (unattended upgrades, a provisioning step) may hold the lock
# for a while; wait for it instead of failing.
APT_OPTS="-q -o DPkg::Lock::Timeout=900 -o Dpkg::Use-Pty=0"
apt() { $SUDO env DEBIAN_FRONTEND=noninteractive apt-get $APT_OPTS "$@"; }

if [ -n "$wine32_missing" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi

# A mirror in mid-sync serves a list whose size does not match its index for
# a while: the update is tried again, three times, about 20 s apart. Lists
# that still fail are named if an install then fails; apt decides whether the
# packages can be had without them.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
pause=${VELMORA_APT_RETRY_SECONDS:-20}
attempt=0
until apt update >"$log" 2>&1 && ! grep -q '^[EW]: Failed to fetch' "$log"; do
    attempt=$((attempt + 1))
    if [ $attempt -gt 3 ]; then
        echo "install-deps: the package lists still fail to download; installing anyway" >&2
        break
    fi
    echo "install-deps: apt-get update failed; trying again in $pause s ($attempt of 3)" >&2
    sleep "$pause"
done
failed_lists=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\) *\(.*\)/\1 (\2)/p' "$log" | sort -u)

# Why PACKAGES could not be installed, on one line: the lists that failed,
# when any did.
explain() {  # PACKAGES
    if [ -n "$failed_lists" ]; then
        echo "$1 could not be installed: the package lists $(echo "$failed_lists" | paste -sd ';' - | sed 's/;/; /g') failed to download: that is the package mirror (in mid-sync?), not the project; try again later"
    else
        echo "$1 could not be installed (apt-get's messages are above)"
    fi
}

if [ -n "$missing" ]; then
    # shellcheck disable=SC2086
    if ! apt install -y $missing >"$log" 2>&1 || [ -n "$(missing_of $missing)" ]; then
        grep '^E:' "$log" >&2 || true
        # shellcheck disable=SC2086
        echo "install-deps:$(explain "$(missing_of $missing)")" >&2
        exit 1
    fi
fi
if [ -n "$wine32_missing" ]; then
    # shellcheck disable=SC2086
    if ! apt install -y $wine32_missing >"$log" 2>&1 || [ -n "$(missing_of $WINE32)" ]; then
        grep '^E:' "$log" | head -n 5 >&2 || true
        reason="32-bit Wine: $(explain "$WINE32")"
        echo "install-deps: $reason" >&2
        echo "install-deps: everything else is installed; what needs 32-bit Wine is named as not run" >&2
        [ -z "$note" ] || echo "$reason" >"$note"
        exit 0
    fi
fi
echo "install-deps: done"
