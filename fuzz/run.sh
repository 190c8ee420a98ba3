#!/bin/sh
# Builds the libFuzzer harnesses in build-fuzz and runs each for a bounded
# time, one after another: fuzz/run.sh [seconds-per-harness] [harness...].
# Fails on the first finding; the input that caused it is left in
# build-fuzz/findings/. Corpora grow in build-fuzz/corpus/, seeded from the
# test fixtures and the examples. ROWFAN_CMAKE_ARGS adds options to the build.
set -eu
seconds=${1:-60}
[ $# -gt 0 ] && shift
harnesses=${*:-"fuzz_strings fuzz_loadfile fuzz_rules fuzz_run"}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ROWFAN_FUZZ_BUILD:-$root/build-fuzz}

# shellcheck disable=SC2086
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DROWFAN_FUZZ=ON -DROWFAN_IRAF=OFF \
  -DROWFAN_TESTS=OFF ${ROWFAN_CMAKE_ARGS:-} >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $harnesses >/dev/null

corpus=$build/corpus
mkdir -p "$build/findings"
seed() {  # seed HARNESS FILE...
  dir=$corpus/$1; shift
  mkdir -p "$dir"
  for f in "$@"; do cp "$f" "$dir/seed-$(basename "$f")"; done
}
seed fuzz_loadfile "$root"/tests/data/lod/*.lod "$root"/examples/*.lod
seed fuzz_rules "$root"/tests/data/rules/*.rules "$root"/examples/*.rules "$root"/data/*.rules
mkdir -p "$corpus/fuzz_strings"
printf '\040key  value more' >"$corpus/fuzz_strings/seed-split"
printf ',dir/sub/file.txt;3\000*.t?t' >"$corpus/fuzz_strings/seed-name"
printf "\100'x y' z\"q" >"$corpus/fuzz_strings/seed-quote"
mkdir -p "$corpus/fuzz_run"
for lod in "$root"/tests/data/lod/frames.lod "$root"/examples/frames.lod; do
  for rules in "$root"/tests/data/rules/*.rules "$root"/examples/*.rules; do
    { cat "$lod"; echo '%%RULES%%'; cat "$rules"; } \
      >"$corpus/fuzz_run/seed-$(basename "$lod" .lod)-$(basename "$rules" .rules)"
  done
done
# Rule values near the reader's line limit, past it, and a COMMENT of
# several lines, from which the writer's layouts and warnings grow.
{
  printf 'ENDHEADER\nA = 1\nB = 2\nCOMMENT = c\nENDROW\nENDFILE\n%%%%RULES%%%%\n'
  printf "A = 1 => A = '%s' || B = '%s' && COMMENT = 'x\n  endrow\n%s' ;\n" \
    "$(printf '%074d' 0)" "$(printf '%090d' 0)" "$(printf '%080d' 0)"
} >"$corpus/fuzz_run/seed-long-values"
cat "$root/fuzz/loadfile.dict" "$root/fuzz/rules.dict" >"$build/run.dict"
printf 'marker="%%%%RULES%%%%\\x0a"\n' >>"$build/run.dict"

# Every harness runs with leak checking: an input that strands memory is a
# finding like any other.
for h in $harnesses; do
  case $h in
    fuzz_loadfile) dict=$root/fuzz/loadfile.dict; max_len=4096 ;;
    fuzz_rules) dict=$root/fuzz/rules.dict; max_len=4096 ;;
    fuzz_run) dict=$build/run.dict; max_len=4096 ;;
    *) dict=""; max_len=512 ;;
  esac
  echo "== $h: $seconds s"
  # -rss_limit_mb: a harness that grows past it is a finding too.
  "$build/fuzz/$h" ${dict:+-dict="$dict"} -max_total_time="$seconds" -max_len="$max_len" \
    -timeout=10 -rss_limit_mb=2048 -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$build/findings/$h-" \
    "$corpus/$h" 2>"$build/$h.log" || {
    grep -v '^#' "$build/$h.log" | tail -40
    echo "$h: finding, input in $build/findings/" >&2
    exit 1
  }
  grep -E '^stat::number_of_executed_units|^stat::average_exec_per_sec|^stat::peak_rss_mb' \
    "$build/$h.log" || true
done
echo "no findings"
