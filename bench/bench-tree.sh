#!/usr/bin/env bash
# velmora-tree restore against the other ways of putting a folder's short
# names back, on an ntfs-3g mount, for folders of several sizes:
#   velmora-tree   one restore of the whole folder (one read of the folder,
#                  every rule checked, names rotated so each one is taken)
#   setfattr       setfattr --restore of the same names (no checks at all;
#                  it cannot untangle the rotation, so it gets free names)
#   velmora        one run per item (each run reads the whole folder), timed
#                  on a sample of SAMPLE items and scaled to the folder
# Prints seconds and microseconds per item. Run as root.
#   bash bench/bench-tree.sh [sizes...]      (default 1000 5000)
# Environment: SAMPLE (default 50), VELMORA_TREE, VELMORA (executables).
set -euo pipefail
cd "$(dirname "$0")/.."

tree=$(readlink -f "${VELMORA_TREE:-build/host/velmora-tree}")
velmora=$(readlink -f "${VELMORA:-build/host/velmora}")
sample=${SAMPLE:-50}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 5000)
for tool in mkntfs ntfs-3g setfattr python3; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
for program in "$tree" "$velmora"; do
    [ -x "$program" ] || { echo "bench: no executable at $program (build the host preset)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/velmora-bench-tree.XXXXXX)
mnt=$work/mnt
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt"; fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

seconds() { python3 -c 'import time; print(time.monotonic())'; }
elapsed() { python3 -c "print('%.3f' % ($2 - $1))"; }

printf '%-8s %-14s %10s %14s\n' items tool seconds "us per item"
for size in "${sizes[@]}"; do
    rm -f "$work/volume.img"
    truncate -s $((16 + size / 50))M "$work/volume.img"
    mkntfs -q -F -f -L bench "$work/volume.img" >/dev/null 2>&1
    mkdir -p "$mnt"
    ntfs-3g "$work/volume.img" "$mnt"
    folder=$mnt/folder
    # Items named as a program folder's are, each short name one place off
    # the recorded one: a single rotation through the whole folder.
    python3 - "$folder" "$size" "$work" <<'EOF'
import os, sys
folder, size, work = sys.argv[1], int(sys.argv[2]), sys.argv[3]
os.mkdir(folder)
with open(os.path.join(work, "listing"), "w") as listing, \
     open(os.path.join(work, "dump"), "w") as dump:
    listing.write("velmora-tree listing 1\n")
    for i in range(size):
        path = os.path.join(folder, "Document number %06d.txt" % i)
        os.close(os.open(path, os.O_CREAT | os.O_WRONLY))
        os.setxattr(path, "system.ntfs_dos_name", b"D%06d.TXT" % ((i + 1) % size))
        listing.write("D%06d.TXT\tDocument number %06d.txt\n" % (i, i))
        # setfattr --restore cannot rotate; it gets names nobody holds.
        dump.write("# file: %s\nsystem.ntfs_dos_name=\"E%06d.TXT\"\n\n" % (path, i))
EOF

    start=$(seconds)
    "$tree" restore "$folder" "$work/listing" >/dev/null
    end=$(seconds)
    t=$(elapsed "$start" "$end")
    printf '%-8s %-14s %10s %14s\n' "$size" velmora-tree "$t" "$(python3 -c "print('%.0f' % ($t * 1e6 / $size))")"
    "$tree" verify "$folder" "$work/listing" >/dev/null || { echo "bench: restore did not restore" >&2; exit 1; }

    start=$(seconds)
    setfattr --restore="$work/dump"
    end=$(seconds)
    t=$(elapsed "$start" "$end")
    printf '%-8s %-14s %10s %14s\n' "$size" "setfattr" "$t" "$(python3 -c "print('%.0f' % ($t * 1e6 / $size))")"

    count=$(( sample < size ? sample : size ))
    start=$(seconds)
    for i in $(seq 0 $((count - 1))); do
        "$velmora" "/F:$folder/$(printf 'Document number %06d.txt' "$i")" "/SFN:$(printf 'F%06d.TXT' "$i")" /Y >/dev/null
    done
    end=$(seconds)
    t=$(python3 -c "print('%.3f' % (($end - $start) * $size / $count))")
    printf '%-8s %-14s %10s %14s\n' "$size" "velmora x$size" "$t" "$(python3 -c "print('%.0f' % ($t * 1e6 / $size))")"
    umount "$mnt"
done
