#!/bin/sh
# Peak resident memory and time of a 4096 x 4096 map bake through the
# command. Without a mesh: two faces covering the whole map, so every texel
# is evaluated; `make bench` bakes its 100k mesh the same way and reports both
# in bench/results.md.
# Usage: bench/map_memory.sh [build/release/bin/dunsmere [MESH.obj]]   (needs GNU time)
set -eu
dunsmere=${1:-build/release/bin/dunsmere}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mesh=${2:-$work/plane.obj}
if [ $# -lt 2 ]; then
cat > "$mesh" <<'OBJ'
v 0 0 0
v 10 0 0
v 10 10 0
v 0 10 0
vt 0 0
vt 1 0
vt 1 1
vt 0 1
f 1/1 2/2 3/3 4/4
OBJ
fi
/usr/bin/time -v "$dunsmere" "$mesh" --config-dir "$work/config" --defaults --algorithm uv-map \
    --size 4096x4096 --output "$work/map.png" --quiet 2> "$work/time.txt" || { cat "$work/time.txt"; exit 1; }
grep -E 'Maximum resident|Elapsed \(wall' "$work/time.txt"
