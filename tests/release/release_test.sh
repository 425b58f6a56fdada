#!/usr/bin/env bash
# The release as its users get it. Two fresh clones of the repository at HEAD,
# in folders of different names, each run scripts/release.sh; their dist/
# must be the same byte for byte (diffoscope explains a difference). Then the
# packages of one are opened and checked: what each holds, owners, line ends,
# the Windows executables' static checks, lintian, and the Debian package
# installed into a root folder of its own, run, and removed.
#
# usage: release_test.sh SOURCE_DIR VERSION HOST_VELMORA
#   SOURCE_DIR    the repository (its HEAD is what gets released)
#   VERSION       the CMake project version the package names must carry
#   HOST_VELMORA  a Linux velmora built from the same sources, whose output
#                 the packaged one must match
# Exit codes: 0 passed, 1 failed, 77 skipped (no git repository outside CI).
set -uo pipefail
export PATH=$PATH:/usr/sbin:/sbin
# One sort order for every list compared below.
export LC_ALL=C

source_dir=$1
version=$2
host_velmora=$3
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3

failures=0
check() {
    local label=$1 expected=$2 actual=$3
    if [ "$expected" == "$actual" ]; then
        echo "ok    $label"
    else
        failures=$((failures + 1))
        echo "FAIL  $label"
        echo "      expected: $(printf '%q' "$expected")"
        echo "      actual:   $(printf '%q' "$actual")"
    fi
}
finish() {
    if [ "$failures" -gt 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    exit 0
}

if ! git -C "$source_dir" rev-parse --verify -q HEAD >/dev/null; then
    echo "missing: $source_dir is not a git repository with a commit"
    [ "${CI:-}" = true ] && { echo "FAIL  and CI=true"; exit 1; }
    exit 77
fi

work=$(mktemp -d /tmp/velmora-release-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
first=$work/velmora-clone-one
second=$work/another-clone-in-a-longer-name
echo "      releasing $(git -C "$source_dir" log -1 --format='%h %s') twice"
for clone in "$first" "$second"; do
    git clone -q --no-local "$source_dir" "$clone" || { echo "FAIL  git clone"; exit 1; }
    if ! (cd "$clone" && bash scripts/release.sh) >"$clone.log" 2>&1; then
        cat "$clone.log"
        echo "FAIL  scripts/release.sh in $clone"
        exit 1
    fi
done

# --- the same bytes from both ----------------------------------------------
listing() { (cd "$1/dist" && find . -type f | sort | xargs sha256sum); }
check 'both releases are the same, byte for byte' "$(listing "$first")" "$(listing "$second")"
if [ "$(listing "$first")" != "$(listing "$second")" ]; then
    # diffoscope says where two files differ. It is fetched only now, and
    # without the hundreds of packages it recommends for other formats.
    if ! command -v diffoscope >/dev/null && [ "$(id -u)" -eq 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
            diffoscope-minimal >/dev/null 2>&1 || true
    fi
    for file in "$first"/dist/*; do
        name=${file##*/}
        cmp -s "$file" "$second/dist/$name" && continue
        if command -v diffoscope >/dev/null; then
            diffoscope --text - "$file" "$second/dist/$name" | head -n 200
        else
            echo "      $name differs (install diffoscope to see where)"
        fi
    done
fi

dist=$first/dist
check 'dist/ holds the packages and SHA256SUMS' \
    "$(printf '%s\n' SHA256SUMS "velmora-$version-linux-x86_64.tar.gz" \
        "velmora-$version-windows-x64.zip" "velmora-$version-windows-x86.zip" \
        "velmora_${version}_amd64.deb")" \
    "$(cd "$dist" && ls | LC_ALL=C sort)"
check 'SHA256SUMS covers every package and matches' \
    "$(cd "$dist" && ls | grep -v '^SHA256SUMS$' | LC_ALL=C sort | sed 's/$/: OK/')" \
    "$(cd "$dist" && sha256sum -c SHA256SUMS | LC_ALL=C sort)"

# What a user unpacks; nothing in it may name the folder it was built in.
unpacked=$work/unpacked
mkdir -p "$unpacked"

# --- Windows zips -----------------------------------------------------------
crlf_of() { sed 's/\r$//; s/$/\r/' "$1"; }
for arch in x86 x64; do
    top=velmora-$version-windows-$arch
    zip=$dist/$top.zip
    entries=$(unzip -Z1 "$zip" | LC_ALL=C sort)
    check "$arch zip: everything in the folder $top/" "" \
        "$(grep -v "^$top/[^/]*$" <<<"$entries")"
    names=$(sed "s|^$top/||" <<<"$entries")
    # velmora.exe, LICENSE.txt and README.txt, and the project's other
    # programs beside them.
    check "$arch zip: LICENSE.txt, README.txt, velmora.exe (and other programs)" \
        "$( (printf '%s\n' LICENSE.txt README.txt velmora.exe
             grep -x 'velmora-.*\.exe' <<<"$names") | LC_ALL=C sort)" \
        "$names"
    unzip -q "$zip" -d "$unpacked/$arch"
    for text in README.md:README.txt LICENSE:LICENSE.txt; do
        check "$arch zip: ${text#*:} is ${text%%:*} with CR LF line ends" \
            "$(crlf_of "$first/${text%%:*}" | sha256sum)" \
            "$(sha256sum <"$unpacked/$arch/$top/${text#*:}")"
    done
    "$python" "$source_dir/tests/windows/check_pe.py" --arch "$arch" \
        --imports "$source_dir/tests/windows/xp_imports.txt" \
        --objdump "$([ $arch = x86 ] && echo i686 || echo x86_64)-w64-mingw32-objdump" \
        "$unpacked/$arch/$top/velmora.exe" >"$work/check_pe.log"
    code=$?
    check "$arch zip: velmora.exe passes the static checks" 0 "$code"
    [ "$code" -eq 0 ] || cat "$work/check_pe.log"
done
check 'both zips carry the same programs' \
    "$(cd "$unpacked/x86"/* && ls ./*.exe)" "$(cd "$unpacked/x64"/* && ls ./*.exe)"

# --- Linux tarball ----------------------------------------------------------
top=velmora-$version-linux-x86_64
tarball=$dist/$top.tar.gz
check 'tarball: every entry owned by root' "" \
    "$(tar -tvzf "$tarball" | awk '$2 != "root/root"')"
tar -xzf "$tarball" -C "$unpacked"
entries=$(tar -tzf "$tarball")
check "tarball: everything in the folder $top/" "" "$(grep -v "^$top/" <<<"$entries")"
names=$(sed -n "s|^$top/\([^/][^/]*\)$|\1|p" <<<"$entries" | LC_ALL=C sort)
check 'tarball: velmora, velmora.1, README.md, LICENSE (and other programs)' \
    "$( (printf '%s\n' LICENSE README.md velmora velmora.1
         grep '^velmora-' <<<"$names") | LC_ALL=C sort)" \
    "$names"
