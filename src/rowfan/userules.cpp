// The Table-facing entries of the expansion: every input row becomes its
// output rows, depth first. The rules are compiled once per run (ruleset)
// and the rows expanded on a stack (expansion); find_rule and apply_rule
// tell the same expansion one step at a time on a work Table.

#include <string>
#include <vector>

#include "columns.h"
#include "expand.h"
#include "expansion.h"
#include "ruleset.h"

int expand_rows(Table* input, const RuleFile& rules, const RowSink& sink, ExpansionRecord* record) {
  Table* target = rules.target.get();
  if (record) record->matches.assign(target->nrow > 0 ? target->nrow : 0, 0);
  if (input->nrow <= 0) return 0;
  RuleSet set;
  build_rule_set(set, input, target, rules.action.get());
  return run_expansion(set, rules, input, sink, record);
}

void use_rules(Table* input, Table* output, const RuleFile& rules) {
  // An input without rows gives an output without rows, not the one empty
  // row that laying out the output leaves.
  if (input->nrow <= 0) {
    trunc_table(output, 0);
    return;
  }
  std::vector<std::string> names;
  for (int c = 0; c <= input->ncol; c++) {
    const char* name = get_tab_colname(output, c);
    names.emplace_back(name ? name : col_expansion_number);
  }
  int k = 0;
  expand_rows(input, rules, [&](const std::string_view* cells) {
    for (int c = 0; c <= input->ncol; c++) {
      if (!cells[c].empty()) put_tab_cell(output, names[c], k, cells[c]);
    }
    k++;
    return 0;
  });
}
