#!/bin/sh
# Runs one command with DISPLAY set to a private virtual X server:
#   with-xvfb.sh COMMAND [ARGS...]
# Xvfb picks a free display itself (-displayfd), so parallel runs never
# share or collide; the server is stopped whatever the command's outcome,
# and the command's exit status is passed through.
set -eu

fifo=$(mktemp -u "${TMPDIR:-/tmp}/velmora-xvfb.XXXXXX")
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
server=$!
read -r display <"$fifo" || display=""
rm -f "$fifo"
if [ -z "$display" ]; then
    echo "with-xvfb: Xvfb did not start" >&2
    kill "$server" 2>/dev/null || true
    exit 1
fi
trap 'kill "$server" 2>/dev/null || true' EXIT INT TERM
DISPLAY=":$display"
export DISPLAY
rc=0
"$@" || rc=$?
exit "$rc"
