#!/bin/sh
# check_imports.sh ALLOWLIST EXE...
#
# The shipped 32-bit programs must start on Windows 98 and NT 4.0. The loader
# of those systems refuses a program that imports a single function their DLLs
# do not export, and one whose PE header asks for a subsystem newer than 4.0.
# This reads every import (DLL and function) and those header fields with
# objdump and fails, naming each offender, on anything the allowlist does not
# hold. Allowlist lines: "dll function", DLL file names in lower case
# ("kernel32.dll CreateFileA"); "#" starts a
# comment. OBJDUMP overrides the objdump used (e.g. for an x86_64 program).
set -u
# sort and comm must agree on one collation.
LC_ALL=C
export LC_ALL

OBJDUMP=${OBJDUMP:-i686-w64-mingw32-objdump}

if [ $# -lt 2 ]; then
    echo "usage: $0 ALLOWLIST EXE..." >&2
    exit 2
fi
allow=$1
shift
if [ ! -r "$allow" ]; then
    echo "check_imports: cannot read allowlist $allow" >&2
    exit 2
fi

tmp=$(mktemp -d) || exit 2
trap 'rm -rf "$tmp"' EXIT
# "dll function" pairs, comments and blank lines dropped.
sed -e 's/#.*//' -e 's/[[:space:]][[:space:]]*/ /g' -e 's/^ //' -e 's/ $//' "$allow" \
    | grep -v '^$' | sort -u > "$tmp/allowed"

status=0
for exe in "$@"; do
    bad=0
    if [ ! -f "$exe" ]; then
        echo "check_imports: $exe: missing" >&2
        status=1
        continue
    fi
    if ! "$OBJDUMP" -p "$exe" > "$tmp/dump" 2> "$tmp/err"; then
        echo "check_imports: $exe: $OBJDUMP failed: $(cat "$tmp/err")" >&2
        status=1
        continue
    fi

    # Import table lines are "<tab>hex<tab> hint  Name" under "DLL Name: X";
    # any line starting in column 0 begins another part of the dump.
    awk '
        /^[^ \t]/          { dll = "" }
        /\tDLL Name: /     { dll = tolower($3); next }
        dll != "" && /^\t[0-9a-f]+\t/ && NF >= 3 { print dll, $NF }
    ' "$tmp/dump" | sort -u > "$tmp/imports"

    # An empty list means the dump's layout changed, not a clean program.
    if [ ! -s "$tmp/imports" ]; then
        echo "check_imports: $exe: no imports found in the objdump output" >&2
        status=1
        continue
    fi

    comm -23 "$tmp/imports" "$tmp/allowed" > "$tmp/offenders"
    if [ -s "$tmp/offenders" ]; then
        while read -r dll fn; do
            echo "check_imports: $exe: imports $dll $fn, which is not in $allow" >&2
        done < "$tmp/offenders"
        bad=1
    fi

    # Windows 98 and NT 4.0 start nothing that asks for more than 4.0.
    for field in Subsystem OSystem; do
        major=$(awk -v f="Major${field}Version" '$1 == f { print $2 }' "$tmp/dump")
        minor=$(awk -v f="Minor${field}Version" '$1 == f { print $2 }' "$tmp/dump")
        case "$major.$minor" in
            [0-9]*.[0-9]*) ;;
            *) echo "check_imports: $exe: no Major/Minor${field}Version in the header" >&2
               bad=1; continue ;;
        esac
        if [ "$major" -gt 4 ] || { [ "$major" -eq 4 ] && [ "$minor" -gt 0 ]; }; then
            echo "check_imports: $exe: ${field} version $major.$minor is above 4.0" >&2
            bad=1
        fi
    done

    if [ $bad -eq 0 ]; then
        echo "check_imports: $exe: $(wc -l < "$tmp/imports") imports, all allowed"
    else
        status=1
    fi
done
exit $status
