# Row expansion in gawk, as a yardstick for rowfan.
#
#     LC_ALL=C gawk -f fanout.awk IN OUT RULES
#
# Same arguments, semantics and output layout as rowfan: rules in file
# order, earliest match wins except the rule that produced the row, one
# child per choice expanded depth first, unmatched rows written with
# EXPANSION_NUMBER counting across the whole output. Rules are found through
# an index on one test of each rule, the one the fewest rules share. Input is
# assumed to be well formed.

BEGIN {
    if (ARGC != 4) {
        print "usage: gawk -f fanout.awk IN OUT RULES" > "/dev/stderr"
        failed = 1
        exit 2
    }
    out = ARGV[2]
    read_rules(ARGV[3])
    ARGC = 2
    section = 0      # 0 header, 1 rows, 2 after ENDFILE
    in_comment = 0
    ncol = 0         # input columns, in order of first appearance
    nhead = 0
    started = 0      # layout fixed and rules indexed
    nheld = 0
    count = 0
    have_row = 0
}

function clean(x,    p, n, i, s) {
    n = split(x, p, " ")
    if (n <= 1) return p[1]
    s = p[1]
    for (i = 2; i <= n; i++) s = s " " p[i]
    return s
}

function unquote_upper(w,    q) {
    q = substr(w, 1, 1)
    if (q == "'" || q == "\"") w = substr(w, 2, length(w) - 2)
    return toupper(w)
}

function syntax(what) {
    print "rule file syntax error at " what > "/dev/stderr"
    failed = 1
    exit 2
}

