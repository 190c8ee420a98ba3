// One step of expansion on a work table used as a stack: the next child of
// the matched top row, or the row's removal once its choices are used up.

#include <cstdlib>

#include <velalib/velastring.h>
#include "columns.h"
#include "expand.h"
#include "tablecopy.h"

namespace {

int number(Table* table, const char* column, int row) {
  const char* text = get_tab_cell(table, column, row);
  return text ? std::atoi(text) : 0;
}

}  // namespace

void apply_rule(Table* target, Table* action, Table* work) {
  int t = work->nrow - 1;
  int rule = number(work, col_target, t);
  int next = number(work, col_index, t);
  if (next <= number(target, col_last, rule)) {
    move_tabrow(work, t, work, t + 1);
    move_tabrow(action, next, work, t + 1);
    put_tab_cell(work, col_used, t + 1, itoa(rule));
    put_tab_cell(work, col_index, t, itoa(next + 1));
  } else {
    trunc_table(work, t);
  }
}
