#!/bin/sh
# Builds rowfan in Release into build-bench (when it is missing or out of
# date), then times it against its peers: run.sh [--full] [run.py options].
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build="$root/build-bench"

# The peers and the memory probe come from Debian packages; install what is
# missing when we may (root with apt-get), else run without them.
need=""
command -v mlr >/dev/null 2>&1 || need="$need miller"
command -v gawk >/dev/null 2>&1 || need="$need gawk"
[ -x /usr/bin/time ] || need="$need time"
if [ -n "$need" ] && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "installing:$need"
    apt-get install -y $need >/dev/null 2>&1 ||
        { apt-get update >/dev/null 2>&1 && apt-get install -y $need >/dev/null 2>&1; } ||
        echo "could not install$need; going on without"
fi

rowfan_opt=""
mkdir -p "$build"
if [ ! -f "$build/CMakeCache.txt" ]; then
    gen=""
    command -v ninja >/dev/null 2>&1 && gen="-G Ninja"
    # shellcheck disable=SC2086
    cmake -S "$root" -B "$build" $gen -DCMAKE_BUILD_TYPE=Release \
        -DROWFAN_TESTS=OFF >/dev/null || true
fi
if ! cmake --build "$build" --target rowfan -j"$(nproc)" >"$build/build.log" 2>&1; then
    echo "rowfan did not build (see $build/build.log); timing the peers alone"
    rowfan_opt="--no-rowfan"
fi
exec python3 "$here/run.py" --rowfan "$build/src/rowfan/rowfan" $rowfan_opt "$@"
