// move_tabrow: the one way a row's values travel between the tool's Tables.
// It sets cells but never empties them, and never carries a bookkeeping
// column, so the engine's and the parser's private columns stay their own.
#include <string>

#include "columns.h"
#include "tablecopy.h"

void move_tabrow(Table* source, int source_row, Table* destination, int destination_row) {
  const bool same = source == destination;
  for (int c = 0; c < source->ncol; c++) {
    const char* value = get_tab_cell_bynum(source, c, source_row);
    if (value == nullptr || *value == '\0') continue;
    const char* name = get_tab_colname(source, c);
    if (name == nullptr || is_bookkeeping(name)) continue;
    if (get_tab_colnum(destination, name) < 0) continue;
    if (same) {
      // Writing may move the Table's string storage, and a string to be
      // stored must not lie in the storage it is stored into: copy first.
      const std::string own_name(name);
      const std::string own_value(value);
      put_tab_cell(destination, own_name, destination_row, own_value);
    } else {
      put_tab_cell(destination, name, destination_row, value);
    }
  }
}
