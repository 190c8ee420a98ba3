#!/bin/sh
# Installs what is missing, builds the tool alone and expands the shipped
# example. A first build leaves the tests out (scripts/run-tests.sh adds
# them); a build directory configured before keeps its choice.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh tool
tests=""
[ -f build/CMakeCache.txt ] || tests=-DROWFAN_TESTS=OFF
# shellcheck disable=SC2086
cmake -S . -B build ${ROWFAN_CMAKE_ARGS:-} $tests >/dev/null
cmake --build build -j"$(nproc)" --target rowfan
./build/src/rowfan/rowfan examples/frames.lod build/frames-out.lod examples/frames.rules v+
cat build/frames-out.lod
