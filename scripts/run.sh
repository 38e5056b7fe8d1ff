#!/usr/bin/env bash
# Sets up, builds and starts the console from var/ in the checkout, which
# holds its databases and the page's images/.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
"$top/scripts/setup.sh"
. "$top/scripts/env.sh"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"

mkdir -p var
if [ -d build/images ]; then
  rm -rf var/images
  cp -r build/images var/images
fi
if [ ! -x build/app/velmora ]; then
  echo "run: everything is built, but the console (build/app/velmora) is not built yet."
  exit 0
fi
cd var
exec "$top/build/app/velmora" "$@"
