#!/bin/sh
# Builds the consumer program against installed vela libraries and runs it:
#   tests/consumer/run.sh WORK                  the system's install (the package)
#   tests/consumer/run.sh WORK PREFIX           an install under PREFIX
#   tests/consumer/run.sh WORK --stage BUILD    first installs BUILD's libraries
#                                               (component dev) under WORK/stage
# It is built twice, configured by find_package(vela CONFIG) and by
# pkg-config, and each build reads and writes a load file and reports a
# success and a failure. Everything goes to WORK, made afresh.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$1
prefix=${2:-}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
if [ "$prefix" = --stage ]; then
  prefix=$work/stage
  cmake --install "$3" --component dev --prefix "$prefix" >/dev/null
fi
data=$here/../data/lod

# check PROGRAM: the canonical copy of a load file, one line saying so; a
# missing input, one line saying that, status 1 and no output.
check() {
  said=$("$1" "$data/frames.lod" "$work/out.lod")
  [ "$said" = "Wrote file ($work/out.lod)" ] || { echo "$1 said: $said" >&2; return 1; }
  cmp "$work/out.lod" "$data/frames.canonical.lod"
  status=0
  said=$("$1" "$work/missing.lod" "$work/none.lod") || status=$?
  [ "$status" -eq 1 ] && [ "$said" = "Cannot open file ($work/missing.lod)" ] &&
    [ ! -e "$work/none.lod" ] || { echo "$1 said: $said (status $status)" >&2; return 1; }
  rm -f "$work/out.lod"
}

# With CMake: the package configuration under PREFIX, not another one.
cmake -S "$here" -B "$work/cmake" ${prefix:+"-DCMAKE_PREFIX_PATH=$prefix"} >/dev/null
found=$(sed -n 's/^vela_DIR:PATH=//p' "$work/cmake/CMakeCache.txt")
case $found in
  "${prefix:-/usr}"/*) ;;
  *) echo "find_package(vela) found $found, not under ${prefix:-/usr}" >&2; exit 1 ;;
esac
cmake --build "$work/cmake" >/dev/null
check "$work/cmake/vela_consumer"

# With pkg-config.
if [ -n "$prefix" ]; then
  PKG_CONFIG_PATH=$(find "$prefix" -type d -name pkgconfig | tr '\n' ':')
  export PKG_CONFIG_PATH
fi
# shellcheck disable=SC2046
${CXX:-c++} -std=c++17 -Wall -Wextra -Werror -o "$work/vela_consumer-pc" "$here/consumer.cpp" \
  "$(pkg-config --variable=mainsource velalib)" \
  $(pkg-config --cflags velalib) $(pkg-config --libs velalib)
check "$work/vela_consumer-pc"
echo "consumer built with find_package(vela) ($found) and with pkg-config: ok"
