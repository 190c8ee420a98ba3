#!/bin/sh
# Times the load file reader and writer on a generated file of 1,000,000
# rows of 10 columns (347 MB), next to what `wc -l` takes to read the same
# file and `cat` to copy it, in the same run: the reader is measured against
# the one and the writer against the other. Each is run RUNS times and the
# median is shown. Usage: bench/loadfile.sh [BUILD_DIR [RUNS]] (default:
# build, 5).
set -eu
build=${1:-build}
runs=${2:-5}
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
echo "input: $bytes bytes, $runs runs each, medians"

now() { date +%s.%N; }
since() { awk -v s="$1" -v e="$(now)" 'BEGIN { printf "%.6f\n", e - s }'; }

cat "$dir/in.lod" > /dev/null  # every reader starts from the page cache
for i in $(seq "$runs"); do
  "$bench" "$dir/in.lod" "$dir/out.lod" |
    awk '$1 == "read" || $1 == "write" { print $1, $2 }' >> "$dir/times"
  start=$(now)
  cat "$dir/in.lod" > "$dir/copy.lod"
  echo "cat $(since "$start")" >> "$dir/times"
  start=$(now)
  wc -l "$dir/in.lod" > /dev/null
  echo "wc-l $(since "$start")" >> "$dir/times"
  rm -f "$dir/out.lod" "$dir/copy.lod"
done

for what in read wc-l write cat; do
  awk -v w="$what" '$1 == w { print $2 }' "$dir/times" | sort -n |
    awk -v w="$what" -v b="$bytes" '{ t[NR] = $1 }
      END { m = t[int((NR + 1) / 2)]; printf "%-6s %8.3f s %9.1f MB/s\n", w, m, b / m / 1e6 }'
done
