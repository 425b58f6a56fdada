#!/usr/bin/env bash
# velmora's main job, start to end, on a small NTFS image made here: builds
# the Linux executable (preset host), mounts the image with ntfs-3g, creates
# a file with a long name, shows its short name, sets a new one, shows it
# again, then unmounts and removes the image. Installs what is missing
# (Debian, as root). Usage: bash scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
    echo "demo: run as root (ntfs-3g mounts through FUSE, and packages may be installed)" >&2
    exit 1
fi

# What the build and the demo run need, as Debian packages; the package
# names double as what to look for (dpkg knows what is installed).
bash scripts/install-missing.sh cmake ninja-build g++ googletest python3 ntfs-3g attr
export PATH=$PATH:/usr/sbin:/sbin
if [ ! -e /dev/fuse ]; then
    echo "demo: /dev/fuse is missing; a container needs --device /dev/fuse (and CAP_SYS_ADMIN)" >&2
    exit 1
fi

echo "== building (preset host)"
cmake --preset host >/dev/null
cmake --build --preset host
velmora=$PWD/build/host/velmora

work=$(mktemp -d /tmp/velmora-demo.XXXXXX)
mnt=$work/mnt
cleanup() {
    cd /
    if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt" || umount -l "$mnt"; fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

echo "== making an 8 MiB NTFS image and mounting it at $mnt"
truncate -s 8M "$work/demo.img"
mkntfs -q -F -f -L demo "$work/demo.img" >/dev/null 2>&1
mkdir "$mnt"
ntfs-3g "$work/demo.img" "$mnt"

file="$mnt/Quarterly report for the board.docx"
echo "figures" >"$file"
# Files created from Linux get no short name; give this one the name Windows
# would have made, so that there is one to show.
setfattr -n system.ntfs_dos_name -v QUARTE~1.DOC "$file"

show() {
    printf '\n$ velmora "/F:%s"' "$file"
    local status=0
    "$velmora" "/F:$file" || status=$?
    echo "(exit code $status)"
}
show
printf '\n$ velmora "/F:%s" /SFN:REPORT.DOC /Y' "$file"
status=0
"$velmora" "/F:$file" /SFN:REPORT.DOC /Y || status=$?
echo "(exit code $status)"
show
printf '\n$ getfattr -n system.ntfs_dos_name --only-values "%s"\n' "$file"
getfattr -n system.ntfs_dos_name --only-values "$file" 2>/dev/null
echo

echo
echo "== unmounting and removing the image"
cleanup
trap - EXIT INT TERM
[ "$status" -eq 0 ] || { echo "demo: setting the short name failed ($status)" >&2; exit 1; }
echo "done"
