#!/bin/sh
# Regenerates countries-50m.json and countries-10m.json (Natural Earth 1:50m
# and 1:10m admin-0 countries with the merged land, as quantized TopoJSON)
# from the npm registry. Needs npm.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
npm pack --silent world-atlas@2.0.2 >/dev/null
tar xzf world-atlas-2.0.2.tgz
cp package/countries-50m.json "$here/countries-50m.json"
cp package/countries-10m.json "$here/countries-10m.json"
