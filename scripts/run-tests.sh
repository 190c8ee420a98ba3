#!/bin/sh
# Installs what is missing, builds rowfan with its tests and runs them all.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
sh scripts/build.sh build -DROWFAN_TESTS=ON
ctest --test-dir build --output-on-failure -j"$(nproc)"
