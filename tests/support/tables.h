// Tables for tests: made with given columns, and rendered as text so that one
// assertion can check all of a Table.
#pragma once

#include <string>
#include <vector>

#include <loadfile/table.h>

namespace vela_test {

// A Table with the given columns (and the one empty row that adding leaves).
inline TablePtr table_with_columns(const std::vector<std::string>& columns) {
  TablePtr table(create_table());
  for (const auto& name : columns) add_tab_col(table.get(), name);
  return table;
}

// Layout:
//   one line per header keyword, in keyword order:  NAME=VALUE
//   one header line of the column names:            | A | B |
//   one line per row, cells in column order:        | x |  |
// An empty cell shows as nothing between its bars; a table without columns
// gives the header line "|". Text is written as it is stored (a multi-line
// value keeps its newlines), and a cell the Table cannot hand out shows as
// "(null)".
inline std::string dump_table(Table* table) {
  auto text = [](const char* s) { return std::string(s != nullptr ? s : "(null)"); };
  std::string out;
  for (int k = 0; k < table->keynames.count; ++k) {
    out +=
        text(get_tab_keyname_bynum(table, k)) + "=" + text(get_tab_keyval_bynum(table, k)) + "\n";
  }
  out += "|";
  for (int c = 0; c < table->ncol; ++c) out += " " + text(get_tab_colname(table, c)) + " |";
  out += "\n";
  for (int r = 0; r < table->nrow; ++r) {
    out += "|";
    for (int c = 0; c < table->ncol; ++c) out += " " + text(get_tab_cell_bynum(table, c, r)) + " |";
    out += "\n";
  }
  return out;
}

}  // namespace vela_test
