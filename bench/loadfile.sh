#!/bin/sh
# Times the load file reader and writer on a generated file of 1,000,000
# rows of 10 columns, next to the time `cat` takes to copy the same file in
# the same run. Usage: bench/loadfile.sh [BUILD_DIR] (default: build).
set -eu
build=${1:-build}
bench="$build/bench/bench_loadfile"
[ -x "$bench" ] || { echo "build the bench_loadfile target in $build first" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT INT TERM

awk 'BEGIN {
  print "TITLE = load file benchmark"
  print "OBSERVER = nobody in particular"
  print "ENDHEADER"
  for (r = 1; r <= 1000000; r++) {
    for (c = 1; c <= 10; c++) printf "COLUMN_%02d = value %d of row %d\n", c, c, r
    print "ENDROW"
  }
  print "ENDFILE"
}' > "$dir/in.lod"
bytes=$(wc -c < "$dir/in.lod")
echo "input: $bytes bytes"

now() { date +%s.%N; }
rate() { awk -v t="$2" -v b="$bytes" -v w="$1" 'BEGIN { printf "%-6s %8.3f s %9.1f MB/s\n", w, t, b / t / 1e6 }'; }

cat "$dir/in.lod" > /dev/null  # every reader starts from the page cache
"$bench" "$dir/in.lod" "$dir/out.lod"
start=$(now)
cat "$dir/in.lod" > "$dir/copy.lod"
rate cat "$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')"
