// Table: header keywords, named columns and rows of string cells, all kept in
// TextLists. Cell (r, c) is entry r * ncol + c + 1 of `cells`; entry 0 is the
// empty cell that every cell shows until it is written.
//
// Names are found through a hash index (nameindex.h) rather than a scan of
// the list, since every cell written or read by name looks its column up, and
// a load file may have very many columns.
#include <loadfile/table.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "nameindex.h"
#include "storage.h"

constinit thread_local const char* lod_error = nullptr;

const char* const table_message[] = {
    "Header keyword not found",   "Table column not found",  "Table row not found",
    "Cannot create table column", "Cannot create table row", "Table storage exhausted",
};

namespace {

enum TableMessage { kNoKeyword, kNoColumn, kNoRow, kNoNewColumn, kNoNewRow, kExhausted };

constexpr int kEmptyCell = 0;

int fail(TableMessage m) {
  lod_error = table_message[m];
  return -1;
}

const char* fail_text(TableMessage m) {
  lod_error = table_message[m];
  return nullptr;
}

}  // namespace

struct TableIndex {
  NameIndex keys;
  NameIndex columns;
};

namespace {

int keyword_of(Table* table, std::string_view name) {
  return table->index->keys.find(table->keynames, name);
}

int column_of(Table* table, std::string_view name) {
  return table->index->columns.find(table->colnames, name);
}

// Entry number of an existing cell, or -1 past what the list holds; a
// table whose counts were set by hand then fails instead of reading astray.
int existing_cell(const Table* table, int row, int c) {
  long long entry = tab_cell_entry(table, row, c);
  return entry < table->cells.count ? static_cast<int>(entry) : -1;
}

const char* cell_text(Table* table, int row, int c) {
  int entry = existing_cell(table, row, c);
  return entry >= 0 ? text_at(table->cells, entry) : fail_text(kNoRow);
}

// Makes row `row` (== nrow) exist with every cell empty, reusing entries left
// by removed rows. False when the cells would not fit in the list.
bool create_row(Table* table, int row) {
  if (tab_cell_entry(table, row, table->ncol - 1) >= INT_MAX) return false;
  int first = static_cast<int>(tab_cell_entry(table, row, 0));
  if (share_text(table->cells, kEmptyCell, first, table->ncol) < 0) return false;
  table->nrow = row + 1;
  return true;
}

// Appends column `name`; when row 0 exists it gets an empty cell for it.
int create_column(Table* table, std::string_view name) {
  int c = add_text(table->colnames, name);
  if (c < 0) return fail(kExhausted);
  table->ncol = c + 1;
  if (table->nrow == 1 && copy_text(table->cells, kEmptyCell, c + 1) < 0) return fail(kExhausted);
  return c;
}

// put_tab_cell_bynum for row `nrow`, which it creates; kept apart, as it
// comes once a row.
[[gnu::noinline]] int put_new_row_cell(Table* table, int c, int row, std::string_view value) {
  if (!create_row(table, row)) return fail(kExhausted);
  if (put_text(table->cells, existing_cell(table, row, c), value) < 0) {
    table->nrow = row;
    return fail(kExhausted);
  }
  return 0;
}

}  // namespace

int copy_tab_columns(Table* to, const Table* from) {
  if (to->ncol != 0 || to->nrow != 0) return fail(kNoNewColumn);
  for (int c = 0; c < from->ncol; ++c) {
    if (create_column(to, text_at(from->colnames, c)) < 0) return -1;
  }
  return 0;
}

int append_tab_rows(Table* to, const Table* from) {
  // Both must hold exactly their rows' cells, no entries left by removed rows.
  if (from->ncol != to->ncol || to->cells.count != tab_cell_entry(to, to->nrow, 0) ||
      from->cells.count != tab_cell_entry(from, from->nrow, 0)) {
    return fail(kNoRow);
  }
  if (join_text(to->cells, from->cells, 1) < 0) return fail(kExhausted);
  to->nrow += from->nrow;
  return 0;
}

Table::Table() : index(new (std::nothrow) TableIndex) {
  if (!index) out_of_memory();
  init_text(keynames, 10, 100);
  init_text(keyvals, 10, 400);
  init_text(colnames, 10, 100);
  init_text(cells, 100, 4000);
  add_text(cells, "");  // kEmptyCell
}

Table::~Table() = default;

