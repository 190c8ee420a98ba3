// Table: header keywords with values, named columns and rows of string cells.
// The one data structure of the load file library. Every string passed in is
// copied; every string returned points into the Table's storage and stays
// valid only until the next addition of text to the same list.
#pragma once

#include <memory>
#include <string_view>

#include <loadfile/loderror.h>
#include <loadfile/text.h>

extern const char* const table_message[];

struct TableIndex;  // name lookup for columns; private to module table

struct Table {
  TextList keynames;
  TextList keyvals;
  TextList colnames;
  TextList cells;  // entry 0 is the shared empty cell; cell (r, c) is r*ncol+c+1
  int nrow = 0;
  int ncol = 0;
  std::unique_ptr<TableIndex> index;

  Table();
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
};

// Entry of `cells` for cell (row, c); computed wide, since rows times
// columns may pass what an entry number can hold. The reader and the
// expansion reach a row's cells through it where they know the row is whole.
inline long long tab_cell_entry(const Table* table, int row, int c) {
  return static_cast<long long>(row) * table->ncol + c + 1;
}

// A new empty Table, owned by the caller, who releases it with free_table
// (or holds it in a TablePtr).
Table* create_table();
void free_table(Table* table);

struct TableFree {
  void operator()(Table* t) const { free_table(t); }
};
using TablePtr = std::unique_ptr<Table, TableFree>;

int put_tab_key(Table* table, std::string_view name, std::string_view value);
int cat_tab_key(Table* table, std::string_view name, std::string_view text);
const char* get_tab_key(Table* table, std::string_view name);
const char* get_tab_keyname_bynum(Table* table, int k);
const char* get_tab_keyval_bynum(Table* table, int k);
int add_tab_col(Table* table, std::string_view name);
int get_tab_colnum(Table* table, std::string_view name);
const char* get_tab_colname(Table* table, int c);
int put_tab_cell(Table* table, std::string_view name, int row, std::string_view value);
// put_tab_cell for an existing column given by number: no name to look up,
// no column created ("Table column not found" when c is not below ncol).
int put_tab_cell_bynum(Table* table, int c, int row, std::string_view value);
int cat_tab_cell(Table* table, std::string_view name, int row, std::string_view text);
const char* get_tab_cell(Table* table, std::string_view name, int row);
const char* get_tab_cell_bynum(Table* table, int c, int row);
void trunc_table(Table* table, int n);
// Gives `to`, a Table with no column and no row, the columns of `from` in
// their order, and still no row: 0, or -1.
int copy_tab_columns(Table* to, const Table* from);
// Appends the rows of `from`, whose columns are those of `to` in the same
// order, after the rows of `to`: 0, or -1 (both as they were) when their
// layouts differ or the cells would not fit.
int append_tab_rows(Table* to, const Table* from);