for program in "$unpacked/$top"/*; do
    [ -x "$program" ] || continue
    check "tarball: ${program##*/} is static (no program interpreter)" "" \
        "$(readelf -l "$program" | grep -i 'interpreter')"
done
expected_out=$("$host_velmora" '/?'; echo "exit $?")
check 'tarball: velmora /? prints the syntax screen, exit 1' "$expected_out" \
    "$("$unpacked/$top/velmora" '/?'; echo "exit $?")"

# --- Debian package ---------------------------------------------------------
deb=$dist/velmora_${version}_amd64.deb
check 'deb: name, version, architecture' "velmora $version amd64" \
    "$(dpkg-deb -f "$deb" Package Version Architecture | cut -d' ' -f2 | paste -sd' ')"
check 'deb: every entry owned by root' "" "$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')"
mkdir -p "$unpacked/deb"
dpkg-deb -x "$deb" "$unpacked/deb"
for page in "$unpacked/deb/usr/share/man/man1"/*.gz; do
    name=${page##*/}
    check "deb: $name is man/${name%.gz} gzipped" "$(sha256sum <"$first/man/${name%.gz}")" \
        "$(gzip -dc "$page" | sha256sum)"
    # Bytes 4-7 of a gzip header are the time stamp; flag 8 a file name.
    check "deb: $name has no time or file name in its gzip header" "00 00000000" \
        "$(od -An -tx1 -j3 -N5 "$page" | tr -d ' \n' | sed 's/^\(..\)/\1 /')"
done
check 'deb: /usr/share/doc/velmora/copyright names the licence' "Copyright: 2026 the Velmora project" \
    "$(grep '^Copyright:' "$unpacked/deb/usr/share/doc/velmora/copyright")"
check 'deb: a program in /usr/bin for each man page' \
    "$(cd "$unpacked/deb/usr/share/man/man1" && ls | sed 's/\.1\.gz$//' | sort)" \
    "$(cd "$unpacked/deb/usr/bin" && ls)"
check 'deb and tarball carry the same programs' \
    "$(cd "$unpacked/deb/usr/bin" && ls)" \
    "$(cd "$unpacked/$top" && find . -maxdepth 1 -type f -perm -u+x | sed 's|^\./||' | sort)"

lintian_out=$(lintian --fail-on error,warning "$deb" 2>&1)
code=$?
echo "$lintian_out" | sed 's/^/      lintian: /'
check 'deb: lintian finds no error or warning' 0 "$code"

# dpkg -i, run, dpkg -r in a root of its own, so that the machine's own
# packages are never touched.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: >"$root/var/lib/dpkg/status"
dpkg_root() { dpkg --root="$root" --force-not-root --log=/dev/null "$@"; }
dpkg_root -i "$deb" >"$work/dpkg.log" 2>&1
check 'deb: dpkg -i installs it' "ii velmora $version" \
    "$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${db:Status-Abbrev}${Package} ${Version}' velmora | tr -s ' ')"
check 'deb: the installed velmora /? prints the syntax screen, exit 1' "$expected_out" \
    "$("$root/usr/bin/velmora" '/?'; echo "exit $?")"
installed=$(dpkg-query --admindir="$root/var/lib/dpkg" -L velmora)
dpkg_root -r velmora >>"$work/dpkg.log" 2>&1
check 'deb: dpkg -r removes every file it installed' "" \
    "$(while read -r path; do [ -f "$root$path" ] && echo "$path"; done <<<"$installed")"
check 'deb: nothing is left under /usr' "" "$(find "$root/usr" -mindepth 1 2>/dev/null)"

# --- no build folder anywhere -----------------------------------------------
check 'no file names the folder it was built in' "" \
    "$(grep -rl -a -e "$work" -e "${first##*/}" "$unpacked" || true)"

finish
