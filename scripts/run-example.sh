#!/bin/sh
# Installs what is missing, builds rowfan and expands the shipped example.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
sh scripts/build.sh build
./build/src/rowfan/rowfan examples/frames.lod build/frames-out.lod examples/frames.rules v+
cat build/frames-out.lod
