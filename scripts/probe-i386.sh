#!/bin/sh
# Can this machine execute 32-bit x86 Linux programs? Some machines of the
# kind the project runs on refuse every one ("Exec format error"), others run
# them, so this is decided by running one, never by a guess:
#   probe-i386.sh [--elf FILE]
# writes a minimal static i386 ELF (it only exits with status 7) into a
# temporary folder under the build folder, and runs it.
# Exit status and output:
#   0  it ran (and exited 7): 32-bit programs run here;
#   1  the kernel refused its format (ENOEXEC), or i386 programs run only
#      under an emulator registered with binfmt_misc (qemu-i386), where Wine
#      cannot start: the reason on standard output;
#   2  any other failure (a folder mounted noexec, no shell, ...): the reason
#      on standard error. Never taken for "cannot": a machine that could run
#      the shipped programs' tests must not skip them quietly.
# --elf runs FILE instead of the written program (the probe's own test).
# VELMORA_PROBE_I386=cannot forces answer 1, to try the other path on a
# machine that can.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)

if [ "${VELMORA_PROBE_I386:-}" = cannot ]; then
    echo "32-bit x86 programs are taken as unable to run here (VELMORA_PROBE_I386=cannot)"
    exit 1
fi

write_elf() {  # FILE: ELF header, one program header, 9 bytes of code
    # xor ebx,ebx; mov bl,7; xor eax,eax; inc eax (exit); int 0x80
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\061\333\263\007\061\300\100\315\200' >"$1"
}

elf=""
if [ "${1:-}" = --elf ]; then
    elf=$2
elif [ "${1:-}" = --write ]; then
    write_elf "$2"
    exit $?
fi

work=$(mktemp -d "${VELMORA_PROBE_DIR:-$here/build}/probe-i386.XXXXXX" 2>/dev/null) ||
    { mkdir -p "${VELMORA_PROBE_DIR:-$here/build}" &&
      work=$(mktemp -d "${VELMORA_PROBE_DIR:-$here/build}/probe-i386.XXXXXX"); } ||
    { echo "probe-i386: cannot make a folder to probe in" >&2; exit 2; }
trap 'rm -rf "$work"' EXIT
if [ -z "$elf" ]; then
    elf=$work/exit7
    write_elf "$elf" && chmod +x "$elf" || { echo "probe-i386: cannot write the probe" >&2; exit 2; }
fi

# An emulator registered for i386 programs would run the probe, and Wine's
# loader after it, but not a Wine prefix: that is no way to run the tests.
for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] || continue
    case $entry in */status | */register) continue ;; esac
    if grep -qx enabled "$entry" 2>/dev/null && grep -q '^interpreter .*qemu-i386' "$entry" 2>/dev/null; then
        echo "32-bit x86 programs run here only under an emulator ($(sed -n 's/^interpreter //p' "$entry")), where Wine cannot start a prefix"
        exit 1
    fi
done

rc=0
"$elf" 2>"$work/err" || rc=$?
[ $rc -eq 7 ] && exit 0
if [ $rc -eq 126 ] && grep -qi 'exec format error' "$work/err"; then
    echo "this machine cannot execute 32-bit x86 programs (Exec format error)"
    exit 1
fi
echo "probe-i386: the probe failed (exit status $rc): $(head -n 1 "$work/err")" >&2
exit 2
