#!/usr/bin/env bash
# velmora's main job, start to end, on a small NTFS image made here: builds
# the Linux executable (preset host), mounts the image with ntfs-3g, creates
# a file with a long name, shows its short name, sets a new one, shows it
# again; then saves the short names of a small folder tree with velmora-tree
# and puts them back on a copy whose names came out swapped; then unmounts
# and removes the image. Installs what is missing (Debian, as root).
# Usage: bash scripts/demo.sh
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
tree=$PWD/build/host/velmora-tree

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

echo "== velmora-tree: a folder tree and a copy of it whose short names came out swapped"
for side in original copy; do
    mkdir -p "$mnt/$side/Program Files/Microsoft Office" "$mnt/$side/Program Files/Microsoft Office 2"
done
setfattr -n system.ntfs_dos_name -v PROGRA~1 "$mnt/original/Program Files"
setfattr -n system.ntfs_dos_name -v MICROS~1 "$mnt/original/Program Files/Microsoft Office"
setfattr -n system.ntfs_dos_name -v MICROS~2 "$mnt/original/Program Files/Microsoft Office 2"
setfattr -n system.ntfs_dos_name -v MICROS~2 "$mnt/copy/Program Files/Microsoft Office"
setfattr -n system.ntfs_dos_name -v MICROS~1 "$mnt/copy/Program Files/Microsoft Office 2"
listing=$work/names.txt
tree_status=0
run_tree() {
    printf '
$ velmora-tree %s
' "$*"
    local code=0
    "$tree" "$@" || code=$?
    echo "(exit code $code)"
    return $code
}
run_tree save "$mnt/original" "$listing" || tree_status=1
printf '
$ cat %s
' "$listing"
cat "$listing"
run_tree verify "$mnt/copy" "$listing" || true
run_tree restore --dry-run "$mnt/copy" "$listing" || true
run_tree restore "$mnt/copy" "$listing" || tree_status=1
run_tree verify "$mnt/copy" "$listing" || tree_status=1

echo
echo "== unmounting and removing the image"
cleanup
trap - EXIT INT TERM
[ "$status" -eq 0 ] || { echo "demo: setting the short name failed ($status)" >&2; exit 1; }
[ "$tree_status" -eq 0 ] || { echo "demo: velmora-tree did not put the names back" >&2; exit 1; }
echo "done"
