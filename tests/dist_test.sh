#!/bin/sh
# The release files, checked as a person who downloads them would, and
# checked to be reproducible:
#   dist_test.sh WORKDIR
# Two clones of the repository's last commit, in folders of different
# names and depths, each run `make dist`'s script at its own time; every file
# must come out byte for byte the same. Then: lintian finds no error in the
# package, which unpacks and runs; the Linux scanner is static and
# disinfects a synthesized tree; the archive's sums hold, its programs
# import only what Windows 98 and NT 4.0 export, and its scanner runs under
# 32-bit Wine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
work=$(cd "$1" && pwd)
status=0
fail() {
    echo "dist_test: FAIL: $*" >&2
    status=1
}

version=$(sed -n 's/^project(velmora VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
zip_name=velmora-$version-win32.zip
linux_name=velmora-scan-$version-linux-x86_64
deb_name=velmora-scan_${version}_amd64.deb

rm -rf "$work/one" "$work/second-clone"
for clone in "$work/one/velmora" "$work/second-clone/deeper/v"; do
    git clone -q "$root" "$clone"
    sh "$clone/scripts/dist.sh" "$clone/dist" "$clone/build" >"$work/dist.log" 2>&1 ||
        { cat "$work/dist.log" >&2; echo "dist_test: make dist failed in $clone" >&2; exit 1; }
done
first=$work/one/velmora/dist
second=$work/second-clone/deeper/v/dist
for name in "$zip_name" "$linux_name" "$deb_name" SHA256SUMS; do
    [ -f "$first/$name" ] || fail "$name was not written"
    cmp -s "$first/$name" "$second/$name" || fail "$name differs between two builds"
done
(cd "$first" && sha256sum -c --quiet SHA256SUMS) || fail "dist/SHA256SUMS does not hold"

# --- the package ---------------------------------------------------------------
if lintian --fail-on error "$first/$deb_name" >"$work/lintian.txt" 2>&1; then :; else
    fail "lintian: $(grep '^E:' "$work/lintian.txt" | head -n 3)"
fi
rm -rf "$work/unpacked"
dpkg -x "$first/$deb_name" "$work/unpacked"
[ "$("$work/unpacked/usr/bin/velmora-scan" --version)" = "velmora-scan $version" ] || fail "the package's scanner gives no version"
zcat "$work/unpacked/usr/share/man/man1/velmora-scan.1.gz" | grep -q "^\.TH VELMORA-SCAN 1 .*velmora-scan $version" ||
    fail "the man page is missing or carries another version"
[ -f "$work/unpacked/usr/share/doc/velmora-scan/copyright" ] || fail "no copyright file"

# --- the static scanner ------------------------------------------------------------
scanner=$first/$linux_name
ldd "$scanner" 2>&1 | grep -q "not a dynamic executable" || fail "the Linux scanner is linked dynamically"
cmake -S "$root" -B "$work/synth" -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF -DVELMORA_PROGRAM_TESTS=ON >/dev/null
cmake --build "$work/synth" -j "${JOBS:-2}" --target velmora-synth >/dev/null
rm -rf "$work/tree" "$work/expected"
"$work/synth/tests/support/velmora-synth" "$work/tree" 5 --expect "$work/expected" >/dev/null
rc=0
env -i "$scanner" --quiet "$work/tree" >"$work/rows" 2>&1 || rc=$?
[ $rc -eq 1 ] || fail "the static scanner: exit status $rc"
diff -r "$work/tree" "$work/expected" >/dev/null || fail "the static scanner did not disinfect the tree as expected"

# --- the Windows archive ----------------------------------------------------------
rm -rf "$work/zip"
mkdir -p "$work/zip"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$first/$zip_name" "$work/zip"
(cd "$work/zip" && sha256sum -c --quiet SHA256SUMS) || fail "the archive's SHA256SUMS does not hold"
[ "$(ls "$work/zip" | tr '\n' ' ')" = "LEEME.txt SHA256SUMS velmora-scan.exe velmora.exe " ] || fail "the archive holds $(ls "$work/zip")"
grep -q "$(printf 'REINICIE.*\r$')" "$work/zip/LEEME.txt" || fail "LEEME.txt lacks the restart advice or its CR LF lines"
sh "$root/tests/check_imports.sh" "$root/tests/win98_nt4_imports.txt" "$work/zip/velmora-scan.exe" "$work/zip/velmora.exe" ||
    fail "the archive's programs import what Windows 98 or NT 4.0 lack"
rc=0
reason=$(sh "$root/scripts/i686-wine.sh" "${VELMORA_DEPS_NOTE:-}") || rc=$?
if [ $rc -eq 0 ]; then
    out=$(sh "$root/cmake/wine-run.sh" --win32 "$work/prefix" "$work/zip/velmora-scan.exe" --version | tr -d '\r')
    [ "$out" = "velmora-scan $version" ] || fail "the archive's velmora-scan.exe under 32-bit Wine: $out"
    WINEPREFIX="$work/prefix" "${VELMORA_WINESERVER:-/usr/lib/wine/wineserver}" -k 2>/dev/null || true
elif [ $rc -eq 1 ]; then
    echo "dist_test_zip_scanner" | sh "$root/scripts/not-run.sh" "the archive's velmora-scan.exe under 32-bit Wine" "$reason" |
        tee -a "${VELMORA_NOT_RUN_LOG:-/dev/null}"
else
    fail "the 32-bit probe failed"
fi

[ $status -eq 0 ] && echo "dist_test: all checks passed"
exit $status