Table* create_table() {
  Table* table = new (std::nothrow) Table;
  if (table == nullptr) out_of_memory();
  return table;
}

void free_table(Table* table) {
  delete table;
}

int put_tab_key(Table* table, std::string_view name, std::string_view value) {
  int k = keyword_of(table, name);
  if (k >= 0) return put_text(table->keyvals, k, value) < 0 ? fail(kExhausted) : 0;
  if (add_text(table->keyvals, value) < 0) return fail(kExhausted);
  if (add_text(table->keynames, name) < 0) {
    // Keep the two lists the same length: forget the value just added.
    --table->keyvals.count;
    --table->keyvals.offsets.used;
    return fail(kExhausted);
  }
  return 0;
}

int cat_tab_key(Table* table, std::string_view name, std::string_view text) {
  int k = keyword_of(table, name);
  if (k < 0) return fail(kNoKeyword);
  return cat_text(table->keyvals, k, text) < 0 ? fail(kExhausted) : 0;
}

const char* get_tab_key(Table* table, std::string_view name) {
  int k = keyword_of(table, name);
  if (k < 0) return fail_text(kNoKeyword);
  return text_at(table->keyvals, k);
}

const char* get_tab_keyname_bynum(Table* table, int k) {
  const char* name = get_text(table->keynames, k);
  return name != nullptr ? name : fail_text(kNoKeyword);
}

const char* get_tab_keyval_bynum(Table* table, int k) {
  const char* value = get_text(table->keyvals, k);
  return value != nullptr ? value : fail_text(kNoKeyword);
}

int add_tab_col(Table* table, std::string_view name) {
  // Tested first: with two rows no column may be asked for, known or not.
  if (table->nrow > 1) return fail(kNoNewColumn);
  int c = column_of(table, name);
  if (c >= 0) return c;
  c = create_column(table, name);
  if (c < 0) return -1;
  // A table laid out this way holds one row of empty cells. When row 0 did not
  // exist, all of it is made afresh: its entries may hold cells of a row that
  // trunc_table removed.
  if (table->nrow == 0 && !create_row(table, 0)) return fail(kExhausted);
  return c;
}

int get_tab_colnum(Table* table, std::string_view name) {
  int c = column_of(table, name);
  return c >= 0 ? c : fail(kNoColumn);
}

const char* get_tab_colname(Table* table, int c) {
  const char* name = get_text(table->colnames, c);
  return name != nullptr ? name : fail_text(kNoKeyword);
}

int put_tab_cell(Table* table, std::string_view name, int row, std::string_view value) {
  int c = column_of(table, name);
  if (c < 0) {
    if (table->nrow > 1) return fail(kNoNewColumn);
    c = create_column(table, name);
    if (c < 0) return -1;
  }
  // A column created above stays even when the row proves out of range.
  return put_tab_cell_bynum(table, c, row, value);
}

int put_tab_cell_bynum(Table* table, int c, int row, std::string_view value) {
  if (c < 0 || c >= table->ncol) return fail(kNoColumn);
  if (row < 0 || row > table->nrow) return fail(kNoNewRow);
  if (row == table->nrow) return put_new_row_cell(table, c, row, value);
  return put_text(table->cells, existing_cell(table, row, c), value) < 0 ? fail(kExhausted) : 0;
}

int cat_tab_cell(Table* table, std::string_view name, int row, std::string_view text) {
  int c = column_of(table, name);
  if (c < 0) return fail(kNoColumn);
  if (row < 0 || row >= table->nrow) return fail(kNoRow);
  return cat_text(table->cells, existing_cell(table, row, c), text) < 0 ? fail(kExhausted) : 0;
}

const char* get_tab_cell(Table* table, std::string_view name, int row) {
  int c = column_of(table, name);
  if (c < 0) return fail_text(kNoColumn);
  if (row < 0 || row >= table->nrow) return fail_text(kNoRow);
  return cell_text(table, row, c);
}

const char* get_tab_cell_bynum(Table* table, int c, int row) {
  if (c < 0 || c >= table->ncol) return fail_text(kNoColumn);
  if (row < 0 || row >= table->nrow) return fail_text(kNoRow);
  return cell_text(table, row, c);
}

void trunc_table(Table* table, int n) {
  // A negative count is no count at all: the table is left as it is.
  if (n >= 0 && n < table->nrow) table->nrow = n;
}
