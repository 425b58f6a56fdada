#!/usr/bin/env bash
# velmora against the attr tools on an ntfs-3g mount, with hyperfine:
#   query  velmora /F:file                    vs  getfattr -n system.ntfs_dos_name file
#   change velmora /F:file /SFN:name /Y       vs  setfattr -n system.ntfs_dos_name -v name file
#   floor  processes that do nothing: a static one (the least a process
#          costs) and /bin/true (dynamically linked, like the attr tools)
# Prints median times, the ratios to the attr tools and the peak memory of one
# run of each. Run as root (ntfs-3g mounts through FUSE).
#   bash bench/bench.sh [path/to/velmora]     (default build/host/velmora)
# Environment: RUNS (default 300), WARMUP (default 30), SIBLINGS (items in the
# folder besides the target, default 30). A change reads the short name of
# every other item of the folder (ntfs-3g offers no other way to see them),
# one round trip to ntfs-3g each, so its time grows with SIBLINGS.
set -euo pipefail
cd "$(dirname "$0")/.."

velmora=$(readlink -f "${1:-build/host/velmora}")
runs=${RUNS:-300}
warmup=${WARMUP:-30}
siblings=${SIBLINGS:-30}
for tool in hyperfine mkntfs ntfs-3g getfattr setfattr python3 /usr/bin/time cc; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
[ -x "$velmora" ] || { echo "bench: no executable at $velmora (build the host preset)" >&2; exit 1; }

work=$(mktemp -d /tmp/velmora-bench.XXXXXX)
mnt=$work/mnt
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt"; fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The floor: a statically linked process that does nothing.
printf 'int main(void) { return 0; }\n' >"$work/noop.c"
cc -O2 -static -o "$work/noop" "$work/noop.c"
noop=$work/noop

truncate -s 16M "$work/volume.img"
mkntfs -q -F -f -L bench "$work/volume.img" >/dev/null 2>&1
mkdir "$mnt"
ntfs-3g "$work/volume.img" "$mnt"

# A folder of the size a program folder has, each item with a short name.
folder="$mnt/Program Files"
mkdir "$folder"
for i in $(seq 1 "$siblings"); do
    : >"$folder/Neighbour document $i.txt"
    setfattr -n system.ntfs_dos_name -v "NEIGHB~$i.TXT" "$folder/Neighbour document $i.txt"
done
target="$folder/A long file name.txt"
echo data >"$target"
setfattr -n system.ntfs_dos_name -v ALONGF~1.TXT "$target"

# --shell=none: no shell start-up in any figure; hyperfine still splits each
# command line like a shell, so the quotes keep the blanks of the path.
# velmora's query ends with exit code 1 by design, hence -i.
hyperfine --shell=none -i --warmup "$warmup" --runs "$runs" --style none \
    --export-json "$work/query.json" \
    -n "velmora query" "$velmora '/F:$target'" \
    -n "getfattr" "getfattr -n system.ntfs_dos_name '$target'" \
    -n "floor (static)" "$noop" \
    -n "true" "true" >/dev/null 2>&1 ||
    { echo "bench: hyperfine failed (query)" >&2; exit 1; }
hyperfine --shell=none --warmup "$warmup" --runs "$runs" --style none \
    --export-json "$work/change.json" \
    -n "velmora change /Y" "$velmora '/F:$target' /SFN:NEWNAME.TXT /Y" \
    -n "setfattr" "setfattr -n system.ntfs_dos_name -v NEWNAME.TXT '$target'" \
    -n "floor (static)" "$noop" \
    -n "true" "true" >/dev/null 2>&1 ||
    { echo "bench: hyperfine failed (change)" >&2; exit 1; }

# A figure for a run that failed early would flatter velmora: the change
# must have reached the target.
[ "$(getfattr --only-values -n system.ntfs_dos_name "$target")" = NEWNAME.TXT ] ||
    { echo "bench: the change runs did not reach the target" >&2; exit 1; }

# Peak memory (maximum resident set) of one run of each.
# velmora's query ends with 1 by design: the status is not the point here.
peak() { { /usr/bin/time -f %M "$@" 2>&1 >/dev/null || true; } | tail -n 1; }
mem_query=$(peak "$velmora" "/F:$target")
mem_getfattr=$(peak getfattr -n system.ntfs_dos_name "$target")
mem_change=$(peak "$velmora" "/F:$target" /SFN:NEWNAME.TXT /Y)
mem_setfattr=$(peak setfattr -n system.ntfs_dos_name -v NEWNAME.TXT "$target")
mem_true=$(peak true)
mem_noop=$(peak "$noop")

python3 - "$work/query.json" "$work/change.json" <<PY
import json, sys
def medians(path):
    return {r["command"]: r["median"] for r in json.load(open(path))["results"]}
q, c = medians(sys.argv[1]), medians(sys.argv[2])
floor = (q["floor (static)"] + c["floor (static)"]) / 2
mem = {"velmora query": $mem_query, "getfattr": $mem_getfattr,
       "velmora change /Y": $mem_change, "setfattr": $mem_setfattr, "floor (static)": $mem_noop, "true": $mem_true}
print("velmora: $velmora")
print("folder: $siblings other items with short names; $runs runs, $warmup warm-up\n")
print("%-20s %12s %12s %12s" % ("command", "median (us)", "- floor (us)", "peak RSS (KiB)"))
for table in (q, c):
    for name, t in table.items():
        print("%-20s %12.1f %12.1f %12d" % (name, t * 1e6, (t - floor) * 1e6, mem[name]))
print()
print("ratio velmora query / getfattr:      %.2fx" % (q["velmora query"] / q["getfattr"]))
print("ratio velmora change / setfattr:     %.2fx" % (c["velmora change /Y"] / c["setfattr"]))
print("ratio above the floor (query):       %.2fx" %
      ((q["velmora query"] - floor) / (q["getfattr"] - floor)))
print("ratio above the floor (change):      %.2fx" %
      ((c["velmora change /Y"] - floor) / (c["setfattr"] - floor)))
PY
