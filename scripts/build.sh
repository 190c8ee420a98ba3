#!/bin/sh
# Configures and builds into a build directory: build.sh DIR [cmake options].
# ROWFAN_CMAKE_ARGS adds options to every build (CI: warnings as errors).
set -eu
dir=$1; shift
# shellcheck disable=SC2086
cmake -S "$(dirname "$0")/.." -B "$dir" ${ROWFAN_CMAKE_ARGS:-} "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