# Reads the rule file into rule tests (tcol/tval), choices (action rows
# acol/aval, rule r's rows afirst[r]..alast[r]) and the columns each rule
# names (rname), all in file order.
function read_rules(path,    text, line, rs, n, tok, i, j, k, t, w, name,
                             val, seen, nn) {
    rs = RS
    RS = "^$"
    text = ""
    if ((getline text < path) < 0) {
        print "cannot open rule file " path > "/dev/stderr"
        failed = 1
        exit 2
    }
    close(path)
    RS = rs
    n = patsplit(text, tok, /#[^\n]*|'[^']*'|"[^"]*"|[A-Za-z0-9_.+-]+|=>|&&|\|\||[;=]|[^ \t\n]/)
    # Drop the comments, classify the rest.
    k = 0
    for (i = 1; i <= n; i++) {
        t = tok[i]
        if (substr(t, 1, 1) == "#") continue
        k++
        if (t == "=>" || t == "&&" || t == "||" || t == ";" || t == "=") {
            kind[k] = t
        } else if (t ~ /^['"A-Za-z0-9_.+-]/) {
            kind[k] = "W"
            word[k] = unquote_upper(t)
        } else {
            syntax(t)
        }
    }
    kind[k + 1] = "$"
    nrule = 0
    naction = 0
    i = 1
    while (kind[i] != "$") {
        r = nrule++
        tn[r] = 0
        nn = 0
        delete seen
        # condition
        while (1) {
            if (kind[i] != "W" || kind[i + 1] != "=" || kind[i + 2] != "W")
                syntax("token " i)
            name = word[i]; val = word[i + 2]; i += 3
            rname[r, ++nn] = name
            if (name in seen) {
                tval[r, seen[name]] = val
            } else {
                seen[name] = ++tn[r]
                tcol[r, tn[r]] = name
                tval[r, tn[r]] = val
            }
            if (kind[i] != "&&") break
            i++
        }
        if (kind[i] != "=>") syntax("token " i)
        i++
        afirst[r] = naction
        # choices
        while (1) {
            a = naction++
            an[a] = 0
            while (1) {
                if (kind[i] != "W" || kind[i + 1] != "=" || kind[i + 2] != "W")
                    syntax("token " i)
                name = word[i]; val = word[i + 2]; i += 3
                rname[r, ++nn] = name
                if (val != "" && substr(name, 1, 1) != "_") {
                    an[a]++
                    acol[a, an[a]] = name
                    aval[a, an[a]] = val
                }
                if (kind[i] != "&&") break
                i++
            }
            if (kind[i] != "||") break
            i++
        }
        alast[r] = naction - 1
        rnn[r] = nn
        if (kind[i] != ";") syntax("token " i)
        i++
    }
}

# Once the input's columns are known: drop the rules that name a column the
# input lacks, and index each remaining rule under the non-empty test the
# fewest rules share (moved to the front of its tests).
function start_rows(    r, j, ok, c, v, h, key, best) {
    nkey = 0
    for (r = 0; r < nrule; r++) {
        ok = 1
        for (j = 1; j <= rnn[r]; j++)
            if (!(rname[r, j] in iscol)) { ok = 0; break }
        if (!ok) continue
        # live tests: non-empty values
        ln[r] = 0
        for (j = 1; j <= tn[r]; j++) {
            if (tval[r, j] == "") continue
            if (substr(tcol[r, j], 1, 1) == "_") { ok = 0; break }
            ln[r]++
            lcol[r, ln[r]] = tcol[r, j]
            lval[r, ln[r]] = tval[r, j]
        }
        if (!ok || ln[r] == 0) { ln[r] = 0; continue }
        for (j = 1; j <= ln[r]; j++) sharing[lcol[r, j], lval[r, j]]++
    }
    for (r = 0; r < nrule; r++) {
        if (!ln[r]) continue
        best = 1
        for (j = 2; j <= ln[r]; j++)
            if (sharing[lcol[r, j], lval[r, j]] < sharing[lcol[r, best], lval[r, best]])
                best = j
        c = lcol[r, best]; v = lval[r, best]
        lcol[r, best] = lcol[r, 1]; lval[r, best] = lval[r, 1]
        lcol[r, 1] = c; lval[r, 1] = v
        if (!(c in keyidx)) { keyidx[c] = ++nkey; keycol[nkey] = c }
        h = ++idxn[c, v]
        idxr[c, v, h] = r
    }
    layout = ""
    for (j = 1; j <= ncol; j++)
        if (col[j] != "COMMENT") {
            outcol[++nout] = col[j]
            outpre[nout] = col[j] " = "
        }
    has_comment = ("COMMENT" in iscol)
    started = 1
    for (h = 1; h <= nheld; h++) {
        delete row
        for (key in held) {
            split(key, kk, SUBSEP)
            if (kk[1] == h) row[kk[2]] = held[key]
        }
        expand(row, -1)
    }
    delete held
}

function find(row, used,    best, k, c, v, n, j, r, m, ok) {
    best = -1
    for (k = 1; k <= nkey; k++) {
        c = keycol[k]
        if (!(c in row)) continue
        v = row[c]
        if (!((c, v) in idxn)) continue
        n = idxn[c, v]
        for (j = 1; j <= n; j++) {
            r = idxr[c, v, j]
            if (best >= 0 && r >= best) break
            if (r == used) continue
            ok = 1
            for (m = 2; m <= ln[r]; m++)
                if (!(lcol[r, m] in row) || row[lcol[r, m]] != lval[r, m]) {
                    ok = 0
                    break
                }
            if (ok) { best = r; break }
        }
    }
    return best
}

# Depth first on the one row array: each choice is written over the row,
# expanded, and taken back again, so no child is ever copied.
function expand(row, used,    r, a, j, c, had, saved) {
    r = find(row, used)
    if (r < 0) {
        emit(row)
        return
    }
    for (a = afirst[r]; a <= alast[r]; a++) {
        for (j = 1; j <= an[a]; j++) {
            c = acol[a, j]
            had[j] = (c in row)
            saved[j] = row[c]
            row[c] = aval[a, j]
        }
        expand(row, r)
        for (j = an[a]; j >= 1; j--) {
            c = acol[a, j]
            if (had[j]) row[c] = saved[j]
            else delete row[c]
        }
    }
}

function emit(row,    s, j, c, text) {
    count++
    s = ""
    for (j = 1; j <= nout; j++)
        s = s outpre[j] row[outcol[j]] "\n"
    s = s "EXPANSION_NUMBER = " count "\n"
    if (has_comment) {
        text = ("COMMENT" in row) ? row["COMMENT"] : ""
        s = s "COMMENT =" text
        if (substr(text, length(text)) != "\n" || text == "") s = s "\n"
    }
    printf "%sENDROW\n\n", s > out
}

function finish_row() {
    if (!have_row) return
    if (started) {
        expand(cur, -1)
    } else {
        nheld++
        for (c in cur) held[nheld, c] = cur[c]
        start_rows()
    }
    delete cur
    have_row = 0
}

function write_header(    j, k, v) {
    for (j = 1; j <= nhead; j++) {
        k = hkey[j]
        if (k != "COMMENT") printf "%s = %s\n", k, hval[k] > out
    }
    if ("COMMENT" in hval) {
        v = hval["COMMENT"]
        printf "COMMENT =%s", v > out
        if (v == "" || substr(v, length(v)) != "\n") printf "\n" > out
    }
    printf "ENDHEADER\n\n" > out
}

{
    t = $0
    sub(/[[:space:][:cntrl:]]+$/, "", t)
    u = toupper(t)
    if (u == "ENDROW" || u == "ENDHEADER" || u == "ENDFILE") {
        in_comment = 0
        if (section == 0 && u == "ENDHEADER") {
            write_header()
            section = 1
        } else if (section == 1 && u != "ENDHEADER") {
            finish_row()
            if (u == "ENDFILE") section = 2
        }
        next
    }
    if (in_comment) {
        if (section == 0) hval["COMMENT"] = hval["COMMENT"] $0 "\n"
        else cur["COMMENT"] = cur["COMMENT"] $0 "\n"
        next
    }
    if (t == "" || t ~ /^[[:space:][:cntrl:]]*#/) next
    i = index($0, "=")
    name = toupper(clean(substr($0, 1, i - 1)))
    value = substr($0, i + 1)
    if (name == "COMMENT") {
        in_comment = 1
        value = value "\n"
    } else {
        value = clean(value)
    }
    if (section == 0) {
        if (!(name in hval)) hkey[++nhead] = name
        hval[name] = value
        next
    }
    if (!(name in iscol)) { iscol[name] = 1; col[++ncol] = name }
    have_row = 1
    if (substr(name, 1, 1) == "_") next
    if (value == "") delete cur[name]
    else cur[name] = value
}

END {
    if (failed) exit 2
    if (section != 2 && have_row) finish_row()
    if (!started) start_rows()
    printf "ENDFILE\n" > out
    close(out)
}
