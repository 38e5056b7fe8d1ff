#!/bin/sh
# Regenerates water-coarse.json, water-cells.json and water/*.json (the
# map's lakes and rivers) from GSHHG 2.3.7 as Debian ships it for GMT.
# Needs the Debian packages gmt, gmt-gshhg-full and nodejs:
#   apt-get install gmt gmt-gshhg-full nodejs
# GMT dumps the full-resolution lake shores and permanent rivers as text;
# build-water.js joins, simplifies and splits them. The same packages give
# the same files.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
for tool in gmt node; do
  command -v "$tool" >/dev/null || { echo "regenerate.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" # GMT leaves its gmt.history in the working directory
# -Rd: the whole world; -Df: full resolution; -M: dump the lines as text.
# -W dumps every shore level (the script keeps the lakes' 2 to 4), -Ir
# every permanent river (levels 0 to 4).
gmt coast -Rd -Df -W -M > "$work/shores.txt"
gmt coast -Rd -Df -Ir -M > "$work/rivers.txt"
node "$here/build-water.js" "$work/shores.txt" "$work/rivers.txt" "$here"
