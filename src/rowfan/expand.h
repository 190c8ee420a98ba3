// Row expansion: every input row becomes its output rows, depth first, by the
// rules of the target and action tables.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include <loadfile/table.h>
#include "rules.h"

// Appends the rows that `rules` expand `input` to, each with its
// EXPANSION_NUMBER, to `output`, which is laid out as the input's columns
// plus EXPANSION_NUMBER.
void use_rules(Table* input, Table* output, const RuleFile& rules);

// The same expansion, handing each final row to `sink` instead: one cell per
// column of the output layout (input columns, then EXPANSION_NUMBER). The
// cells stay valid only during the call. A sink result of -1 stops the run.
using RowSink = std::function<int(const std::string_view* cells)>;

// What a run tells besides its rows, for those who ask: how often each rule
// matched, and where the row being handed to the sink comes from. Filled
// only when a record is passed; the row fields hold during the sink call.
struct ExpansionRecord {
  std::vector<long long> matches;  // by rule number: the rows it matched
  long long rows = 0;              // rows emitted, the one being handed over included
  int input_row = -1;              // the input row it comes from, 0-based
  std::vector<int> chain;          // the rules that produced it, outermost first
  long long chain_changes = 0;     // counts the times `chain` changed from row to row
};

int expand_rows(Table* input, const RuleFile& rules, const RowSink& sink,
                ExpansionRecord* record = nullptr);

// The single steps on a work table used as a stack (its columns: the input's,
// then _TARGET, _INDEX, _USED).
int find_rule(Table* target, Table* work);
void apply_rule(Table* target, Table* action, Table* work);
