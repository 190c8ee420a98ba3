// The layout and row copy helpers: extra columns, shared names, header order,
// and the two rules of every row copy (no bookkeeping column, no empty cell).

#include <gtest/gtest.h>

#include "support/tables.h"
#include "tablecopy.h"

namespace {

using vela_test::dump_table;
using vela_test::table_with_columns;

TEST(CopyLayout, AddsSourceColumnsThenExtrasAndLeavesOneEmptyRow) {
  TablePtr source = table_with_columns({"A", "B"});
  TablePtr destination(create_table());
  copy_layout(source.get(), destination.get(), "_FIRST,_LAST");
  EXPECT_EQ(dump_table(destination.get()),
            "| A | B | _FIRST | _LAST |\n"
            "|  |  |  |  |\n");
}

TEST(CopyLayout, ExtraNameAlreadyPresentKeepsTheSourcePlace) {
  TablePtr source = table_with_columns({"A", "_USED", "B"});
  TablePtr destination(create_table());
  copy_layout(source.get(), destination.get(), "_TARGET,_INDEX,_USED");
  EXPECT_EQ(dump_table(destination.get()),
            "| A | _USED | B | _TARGET | _INDEX |\n"
            "|  |  |  |  |  |\n");
}

TEST(CopyLayout, ExtraListFollowsTheFieldSplitter) {
  TablePtr source(create_table());
  TablePtr destination(create_table());
  copy_layout(source.get(), destination.get(), "");
  EXPECT_EQ(destination->ncol, 0);
  EXPECT_EQ(destination->nrow, 0);

  copy_layout(source.get(), destination.get(), "C1,,C2,C3,C4,C5,C6");
  EXPECT_EQ(dump_table(destination.get()),
            "| C1 | C2 | C3 | C4 | C5 |\n"
            "|  |  |  |  |  |\n");
}

TEST(CopyHeader, CopiesKeywordsInOrderReplacingValuesInPlace) {
  TablePtr source(create_table());
  put_tab_key(source.get(), "TELESCOP", "T1");
  put_tab_key(source.get(), "COMMENT", "made by hand");
  TablePtr destination(create_table());
  put_tab_key(destination.get(), "COMMENT", "old");
  copy_header(source.get(), destination.get());
  ASSERT_EQ(destination->keynames.count, 2);
  EXPECT_STREQ(get_tab_keyname_bynum(destination.get(), 0), "COMMENT");
  EXPECT_STREQ(get_tab_keyval_bynum(destination.get(), 0), "made by hand");
  EXPECT_STREQ(get_tab_key(destination.get(), "TELESCOP"), "T1");
}

TEST(MoveTabrow, CopiesByNameButNeverEmptyCellsOrBookkeepingColumns) {
  TablePtr source = table_with_columns({"ONLY_SRC", "B", "A", "_X", "C"});
  for (auto [name, value] : {std::pair{"ONLY_SRC", "s"}, {"B", "b"}, {"A", "a"}, {"_X", "x"}}) {
    put_tab_cell(source.get(), name, 0, value);
  }
  TablePtr destination = table_with_columns({"A", "B", "C", "_X"});
  put_tab_cell(destination.get(), "C", 0, "kept");
  put_tab_cell(destination.get(), "_X", 0, "own");
  move_tabrow(source.get(), 0, destination.get(), 0);
  EXPECT_EQ(dump_table(destination.get()),
            "| A | B | C | _X |\n"
            "| a | b | kept | own |\n");

  // A source row with values only in bookkeeping columns creates no row.
  put_tab_cell(source.get(), "_X", 1, "x");
  move_tabrow(source.get(), 1, destination.get(), 1);
  EXPECT_EQ(destination->nrow, 1);
}

TEST(MoveTabrow, WithinOneTableAppendsACopyWhileStorageGrows) {
  // Each push makes the cell storage grow, which moves it under the strings
  // being copied unless they are copied out first.
  TablePtr stack = table_with_columns({"NAME", "_USED"});
  const std::string value(300, 'v');
  put_tab_cell(stack.get(), "NAME", 0, value);
  put_tab_cell(stack.get(), "_USED", 0, "0");
  for (int row = 0; row < 200; row++) move_tabrow(stack.get(), row, stack.get(), row + 1);
  ASSERT_EQ(stack->nrow, 201);
  EXPECT_EQ(get_tab_cell(stack.get(), "NAME", 200), value);
  EXPECT_STREQ(get_tab_cell(stack.get(), "_USED", 200), "");
}

}  // namespace
