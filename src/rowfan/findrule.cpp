// One step of expansion on a work table used as a stack: which rule governs
// the top row. The expansion itself runs on the compiled rule set and row
// stack of the engine; this step, with apply_rule, is the same expansion
// told one row at a time, as plainly as it can be.

#include <cstdlib>
#include <string>
#include <string_view>

#include <velalib/velastring.h>
#include "columns.h"
#include "expand.h"

namespace {

// A cell's text, or the empty text for a cell that is not there.
std::string_view cell(Table* table, std::string_view column, int row) {
  const char* text = get_tab_cell(table, column, row);
  return text ? std::string_view(text) : std::string_view();
}

bool rule_matches(Table* target, int rule, Table* work, int t) {
  bool compared = false;
  for (int c = 0; c < target->ncol; c++) {
    const char* value = get_tab_cell_bynum(target, c, rule);
    if (value == nullptr || *value == '\0') continue;
    const char* name = get_tab_colname(target, c);
    if (get_tab_colnum(work, name) < 0) continue;
    compared = true;
    if (cell(work, name, t) != value) return false;
  }
  return compared;
}

}  // namespace

int find_rule(Table* target, Table* work) {
  int t = work->nrow - 1;
  if (t < 0) return -1;
  std::string_view matched = cell(work, col_target, t);
  if (!matched.empty()) return std::atoi(matched.data());
  std::string_view used = cell(work, col_used, t);
  int excluded = used.empty() ? -1 : std::atoi(used.data());
  for (int i = 0; i < target->nrow; i++) {
    if (i == excluded || !rule_matches(target, i, work, t)) continue;
    // The rule's `_FIRST` text is copied before it is written into the work
    // table, as a text read from a table must be.
    std::string first(cell(target, col_first, i));
    put_tab_cell(work, col_index, t, first);
    put_tab_cell(work, col_target, t, itoa(i));
    return i;
  }
  return -1;
}
