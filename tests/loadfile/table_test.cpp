#include <loadfile/table.h>

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "../../src/common/openhash.h"
#include "support/tables.h"

namespace {

using vela_test::dump_table;
using vela_test::table_with_columns;

TEST(Table, NewTableIsEmpty) {
  TablePtr table(create_table());
  EXPECT_EQ(table->nrow, 0);
  EXPECT_EQ(table->ncol, 0);
  EXPECT_EQ(table->cells.count, 1);
  EXPECT_EQ(get_tab_cell_bynum(table.get(), 0, 0), nullptr);
  EXPECT_STREQ(lod_error, "Table column not found");
  free_table(nullptr);
}

TEST(Table, AddColumnMakesRowZeroOfEmptyCells) {
  TablePtr table(create_table());
  EXPECT_EQ(add_tab_col(table.get(), "A"), 0);
  EXPECT_EQ(add_tab_col(table.get(), "B"), 1);
  EXPECT_EQ(add_tab_col(table.get(), "A"), 0);
  EXPECT_EQ(dump_table(table.get()), "| A | B |\n|  |  |\n");

  put_tab_cell(table.get(), "A", 1, "x");
  EXPECT_EQ(add_tab_col(table.get(), "A"), -1);  // two rows: refused even if known
  EXPECT_STREQ(lod_error, "Cannot create table column");
  EXPECT_EQ(add_tab_col(table.get(), "C"), -1);
  EXPECT_EQ(table->ncol, 2);
}

TEST(Table, PutCellCreatesColumnsWhileAtMostOneRow) {
  TablePtr table = table_with_columns({"A", "B"});
  EXPECT_EQ(put_tab_cell(table.get(), "A", 0, "a0"), 0);
  EXPECT_EQ(put_tab_cell(table.get(), "C", 1, "x"), 0);
  EXPECT_EQ(dump_table(table.get()),
            "| A | B | C |\n"
            "| a0 |  |  |\n"
            "|  |  | x |\n");
  EXPECT_EQ(put_tab_cell(table.get(), "D", 0, "y"), -1);
  EXPECT_STREQ(lod_error, "Cannot create table column");
  EXPECT_EQ(table->ncol, 3);
}

TEST(Table, RowsAreCreatedOnlyInOrder) {
  TablePtr table = table_with_columns({"A", "B"});
  EXPECT_EQ(put_tab_cell(table.get(), "B", 2, "x"), -1);
  EXPECT_STREQ(lod_error, "Cannot create table row");
  lod_error = nullptr;
  EXPECT_EQ(put_tab_cell(table.get(), "B", -1, "x"), -1);
  EXPECT_STREQ(lod_error, "Cannot create table row");
  EXPECT_EQ(put_tab_cell(table.get(), "B", 1, "x"), 0);
  EXPECT_EQ(table->nrow, 2);
  EXPECT_STREQ(get_tab_cell(table.get(), "A", 1), "");
  EXPECT_STREQ(get_tab_cell(table.get(), "B", 1), "x");
}

TEST(Table, FailedColumnWriteKeepsTheNewColumn) {
  TablePtr table(create_table());
  EXPECT_EQ(put_tab_cell(table.get(), "A", 1, "x"), -1);
  EXPECT_EQ(table->ncol, 1);
  EXPECT_EQ(table->nrow, 0);
  EXPECT_EQ(put_tab_cell(table.get(), "A", 0, "x"), 0);
  EXPECT_EQ(dump_table(table.get()), "| A |\n| x |\n");
}

TEST(Table, KeywordsKeepTheirFirstPosition) {
  TablePtr table(create_table());
  put_tab_key(table.get(), "OBJECT", "m31");
  put_tab_key(table.get(), "DATE", "2001");
  put_tab_key(table.get(), "OBJECT", "m33");
  EXPECT_EQ(cat_tab_key(table.get(), "DATE", "-05"), 0);
  EXPECT_EQ(dump_table(table.get()), "OBJECT=m33\nDATE=2001-05\n|\n");
  EXPECT_EQ(get_tab_key(table.get(), "object"), nullptr);
  EXPECT_STREQ(lod_error, "Header keyword not found");
  EXPECT_EQ(cat_tab_key(table.get(), "NONE", "x"), -1);
}

TEST(Table, LookupsByNumberReportTheTablesOwnMessage) {
  TablePtr table = table_with_columns({"A"});
  put_tab_key(table.get(), "K", "v");
  for (int n : {-1, 1}) {
    lod_error = nullptr;
    EXPECT_EQ(get_tab_keyname_bynum(table.get(), n), nullptr);
    EXPECT_STREQ(lod_error, "Header keyword not found");
    lod_error = nullptr;
    EXPECT_EQ(get_tab_keyval_bynum(table.get(), n), nullptr);
    EXPECT_STREQ(lod_error, "Header keyword not found");
    lod_error = nullptr;
    EXPECT_EQ(get_tab_colname(table.get(), n), nullptr);
    EXPECT_STREQ(lod_error, "Header keyword not found");
    lod_error = nullptr;
    EXPECT_EQ(get_tab_cell_bynum(table.get(), n, 0), nullptr);
    EXPECT_STREQ(lod_error, "Table column not found");
    lod_error = nullptr;
    EXPECT_EQ(get_tab_cell_bynum(table.get(), 0, n), nullptr);
    EXPECT_STREQ(lod_error, "Table row not found");
  }
  // The column is tested before the row.
  EXPECT_EQ(get_tab_cell(table.get(), "Z", 7), nullptr);
  EXPECT_STREQ(lod_error, "Table column not found");
  EXPECT_EQ(get_tab_colnum(table.get(), "Z"), -1);
  EXPECT_STREQ(lod_error, "Table column not found");
  // Success leaves the last message in place.
  EXPECT_EQ(get_tab_colnum(table.get(), "A"), 0);
  EXPECT_STREQ(lod_error, "Table column not found");
}

TEST(Table, CatCellExtendsOnlyExistingRowsAndOnlyThatCell) {
  TablePtr table = table_with_columns({"A", "B"});
  // Both cells of row 0 still show the shared empty cell.
  EXPECT_EQ(cat_tab_cell(table.get(), "A", 0, "x"), 0);
  EXPECT_EQ(cat_tab_cell(table.get(), "A", 0, "y"), 0);
  EXPECT_EQ(dump_table(table.get()), "| A | B |\n| xy |  |\n");
  EXPECT_EQ(cat_tab_cell(table.get(), "A", 1, "x"), -1);
  EXPECT_STREQ(lod_error, "Table row not found");
  EXPECT_EQ(cat_tab_cell(table.get(), "A", -1, "x"), -1);
  EXPECT_EQ(cat_tab_cell(table.get(), "Z", 0, "x"), -1);
  EXPECT_STREQ(lod_error, "Table column not found");
  EXPECT_EQ(table->nrow, 1);
}

TEST(Table, TruncatedRowsComeBackEmpty) {
  TablePtr table = table_with_columns({"A", "B"});
  for (int r = 0; r < 3; ++r) {
    put_tab_cell(table.get(), "A", r, "a" + std::to_string(r));
    put_tab_cell(table.get(), "B", r, "b" + std::to_string(r));
  }
  trunc_table(table.get(), 5);
  trunc_table(table.get(), -1);
  EXPECT_EQ(table->nrow, 3);
  trunc_table(table.get(), 1);
  EXPECT_EQ(get_tab_cell(table.get(), "A", 1), nullptr);
  put_tab_cell(table.get(), "B", 1, "new");
  EXPECT_EQ(dump_table(table.get()), "| A | B |\n| a0 | b0 |\n|  | new |\n");

  // Columns again after truncating to no rows: row 0 is laid out afresh.
  trunc_table(table.get(), 0);
  EXPECT_EQ(add_tab_col(table.get(), "C"), 2);
  EXPECT_EQ(dump_table(table.get()), "| A | B | C |\n|  |  |  |\n");
}

TEST(Table, RowsBeyondThirtyTwoBitCellNumbersAreRefused) {
  TablePtr table = table_with_columns({"A", "B", "C"});
  // Pretend to hold INT_MAX / 3 rows; no cell beyond the real ones is touched.
  table->nrow = INT_MAX / 3;
  EXPECT_EQ(put_tab_cell(table.get(), "A", table->nrow, "x"), -1);
  EXPECT_STREQ(lod_error, "Table storage exhausted");
  EXPECT_EQ(table->nrow, INT_MAX / 3);
  EXPECT_EQ(get_tab_cell(table.get(), "C", table->nrow - 1), nullptr);
  table->nrow = 1;
}

// A row of empty cells that cannot be laid out is not reported as made: here
// the list of cells has lost, by hand, the empty cell the row would show.
TEST(Table, ColumnWhoseRowCannotBeLaidOutFails) {
  TablePtr table(create_table());
  table->cells.count = 0;
  lod_error = nullptr;
  EXPECT_EQ(add_tab_col(table.get(), "A"), -1);
  EXPECT_STREQ(lod_error, "Table storage exhausted");
  EXPECT_EQ(table->nrow, 0);
  table->cells.count = 1;
}

// The name index finds every one of many columns, first match winning.
TEST(Table, ManyColumnsInTheFirstRowAreAllFound) {
  constexpr int kColumns = 500000;
  TablePtr table(create_table());
  for (int c = 0; c < kColumns; ++c) {
    ASSERT_EQ(put_tab_cell(table.get(), "C" + std::to_string(c), 0, std::to_string(c)), 0);
  }
  EXPECT_EQ(table->ncol, kColumns);
  EXPECT_EQ(get_tab_colnum(table.get(), "C0"), 0);
  EXPECT_EQ(get_tab_colnum(table.get(), "C499999"), kColumns - 1);
  EXPECT_STREQ(get_tab_cell(table.get(), "C123456", 0), "123456");
}

// The hash table under the name index: entries under one hash are told apart
// by their test, and a table moved into another keeps its entries.
TEST(OpenHash, EntriesUnderTheSameHashAreToldApart) {
  struct Slot {
    std::size_t hash = 0;
    int key = -1;
    bool is_free() const { return key < 0; }
  };
  using Hash = OpenHash<Slot, kHashHalfFull, 8>;
  auto key_is = [](int key) { return [key](const Slot& s) { return s.key == key; }; };
  Hash moved;
  for (int key : {1, 2}) {
    bool added = false;
    moved.claim(5, key_is(key), &added).key = key;
    EXPECT_TRUE(added) << key;
  }
  Hash hash;
  hash = std::move(moved);
  EXPECT_EQ(hash.used(), 2u);
  for (int key : {1, 2}) {
    const Slot* slot = hash.find(5, key_is(key));
    ASSERT_NE(slot, nullptr) << key;
    EXPECT_EQ(slot->key, key);
  }
  EXPECT_EQ(hash.find(5, key_is(3)), nullptr);
}

}  // namespace
