# Sourced by the Windows programs' script tests, which all take
#   BUILD_DIR WORK_DIR [WINDOWS]
# Sets build, work, windows (default: Wine's own), here (the repository),
# WINE and WINESERVER for the build's architecture, and wine_run_options
# for cmake/wine-run.sh.
mkdir -p "$2"
build=$(cd "$1" && pwd)
work=$(cd "$2" && pwd)
windows=${3:-default}
here=$(cd "$(dirname "$0")/../.." && pwd)
wine_run_options=""
if [ "$(cat "$build/wine-arch")" = win32 ]; then
    WINE=${VELMORA_WINE:-/usr/lib/wine/wine}
    wine_run_options=--win32
else
    WINE=${VELMORA_WINE:-/usr/lib/wine/wine64}
fi
[ "$windows" = default ] || wine_run_options="$wine_run_options --windows $windows"
WINESERVER=${VELMORA_WINESERVER:-/usr/lib/wine/wineserver}
