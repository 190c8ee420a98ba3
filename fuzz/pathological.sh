#!/bin/sh
# Pathological inputs through the built tool, one after another, each with
# its time and peak memory: fuzz/pathological.sh [-d DIVISOR] [rowfan binary].
# Every case must either complete with the output it checks for or stop with
# one message line and status 1; the script fails otherwise. Times are
# printed, never judged. -d 10, 100 or 1000 divides every size by that; the
# test suite runs it at -d 100. Scratch files go to a directory under
# ${TMPDIR:-/tmp} that is removed at the end.
set -eu
div=1
while getopts d: opt; do
  case $opt in
    d) div=$OPTARG ;;
    *) echo "usage: $0 [-d 1|10|100|1000] [rowfan binary]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
# The fan-out case loses one of its seven columns of ten choices per digit.
case $div in
  1) fan_cols=7 ;; 10) fan_cols=6 ;; 100) fan_cols=5 ;; 1000) fan_cols=4 ;;
  *) echo "$0: -d takes 1, 10, 100 or 1000" >&2; exit 2 ;;
esac
export div fan_cols
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/src/rowfan/rowfan}
[ -x "$tool" ] || { echo "no tool at $tool" >&2; exit 2; }
tool=$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")
work=$(mktemp -d "${TMPDIR:-/tmp}/rowfan-pathological-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

failed=0
printf '%-34s %8s %10s  %s\n' case seconds "peak MiB" outcome

# A full size divided by the divisor.
size() { echo $(($1 / div)); }

# run NAME EXPECTED_STATUS CHECK-COMMAND -- ARGS...: runs the tool with ARGS,
# records time and peak memory, then runs the check (which sees the tool's
# standard output in the file `said`).
run() {
  name=$1 want=$2 check=$3
  shift 4
  status=0
  /usr/bin/time -f '%e %M' -o times "$tool" "$@" >said 2>err || status=$?
  read -r secs kib <<EOT
$(tail -n 1 times)
EOT
  outcome="status $status"
  if [ "$status" -ne "$want" ] || [ -s err ] || ! eval "$check"; then
    outcome="$outcome FAILED: $(head -c 200 said) $(head -c 200 err)"
    failed=1
  else
    outcome="$outcome, $(head -c 120 said | tr '\n' ' ')ok"
  fi
  printf '%-34s %8s %10s  %s\n' "$name" "$secs" "$((kib / 1024))" "$outcome"
  rm -f out.lod
}

# One message line (a long one loses its middle, never its end), no output
# file and no temporary beside it.
one_line() {
  [ -s said ] && [ "$(wc -l <said)" -eq 1 ] && [ "$(wc -c <said)" -le 511 ] &&
    [ ! -e out.lod ] && ! ls -A | grep -q '^\.out'
}
rows() { grep -c '^ENDROW$' out.lod; }
last_number() { grep '^EXPANSION_NUMBER = ' "$1" | tail -n 1 | cut -d' ' -f3; }

# 10 million lines: 2.5 million rows of three data lines and ENDROW.
python3 - <<'PY'
import os
with open("lines.lod", "w") as f:
    f.write("ENDHEADER\n")
    chunk = "".join("ROOT = R%d\nDET = ALL\nEXPTIME = 30\nENDROW\n" % i for i in range(500))
    for _ in range(5000 // int(os.environ["div"])):
        f.write(chunk)
    f.write("ENDFILE\n")
PY
echo 'DET = ALL => DET = A ;' >one.rules
run "$(size 10000000) lines" 0 '[ "$(rows)" -eq "$(size 2500000)" ]' -- lines.lod out.lod one.rules
rm -f lines.lod

# 500,000 columns in the first row, and a second row with one of them.
python3 - <<'PY'
import os
with open("wide.lod", "w") as f:
    f.write("ENDHEADER\n")
    f.writelines("C%d = V%d\n" % (i, i) for i in range(500000 // int(os.environ["div"])))
    f.write("ENDROW\nC0 = W\nENDROW\nENDFILE\n")
PY
echo 'C0 = W => C1 = X || C1 = Y ;' >wide.rules
run "$(size 500000) columns" 0 \
  '[ "$(rows)" -eq 3 ] && [ "$(grep -c "^C$(($(size 500000) - 1)) = " out.lod)" -eq 3 ]' \
  -- wide.lod out.lod wide.rules
rm -f wide.lod

# A header COMMENT of 100 MB, in lines of 77 bytes and a newline.
python3 - <<'PY'
import os
line = "x" * 77 + "\n"
with open("comment.lod", "w") as f:
    f.write("COMMENT = a long comment\n")
    for _ in range(100 * 1024 * 1024 // int(os.environ["div"]) // len(line)):
        f.write(line)
    f.write("ENDHEADER\nDET = ALL\nENDROW\nENDFILE\n")
PY
run "$(size 104857600)-byte COMMENT" 0 \
  '[ "$(rows)" -eq 1 ] && [ "$(stat -c %s out.lod)" -gt "$(size 104857600)" ]' \
  -- comment.lod out.lod one.rules
rm -f comment.lod

# 200,000 rules, each matching one value; 1,000 rows that each meet one.
python3 - <<'PY'
import os
div = int(os.environ["div"])
with open("many.rules", "w") as f:
    f.writelines("K = V%d => K = W%d || K = X%d ;\n" % (i, i, i) for i in range(200000 // div))
with open("many.lod", "w") as f:
    f.write("ENDHEADER\n")
    f.writelines("K = V%d\nENDROW\n" % (i * 199) for i in range(1000 // div))
    f.write("ENDFILE\n")
PY
run "$(size 200000) rules" 0 \
  '[ "$(rows)" -eq $((2 * $(size 1000))) ] && grep -q "^K = X$((199 * ($(size 1000) - 1)))$" out.lod' \
  -- many.lod out.lod many.rules

# A quoted value of 10 MB, written into every output row: whole, though no
# reader takes a line that long, which the run warns of.
python3 - <<'PY'
import os
with open("quoted.rules", "w") as f:
    f.write("DET = ALL => NOTE = '" + "q" * (10 * 1024 * 1024 // int(os.environ["div"])) + "' ;\n")
with open("quoted.lod", "w") as f:
    f.write("ENDHEADER\nDET = ALL\nNOTE = x\nENDROW\nENDFILE\n")
PY
run "$(size 10485760)-byte quoted value" 1 \
  '[ "$(rows)" -eq 1 ] && [ "$(grep "^NOTE = " out.lod | wc -c)" -eq $(($(size 10485760) + 8)) ] &&
   grep -qx "String too long for internal buffer (out.lod: line 4, column NOTE, 1 line over 78 bytes)" said' \
  -- quoted.lod out.lod quoted.rules

# 50 million rows: 5 input rows, each fanned out by seven rules of ten
# choices. Written to a pipe; its last EXPANSION_NUMBER is the row count.
python3 - <<'PY'
import os
cols = "ABCDEFG"[: int(os.environ["fan_cols"])]
with open("fan.rules", "w") as f:
    for c in cols:
        f.write("%s = ALL => %s ;\n" % (c, " || ".join("%s = %d" % (c, v) for v in range(10))))
with open("fan.lod", "w") as f:
    f.write("ENDHEADER\n")
    for r in range(5):
        f.write("ROW = %d\n" % r + "".join("%s = ALL\n" % c for c in cols) + "ENDROW\n")
    f.write("ENDFILE\n")
PY
# The tool's own status shows in `times` (time notes a non-zero one there).
"/usr/bin/time" -f '%e %M' -o times "$tool" fan.lod /dev/stdout fan.rules 2>err | tail -n 20 >fan.tail
read -r secs kib <<EOT
$(tail -n 1 times)
EOT
fan_rows=$(size 50000000)
if [ "$(wc -l <times)" -eq 1 ] && [ ! -s err ] && [ "$(last_number fan.tail)" = "$fan_rows" ]; then
  outcome="status 0, last EXPANSION_NUMBER $fan_rows ok"
else
  outcome="FAILED: $(head -n 1 times) $(last_number fan.tail) $(head -c 200 err)"
  failed=1
fi
printf '%-34s %8s %10s  %s\n' "$fan_rows rows (to a pipe)" "$secs" "$((kib / 1024))" "$outcome"

# A chain 10,000 rules deep that ends: S = 0 becomes 1, then 2, ... 10000.
python3 - <<'PY'
import os
with open("chain.rules", "w") as f:
    f.writelines("S = %d => S = %d && T = %d ;\n" % (i, i + 1, i)
                 for i in range(10000 // int(os.environ["div"])))
with open("chain.lod", "w") as f:
    f.write("ENDHEADER\nS = 0\nT = none\nENDROW\nENDFILE\n")
PY
printf 'ENDHEADER\n\nS = %d\nT = %d\nEXPANSION_NUMBER = 1\nENDROW\n\nENDFILE\n' \
  "$(size 10000)" "$(($(size 10000) - 1))" >chain.want
run "chain $(size 10000) deep" 0 'cmp -s out.lod chain.want' -- chain.lod out.lod chain.rules

# A loop through 1,000 rules: S = 0 ... 999 and back to 0 (never fewer than
# ten rules, so the message still names the first lines of a long loop).
python3 - <<'PY'
import os
n = max(10, 1000 // int(os.environ["div"]))
with open("loop.rules", "w") as f:
    f.writelines("S = %d => S = %d ;\n" % (i, (i + 1) % n) for i in range(n))
PY
run "loop $(($(size 1000) < 10 ? 10 : $(size 1000))) deep" 1 \
  'one_line && grep -q "^Rule file syntax error (Rules on lines 1, 2, 3, " said' \
  -- chain.lod out.lod loop.rules

exit $failed
