#!/bin/sh
# Builds the consumer program against installed vela libraries and runs it:
#   tests/consumer/run.sh WORK                  the system's install (the package)
#   tests/consumer/run.sh WORK PREFIX           an install under PREFIX
#   tests/consumer/run.sh WORK --stage BUILD    first installs BUILD's libraries
#                                               (component dev) under WORK/stage
# It is built at C++17 and at C++20, configured by find_package(vela CONFIG)
# and by pkg-config, and each build reads and writes a load file and reports
# a success and a failure. The include path must offer no header by its
# bare name (table.h, option.h), and every installed header must compile
# under both standards. Everything goes to WORK, made afresh.
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

# With CMake: the package configuration under PREFIX, not another one; the
# configuration itself refuses an include path that offers bare names.
for std in 17 20; do
  cmake -S "$here" -B "$work/cmake$std" ${prefix:+"-DCMAKE_PREFIX_PATH=$prefix"} \
    -DCMAKE_CXX_STANDARD=$std -DCMAKE_CXX_STANDARD_REQUIRED=ON -DCMAKE_CXX_EXTENSIONS=OFF >/dev/null
  found=$(sed -n 's/^vela_DIR:PATH=//p' "$work/cmake$std/CMakeCache.txt")
  case $found in
    "${prefix:-/usr}"/*) ;;
    *) echo "find_package(vela) found $found, not under ${prefix:-/usr}" >&2; exit 1 ;;
  esac
  cmake --build "$work/cmake$std" >/dev/null
  check "$work/cmake$std/vela_consumer"
done

# With pkg-config.
if [ -n "$prefix" ]; then
  PKG_CONFIG_PATH=$(find "$prefix" -type d -name pkgconfig | tr '\n' ':')
  export PKG_CONFIG_PATH
fi
cflags=$(pkg-config --cflags velalib)
# No folder of the include path offers a header by its bare name.
for flag in $cflags; do
  case $flag in -I*) ;; *) continue ;; esac
  for bare in table.h option.h; do
    if [ -e "${flag#-I}/$bare" ]; then
      echo "pkg-config puts ${flag#-I} on the include path, where $bare is" >&2
      exit 1
    fi
  done
done
# Every installed header compiles on its own terms, under both standards.
includedir=$(pkg-config --variable=includedir velalib)
for header in "$includedir"/loadfile/*.h "$includedir"/velalib/*.h; do
  echo "#include <${header#"$includedir"/}>"
done >"$work/headers.cpp"
for std in 17 20; do
  # shellcheck disable=SC2086
  ${CXX:-c++} -std=c++$std -Wall -Wextra -Werror -fsyntax-only $cflags "$work/headers.cpp"
  # shellcheck disable=SC2046,SC2086
  ${CXX:-c++} -std=c++$std -Wall -Wextra -Werror -o "$work/vela_consumer-pc$std" \
    "$here/consumer.cpp" "$(pkg-config --variable=mainsource velalib)" \
    $cflags $(pkg-config --libs velalib)
  check "$work/vela_consumer-pc$std"
done
echo "consumer built at C++17 and C++20 with find_package(vela) ($found) and with pkg-config: ok"
