#!/usr/bin/env bash
# Sets up, builds and runs every test: the full build with ctest, then the
# non-Qt libraries under ASan+UBSan and under TSan, then the fuzzers for a
# bounded time over their seed corpora, the desktop entry and metadata
# validators, and the package check. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
"$top/scripts/setup.sh"
. "$top/scripts/env.sh"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

run_ctest() {
  local dir=$1
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

echo "== build (plain)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"

echo "== build (address,undefined)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_WITH_QT=OFF \
  -DVELMORA_BUILD_BENCH=OFF -DVELMORA_SANITIZE=address,undefined
cmake --build build-asan -j "$jobs"

echo "== build (thread)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_WITH_QT=OFF \
  -DVELMORA_BUILD_BENCH=OFF -DVELMORA_SANITIZE=thread
cmake --build build-tsan -j "$jobs"

echo "== build (fuzz)"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WITH_QT=OFF \
  -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF -DVELMORA_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
cmake --build build-fuzz -j "$jobs"

echo "== fuzz"
"$top/scripts/fuzz.sh" "$top/build-fuzz" "${VELMORA_FUZZ_SECONDS:-60}"

echo "== tests (address,undefined)"
run_ctest build-asan
echo "== tests (thread)"
run_ctest build-tsan
echo "== tests (plain)"
run_ctest build

echo "== desktop entry and metadata"
desktop-file-validate packaging/velmora.desktop
appstreamcli validate --no-net build/packaging/org.velmora.console.metainfo.xml

echo "== package"
if command -v dpkg-deb >/dev/null && command -v lintian >/dev/null; then
  "$top/scripts/check-package.sh" build
else
  echo "package: skipped (dpkg-deb or lintian missing)"
fi
