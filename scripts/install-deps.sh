#!/bin/sh
# Installs the Debian packages that building and testing need, and nothing
# when they are all present already (the usual case: this runs before every
# `make run` / `make test`). Needs root only when something is missing.
set -eu

# cmake/make/g++: native build; clang + libclang-rt-dev: libFuzzer and the
# sanitizer runtimes; libgtest-dev: native GoogleTest; googletest: its sources,
# built with the mingw compilers; the two mingw compilers: the Windows
# flavours; wine64: runs the win64 tests; wine32:i386: runs the shipped
# 32-bit programs and their tests (it needs the i386 architecture, added below
# when missing); xvfb/xdotool: the dialog tests;
# imagemagick: the screenshot of the headless demo and end-to-end test;
# python3: draws the icon and the cursor (res/make_icons.py).
PACKAGES="cmake make g++ clang libclang-rt-dev libgtest-dev googletest
g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine32:i386 xvfb xdotool python3
imagemagick lintian"

missing=""
for pkg in $PACKAGES; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
    if [ "$status" != "installed" ]; then
        missing="$missing $pkg"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

echo "install-deps: installing$missing"

if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO="sudo"
    else
        echo "install-deps: missing packages:$missing; run this script as root" >&2
        exit 1
    fi
else
    SUDO=""
fi

# Another apt run (unattended upgrades, a provisioning step) may hold the lock
# for a while; wait for it instead of failing.
APT_OPTS="-q -o DPkg::Lock::Timeout=900 -o Dpkg::Use-Pty=0"

# wine32 is an i386 package: without the architecture apt cannot see it.
case " $missing " in
*:i386*)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    ;;
esac

# Word splitting of the option and package lists is intended below.
# shellcheck disable=SC2086
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get $APT_OPTS update >/dev/null
# shellcheck disable=SC2086
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get $APT_OPTS install -y $missing >/dev/null

# Report what is still missing rather than letting the build fail obscurely.
still=""
for pkg in $missing; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
    [ "$status" = "installed" ] || still="$still $pkg"
done
if [ -n "$still" ]; then
    echo "install-deps: could not install:$still" >&2
    exit 1
fi
echo "install-deps: done"
