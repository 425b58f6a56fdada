#!/usr/bin/env bash
# Builds the release from a clean state and writes dist/:
#   velmora-VERSION-windows-x86.zip, velmora-VERSION-windows-x64.zip
#   velmora-VERSION-linux-x86_64.tar.gz, velmora_VERSION_amd64.deb, SHA256SUMS
# Installs what is missing (Debian, as root). Usage: bash scripts/release.sh
#
# The same commit gives the same dist/, byte for byte, wherever it is checked
# out and whoever runs it: every time stamp is the last commit's
# (SOURCE_DATE_EPOCH), every owner is root, the executables hold no link time
# or build path (see CMakeLists.txt and cmake/mingw-common.cmake), and files
# are packed in name order. The version is the CMake project's.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-missing.sh cmake ninja-build g++ python3 \
    g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 zip

# The programs a release carries, each where it has been built, with its man
# page where there is one.
programs=(velmora velmora-tree)
# The address the Debian package names as its maintainer.
maintainer="The Velmora project <velmora@example.org>"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) || {
        echo "release: not a git checkout; set SOURCE_DATE_EPOCH" >&2
        exit 1
    }
fi
export SOURCE_DATE_EPOCH
# Zip stores local time; the user's locale and umask must not show either.
export TZ=UTC LC_ALL=C
umask 022

build=build/release
rm -rf "$build" dist
mkdir -p "$build" dist

echo "== building (Linux, Windows x86, Windows x64)"
cmake -S . -B "$build/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF >/dev/null
for arch in x86 x64; do
    cmake -S . -B "$build/windows-$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DVELMORA_TESTS=OFF >/dev/null
done
for folder in linux windows-x86 windows-x64; do
    cmake --build "$build/$folder"
done
for built in "$build/linux/velmora" "$build/windows-x86/velmora.exe" "$build/windows-x64/velmora.exe"; do
    [ -f "$built" ] || { echo "release: $built was not built" >&2; exit 1; }
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/linux/CMakeCache.txt")
if [ -z "$version" ]; then
    echo "release: no project version in $build/linux/CMakeCache.txt" >&2
    exit 1
fi
echo "== velmora $version, files dated $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S') UTC"

# Dates every file and folder below $1 with the commit's time.
date_tree() {
    find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# Text for Windows: every line ends with CR LF.
crlf() {
    sed 's/\r$//; s/$/\r/' "$1" >"$2"
}

stage=$build/stage
dist=$PWD/dist

# --- Windows: one zip per architecture ------------------------------------
for arch in x86 x64; do
    top=velmora-$version-windows-$arch
    mkdir -p "$stage/$top"
    for program in "${programs[@]}"; do
        exe=$build/windows-$arch/$program.exe
        if [ -f "$exe" ]; then
            install -m 0755 "$exe" "$stage/$top/"
        fi
    done
    crlf README.md "$stage/$top/README.txt"
    crlf LICENSE "$stage/$top/LICENSE.txt"
    chmod 0644 "$stage/$top"/*.txt
    date_tree "$stage/$top"
    # -X: no Unix owner or extra time fields; -D: no folder entries.
    (cd "$stage" && find "$top" -type f | sort | zip -X -D -9 -q "$dist/$top.zip" -@)
done

# --- Linux: the tarball -----------------------------------------------------
# Debian's usual strip for packaged programs; the build ID stays.
strip_to() {
    strip --strip-unneeded --remove-section=.comment -o "$2" "$1"
    chmod 0755 "$2"
}

top=velmora-$version-linux-x86_64
mkdir -p "$stage/$top"
for program in "${programs[@]}"; do
    [ -f "$build/linux/$program" ] || continue
    strip_to "$build/linux/$program" "$stage/$top/$program"
    if [ -f "man/$program.1" ]; then
        install -m 0644 "man/$program.1" "$stage/$top/"
    fi
done
install -m 0644 README.md LICENSE "$stage/$top/"
date_tree "$stage/$top"
tar -C "$stage" --sort=name --format=gnu --owner=root:0 --group=root:0 \
    --mtime="@$SOURCE_DATE_EPOCH" -cf - "$top" | gzip -9n >"dist/$top.tar.gz"

# --- Linux: the Debian package ---------------------------------------------
deb=$stage/deb
doc=$deb/usr/share/doc/velmora
install -d -m 0755 "$deb/DEBIAN" "$deb/usr/bin" "$deb/usr/share/man/man1" "$doc"
for program in "${programs[@]}"; do
    [ -f "$build/linux/$program" ] || continue
    strip_to "$build/linux/$program" "$deb/usr/bin/$program"
    if [ -f "man/$program.1" ]; then
        gzip -9n <"man/$program.1" >"$deb/usr/share/man/man1/$program.1.gz"
    fi
done
{
    echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
    echo "Upstream-Name: velmora"
    echo
    echo "Files: *"
    sed -n 's/^Copyright (c) /Copyright: /p' LICENSE
    echo "License: Expat"
    # The licence text as a field continuation: indented, blank lines as " .".
    sed -n '/^Permission/,$p' LICENSE | sed 's/^$/./; s/^/ /'
} >"$doc/copyright"
# A native package carries its own changelog.
{
    echo "velmora ($version) unstable; urgency=medium"
    echo
    echo "  * Release $version."
    echo
    echo " -- $maintainer  $(date -u -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$doc/changelog.gz"
# The one lintian finding, kept: the programs are static on purpose (see the
# override's own comment, which lintian shows beside it).
install -d -m 0755 "$deb/usr/share/lintian/overrides"
{
    echo "# Static on purpose: the program is copied onto rescue systems as one"
    echo "# file and loads no shared library at start."
    for program in "$deb"/usr/bin/*; do
        echo "velmora: statically-linked-binary [usr/bin/${program##*/}]"
    done
} >"$deb/usr/share/lintian/overrides/velmora"
find "$deb/usr" -type f -exec chmod 0644 {} +
chmod 0755 "$deb/usr/bin"/*

# Installed-Size as dpkg-gencontrol counts it: KiB per file, rounded up, and
# one per folder; from file sizes, not blocks, so that every file system
# gives the same number.
installed_size=$(find "$deb/usr" -printf '%y %s\n' |
    awk '$1 == "f" { kib += int(($2 + 1023) / 1024) } $1 == "d" { kib += 1 } END { print kib }')
cat >"$deb/DEBIAN/control" <<EOF
Package: velmora
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $installed_size
Recommends: ntfs-3g
Section: utils
Priority: optional
Description: show and set the 8.3 short name of a file or folder
 Velmora shows, and on request sets, the 8.3 short name (SFN, the DOS name)
 of one existing file or folder on an NTFS volume mounted with ntfs-3g. Its
 output, prompt and exit codes are those of the Windows program of the same
 name, so that scripts can rely on them.
 .
 The programs are linked statically: each can be copied onto a rescue system
 as one file.
EOF
(cd "$deb" && find usr -type f | sort | xargs md5sum) >"$deb/DEBIAN/md5sums"
chmod 0644 "$deb/DEBIAN/control" "$deb/DEBIAN/md5sums"
date_tree "$deb"
# xz writes other bytes when it runs threaded: one thread, on every machine.
dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$deb" \
    "dist/velmora_${version}_amd64.deb" >/dev/null

(cd dist && sha256sum -- *.zip *.tar.gz *.deb >SHA256SUMS)
echo "== dist/"
(cd dist && ls -l --time-style=+ -- * | awk '{ print "  " $5 "\t" $NF }')
cat dist/SHA256SUMS
