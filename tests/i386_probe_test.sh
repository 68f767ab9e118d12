#!/bin/sh
# The probe that decides whether the shipped 32-bit programs' suites run, and
# the lines that name the suites not run. Each row: what the probe runs, the
# exit status the probe must give and what its message must say. A row for
# each way it can answer, so that "cannot" can never come from a failure of
# another kind, and so that the machine's own answer is confirmed by running
# the same program here.
#   i386_probe_test.sh WORK_DIR
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
work=$1
rm -rf "$work"; mkdir -p "$work"
export VELMORA_PROBE_DIR="$work"
failures=0
fail() { echo "i386_probe_test: FAIL: $*" >&2; failures=$((failures + 1)); }

probe() { sh "$root/scripts/probe-i386.sh" "$@"; }
sh "$root/scripts/probe-i386.sh" --write "$work/i386" && chmod +x "$work/i386"
# The same program for a machine no kernel or emulator knows (e_machine 0x7777).
cp "$work/i386" "$work/alien"
printf '\167\167' | dd of="$work/alien" bs=1 seek=18 conv=notrunc 2>/dev/null
printf 'int main(void) { return 7; }\n' | cc -x c - -o "$work/native7"
printf 'int main(void) { return 3; }\n' | cc -x c - -o "$work/native3"
cp "$work/native7" "$work/not-executable"; chmod -x "$work/not-executable"

# The machine's own answer, confirmed by running the probe's program here.
rc=0; "$work/i386" 2>"$work/err" || rc=$?
if [ $rc -eq 7 ]; then here_rc=0; here_says=""; else here_rc=1; here_says="32-bit x86 programs"; fi
if [ $rc -ne 7 ] && ! grep -qi 'exec format error' "$work/err" && ! grep -qs 'qemu-i386' /proc/sys/fs/binfmt_misc/*; then
    fail "the i386 program failed here in another way ($rc: $(cat "$work/err")): the probe cannot be checked"
fi

# name | probe arguments | environment | status | the message holds
while IFS='|' read -r name args env want says; do
    [ -n "$name" ] || continue
    # Word splitting of the arguments and the environment is intended.
    # shellcheck disable=SC2086
    rc=0; out=$(env $env sh "$root/scripts/probe-i386.sh" $args 2>&1) || rc=$?
    [ "$rc" = "$want" ] || fail "$name: status $rc, not $want ($out)"
    case $out in *"$says"*) ;; *) fail "$name: says '$out', not '$says'" ;; esac
done <<ROWS
this machine||VELMORA_PROBE_I386=|$here_rc|$here_says
a format no kernel runs|--elf $work/alien|VELMORA_PROBE_I386=|1|Exec format error
a program that runs and exits 7|--elf $work/native7|VELMORA_PROBE_I386=|0|
a program that runs but exits 3|--elf $work/native3|VELMORA_PROBE_I386=|2|exit status 3
a file that cannot be executed|--elf $work/not-executable|VELMORA_PROBE_I386=|2|Permission denied
forced to cannot|--elf $work/native7|VELMORA_PROBE_I386=cannot|1|VELMORA_PROBE_I386=cannot
ROWS

# What the build is told: the probe's reason, the installer's note, or
# nothing when 32-bit Wine runs; never a skip when the probe itself failed.
echo "32-bit Wine: wine32:i386 could not be installed: the package lists X failed" >"$work/note"
: >"$work/fake-wine"; chmod +x "$work/fake-wine"
while IFS='|' read -r name env note want says; do
    [ -n "$name" ] || continue
    # shellcheck disable=SC2086
    rc=0; out=$(env $env sh "$root/scripts/i686-wine.sh" $note 2>&1) || rc=$?
    [ "$rc" = "$want" ] || fail "i686-wine, $name: status $rc, not $want ($out)"
    case $out in *"$says"*) ;; *) fail "i686-wine, $name: says '$out', not '$says'" ;; esac
    [ "$want" != 0 ] || [ -z "$out" ] || fail "i686-wine, $name: says '$out' where it can run"
done <<ROWS
forced to cannot|VELMORA_PROBE_I386=cannot VELMORA_WINE32=$work/fake-wine||1|VELMORA_PROBE_I386=cannot
cannot with an installer's note|VELMORA_PROBE_I386=cannot|$work/note|1|VELMORA_PROBE_I386=cannot
ROWS
if [ $here_rc -eq 0 ]; then
    while IFS='|' read -r name env note want says; do
        # shellcheck disable=SC2086
        rc=0; out=$(env $env sh "$root/scripts/i686-wine.sh" $note 2>&1) || rc=$?
        [ "$rc" = "$want" ] || fail "i686-wine, $name: status $rc, not $want ($out)"
        case $out in *"$says"*) ;; *) fail "i686-wine, $name: says '$out', not '$says'" ;; esac
    done <<ROWS
can, with 32-bit Wine|VELMORA_WINE32=$work/fake-wine||0|
can, without 32-bit Wine, the installer's note|VELMORA_WINE32=$work/none|$work/note|1|could not be installed
can, without 32-bit Wine, no note|VELMORA_WINE32=$work/none||1|not installed
ROWS
fi

# One line per suite not run, with the reason; an empty list is an error.
out=$(printf 'program_win98\nnames_default\n' | sh "$root/scripts/not-run.sh" "i686" "because")
[ "$out" = "$(printf 'not run: program_win98 (i686): because\nnot run: names_default (i686): because')" ] ||
    fail "not-run lines: $out"
printf '' | sh "$root/scripts/not-run.sh" "i686" "because" >/dev/null 2>&1 && fail "not-run passed an empty list"
echo x | sh "$root/scripts/not-run.sh" "i686" "" >/dev/null 2>&1 && fail "not-run passed without a reason"

[ $failures -eq 0 ] && echo "i386_probe_test: all rows passed"
exit $failures
