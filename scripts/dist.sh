#!/bin/sh
# The release files, built so that any two runs on the same commit give the
# same bytes, wherever the clone lies and whenever it runs:
#   dist.sh OUT BUILD
# writes into OUT
#   velmora-VERSION-win32.zip           velmora.exe, velmora-scan.exe (32-bit),
#                                       LEEME.txt, SHA256SUMS
#   velmora-scan-VERSION-linux-x86_64   the scanner, statically linked
#   velmora-scan_VERSION_amd64.deb      that scanner, its man page and docs
#   SHA256SUMS                          over the three
# and builds in BUILD/dist-win32, BUILD/dist-linux and BUILD/dist-deb.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1" "$2"
out=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)

# One version, the project's, and one time, the last commit's.
version=$(sed -n 's/^project(velmora VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "dist: no project version in CMakeLists.txt" >&2; exit 1; }
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

# Neither the clone's folder nor the build folder may show in a binary.
prefix_map="-ffile-prefix-map=$root=. -ffile-prefix-map=$build=build"
configure() {  # folder [cmake options...]
    folder=$1
    shift
    rm -rf "$folder"
    cmake -S "$root" -B "$folder" -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF -DVELMORA_PROGRAM_TESTS=OFF \
        -DVELMORA_WERROR=ON "$@" >/dev/null
}

echo "dist: the 32-bit Windows programs"
configure "$build/dist-win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
    -DCMAKE_CXX_FLAGS="$prefix_map" -DCMAKE_EXE_LINKER_FLAGS="-Wl,--no-insert-timestamp"
cmake --build "$build/dist-win32" -j "${JOBS:-2}" --target velmora velmora-scan >/dev/null

echo "dist: the static Linux scanner"
configure "$build/dist-linux" -DCMAKE_CXX_FLAGS="$prefix_map" -DCMAKE_EXE_LINKER_FLAGS="-static -s"
cmake --build "$build/dist-linux" -j "${JOBS:-2}" --target velmora-scan >/dev/null

zip_name=velmora-$version-win32.zip
linux_name=velmora-scan-$version-linux-x86_64
deb_name=velmora-scan_${version}_amd64.deb
rm -f "$out/$zip_name" "$out/$linux_name" "$out/$deb_name" "$out/SHA256SUMS"

# --- the Windows archive ------------------------------------------------------
stage=$build/dist-win32/stage
rm -rf "$stage"
mkdir -p "$stage"
cp "$build/dist-win32/app/velmora.exe" "$build/dist-win32/cli/velmora-scan.exe" "$stage/"
# Notepad on Windows 98 wants CR LF.
sed 's/$/\r/' "$root/docs/LEEME.txt" >"$stage/LEEME.txt"
(cd "$stage" && sha256sum LEEME.txt velmora-scan.exe velmora.exe >SHA256SUMS)
# Entries in a fixed order, with the commit's time and fixed attributes.
python3 - "$stage" "$out/$zip_name" <<'PY'
import os, sys, time, zipfile
stage, target = sys.argv[1], sys.argv[2]
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
with zipfile.ZipFile(target, "w") as archive:
    for name in ["LEEME.txt", "SHA256SUMS", "velmora-scan.exe", "velmora.exe"]:
        entry = zipfile.ZipInfo(name, date_time=stamp)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 0
        entry.external_attr = 0x20  # the archive attribute, as Windows writes it
        with open(os.path.join(stage, name), "rb") as f:
            archive.writestr(entry, f.read(), compresslevel=9)
PY

# --- the Linux scanner and its package -------------------------------------------
cp "$build/dist-linux/cli/velmora-scan" "$out/$linux_name"
chmod 755 "$out/$linux_name"

deb=$build/dist-deb
rm -rf "$deb"
mkdir -p "$deb/root/DEBIAN" "$deb/root/usr/bin" "$deb/root/usr/share/man/man1" "$deb/root/usr/share/doc/velmora-scan" \
    "$deb/root/usr/share/lintian/overrides"
install -m 755 "$out/$linux_name" "$deb/root/usr/bin/velmora-scan"
sed "s/@VERSION@/$version/" "$root/docs/velmora-scan.1" | gzip -9n >"$deb/root/usr/share/man/man1/velmora-scan.1.gz"
install -m 644 "$root/packaging/copyright" "$deb/root/usr/share/doc/velmora-scan/copyright"
install -m 644 "$root/packaging/lintian-overrides" "$deb/root/usr/share/lintian/overrides/velmora-scan"
sed "s/@VERSION@/$version/; s/@DATE@/$(date -u -d "@$SOURCE_DATE_EPOCH" -R)/" "$root/packaging/changelog" |
    gzip -9n >"$deb/root/usr/share/doc/velmora-scan/changelog.gz"
chmod 644 "$deb/root/usr/share/man/man1/velmora-scan.1.gz" "$deb/root/usr/share/doc/velmora-scan/changelog.gz"
size=$(du -sk --exclude=DEBIAN "$deb/root" | cut -f 1)
sed "s/@VERSION@/$version/; s/@SIZE@/$size/" "$root/packaging/control" >"$deb/root/DEBIAN/control"
(cd "$deb/root" && find usr -type f | sort | xargs md5sum >DEBIAN/md5sums)
chmod 644 "$deb/root/DEBIAN/control" "$deb/root/DEBIAN/md5sums"
find "$deb/root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
dpkg-deb --root-owner-group -Zxz --build "$deb/root" "$out/$deb_name" >/dev/null

(cd "$out" && sha256sum "$zip_name" "$linux_name" "$deb_name" >SHA256SUMS)
echo "dist: written to $out"
cat "$out/SHA256SUMS"
