#!/bin/sh
# Pathological inputs through the built tool, one after another, each with
# its time and peak memory: fuzz/pathological.sh [rowfan binary].
# Every case must either complete with the output it checks for or stop with
# one message line and status 1; the script fails otherwise. Scratch files
# go to a directory under ${TMPDIR:-/tmp} that is removed at the end.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/src/rowfan/rowfan}
[ -x "$tool" ] || { echo "no tool at $tool" >&2; exit 2; }
tool=$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")
work=$(mktemp -d "${TMPDIR:-/tmp}/rowfan-pathological-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

failed=0
printf '%-34s %8s %10s  %s\n' case seconds "peak MiB" outcome

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

# One message line (a line cut at the message limit of 511 characters loses
# its newline), no output file and no temporary beside it.
one_line() {
  [ -s said ] && [ "$(wc -l <said)" -le 1 ] && [ ! -e out.lod ] && ! ls -A | grep -q '^\.out'
}
rows() { grep -c '^ENDROW$' out.lod; }
last_number() { grep '^EXPANSION_NUMBER = ' "$1" | tail -n 1 | cut -d' ' -f3; }

# 10 million lines: 2.5 million rows of three data lines and ENDROW.
python3 - <<'PY'
with open("lines.lod", "w") as f:
    f.write("ENDHEADER\n")
    chunk = "".join("ROOT = R%d\nDET = ALL\nEXPTIME = 30\nENDROW\n" % i for i in range(1000))
    for _ in range(2500):
        f.write(chunk)
    f.write("ENDFILE\n")
PY
echo 'DET = ALL => DET = A ;' >one.rules
run "10M-line load file" 0 '[ "$(rows)" -eq 2500000 ]' -- lines.lod out.lod one.rules
rm -f lines.lod

# 500,000 columns in the first row, and a second row with one of them.
python3 - <<'PY'
with open("wide.lod", "w") as f:
    f.write("ENDHEADER\n")
    f.writelines("C%d = V%d\n" % (i, i) for i in range(500000))
    f.write("ENDROW\nC0 = W\nENDROW\nENDFILE\n")
PY
echo 'C0 = W => C1 = X || C1 = Y ;' >wide.rules
run "500,000 columns" 0 '[ "$(rows)" -eq 3 ] && [ "$(grep -c "^C499999 = " out.lod)" -eq 3 ]' \
  -- wide.lod out.lod wide.rules
rm -f wide.lod

# A header COMMENT of 100 MB, in lines of 77 bytes and a newline.
python3 - <<'PY'
line = "x" * 77 + "\n"
with open("comment.lod", "w") as f:
    f.write("COMMENT = a comment of 100 MB\n")
    for _ in range(100 * 1024 * 1024 // len(line)):
        f.write(line)
    f.write("ENDHEADER\nDET = ALL\nENDROW\nENDFILE\n")
PY
run "100 MB COMMENT" 0 '[ "$(rows)" -eq 1 ] && [ "$(stat -c %s out.lod)" -gt 104857600 ]' \
  -- comment.lod out.lod one.rules
rm -f comment.lod

# 200,000 rules, each matching one value; 1,000 rows that each meet one.
python3 - <<'PY'
with open("many.rules", "w") as f:
    f.writelines("K = V%d => K = W%d || K = X%d ;\n" % (i, i, i) for i in range(200000))
with open("many.lod", "w") as f:
    f.write("ENDHEADER\n")
    f.writelines("K = V%d\nENDROW\n" % (i * 199) for i in range(1000))
    f.write("ENDFILE\n")
PY
run "200,000 rules" 0 '[ "$(rows)" -eq 2000 ] && grep -q "^K = X198801$" out.lod' \
  -- many.lod out.lod many.rules

# A quoted value of 10 MB, written into every output row.
python3 - <<'PY'
with open("quoted.rules", "w") as f:
    f.write("DET = ALL => NOTE = '" + "q" * (10 * 1024 * 1024) + "' ;\n")
with open("quoted.lod", "w") as f:
    f.write("ENDHEADER\nDET = ALL\nNOTE = x\nENDROW\nENDFILE\n")
PY
run "10 MB quoted value" 0 \
  '[ "$(rows)" -eq 1 ] && [ "$(grep "^NOTE = " out.lod | wc -c)" -eq $((10 * 1024 * 1024 + 8)) ]' \
  -- quoted.lod out.lod quoted.rules

# 50 million rows: 5 input rows, each fanned out by seven rules of ten
# choices. Written to a pipe; its last EXPANSION_NUMBER is the row count.
python3 - <<'PY'
cols = "ABCDEFG"
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
if [ "$(wc -l <times)" -eq 1 ] && [ ! -s err ] && [ "$(last_number fan.tail)" = 50000000 ]; then
  outcome="status 0, last EXPANSION_NUMBER 50000000 ok"
else
  outcome="FAILED: $(head -n 1 times) $(last_number fan.tail) $(head -c 200 err)"
  failed=1
fi
printf '%-34s %8s %10s  %s\n' "50 million rows (to a pipe)" "$secs" "$((kib / 1024))" "$outcome"

# A chain 10,000 rules deep that ends: S = 0 becomes 1, then 2, ... 10000.
python3 - <<'PY'
with open("chain.rules", "w") as f:
    f.writelines("S = %d => S = %d && T = %d ;\n" % (i, i + 1, i) for i in range(10000))
with open("chain.lod", "w") as f:
    f.write("ENDHEADER\nS = 0\nT = none\nENDROW\nENDFILE\n")
PY
printf 'ENDHEADER\n\nS = 10000\nT = 9999\nEXPANSION_NUMBER = 1\nENDROW\n\nENDFILE\n' >chain.want
run "chain 10,000 deep" 0 'cmp -s out.lod chain.want' -- chain.lod out.lod chain.rules

# A loop through 1,000 rules: S = 0 ... 999 and back to 0.
python3 - <<'PY'
with open("loop.rules", "w") as f:
    f.writelines("S = %d => S = %d ;\n" % (i, (i + 1) % 1000) for i in range(1000))
PY
run "loop 1,000 deep" 1 'one_line && grep -q "^Rule file syntax error (Rules on lines 1, 2, 3, " said' \
  -- chain.lod out.lod loop.rules

exit $failed
