#!/usr/bin/env bash
# Builds the package from an existing build folder (scripts/package.sh) and
# checks it: the files a desktop install needs are in it, Leaflet is linked
# from libjs-leaflet rather than copied, Depends names the libraries, and
# lintian finds no errors (its warnings and notes are printed).
# Usage: check-package.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=${1:?usage: check-package.sh BUILD_DIR}
"$top/scripts/package.sh" "$build" >"$build/package.log" 2>&1 || { cat "$build/package.log"; exit 1; }
deb=$(ls "$build"/velmora_*.deb)
echo "package: $(basename "$deb") ($(du -k "$deb" | cut -f1) kB)"

listing=$(dpkg-deb -c "$deb")
failed=0
for file in \
  ./usr/bin/velmora ./usr/bin/velmora-sim ./usr/bin/velmora-receiver \
  ./lib/systemd/system/velmora-receiver.service ./usr/share/man/man1/velmora-receiver.1.gz \
  ./usr/share/doc/velmora/examples/receiver.conf \
  ./usr/share/applications/velmora.desktop \
  ./usr/share/metainfo/org.velmora.console.metainfo.xml \
  ./usr/share/icons/hicolor/scalable/apps/velmora.svg \
  ./usr/share/icons/hicolor/16x16/apps/velmora.png ./usr/share/icons/hicolor/32x32/apps/velmora.png \
  ./usr/share/icons/hicolor/48x48/apps/velmora.png ./usr/share/icons/hicolor/256x256/apps/velmora.png \
  ./usr/share/man/man1/velmora.1.gz ./usr/share/man/man1/velmora-sim.1.gz \
  ./usr/share/doc/velmora/copyright ./usr/share/doc/velmora/changelog.gz \
  ./usr/share/velmora/images/toolbar_bg.png ./usr/share/velmora/images/point_normal.png \
  ./usr/share/velmora/assets/geodata/world.js ./usr/share/velmora/geonames/places.tsv \
  ./usr/share/velmora/assets/geodata/water-coarse.json ./usr/share/velmora/assets/geodata/water/40_0.json \
  "./usr/share/velmora/assets/leaflet/leaflet.js -> ../../../javascript/leaflet/leaflet.js"; do
  if ! grep -qF -- " $file" <<<"$listing"; then
    echo "package: missing $file"
    failed=1
  fi
done
if grep -q '^-.* \./usr/share/velmora/.*leaflet.*\.js$' <<<"$listing"; then
  echo "package: holds a copy of Leaflet instead of a link"
  failed=1
fi
depends=$(dpkg-deb -f "$deb" Depends)
for need in libjs-leaflet libqt6webenginecore6 libsqlite3-0 libpq5; do
  grep -q "$need" <<<"$depends" || { echo "package: Depends lacks $need: $depends"; failed=1; }
done
for field in Maintainer Section Description; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || { echo "package: no $field"; failed=1; }
done

# lintian refuses nothing as root but says so; errors fail the check.
if ! lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" >"$build/lintian.log" 2>&1; then
  grep -v 'root privileges' "$build/lintian.log" || true
  echo "package: lintian reports errors"
  failed=1
fi
echo "package: lintian: $(grep -c '^E:' "$build/lintian.log" || true) errors, $(grep -c '^W:' "$build/lintian.log" || true) warnings"
grep '^W:' "$build/lintian.log" || true
exit $failed
