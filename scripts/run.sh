#!/usr/bin/env bash
# Sets up, builds and starts the console with var/ in the checkout as its
# data directory (--data-dir), which holds its databases (app.db, setup.db)
# and the page's images/.
# Arguments are passed on to the console. Try it with a simulated fleet:
#   build/tools/sim/velmora-sim --vehicles 20
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
"$top/scripts/setup.sh"
. "$top/scripts/env.sh"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs" --target velmora velmora-sim

mkdir -p var
rm -rf var/images
cp -r build/images var/images
cd var
exec "$top/build/app/velmora" --data-dir "$top/var" "$@"
