#!/bin/sh
# check_imports_test.sh ALLOWLIST EXE
#
# Proves that check_imports.sh bites, on a program that passes it: with one
# function the program really imports taken out of the allowlist, and with the
# program's header asking for subsystem 5.0 (Windows 2000), the check must fail
# and name the offender. A parser that silently stopped seeing imports or
# header fields would pass both and is caught here.
set -u
here=$(dirname "$0")
allow=$1
exe=$2

tmp=$(mktemp -d) || exit 2
trap 'rm -rf "$tmp"' EXIT
fail=0

# expect_refused ALLOWLIST PROGRAM PATTERN WHAT: the check must fail, and
# its output must name the fault.
expect_refused() {
    if sh "$here/check_imports.sh" "$1" "$2" > "$tmp/out" 2>&1; then
        echo "check_imports_test: passed $4" >&2
        fail=1
    elif ! grep -q "$3" "$tmp/out"; then
        echo "check_imports_test: refused $4 without naming it:" >&2
        cat "$tmp/out" >&2
        fail=1
    fi
}

# 1. An import missing from the allowlist.
grep -v '^kernel32.dll CreateFileA\b' "$allow" > "$tmp/allow"
expect_refused "$tmp/allow" "$exe" 'imports kernel32.dll CreateFileA,' "an import that is not allowed (CreateFileA)"

# 2. A subsystem version above 4.0: MajorSubsystemVersion is the 2-byte field
# 48 bytes into the optional header, which follows "PE\0\0" and the 20-byte
# file header; e_lfanew (offset 60) locates the signature.
cp "$exe" "$tmp/new.exe"
pe=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
printf '\005' | dd of="$tmp/new.exe" bs=1 seek=$((pe + 4 + 20 + 48)) conv=notrunc 2>/dev/null
expect_refused "$allow" "$tmp/new.exe" 'Subsystem version 5.0 is above 4.0' "a program that asks for subsystem 5.0"

[ $fail -eq 0 ] && echo "check_imports_test: a missing import and subsystem 5.0 are both refused"
exit $fail
