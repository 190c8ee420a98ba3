#include <loadfile/text.h>

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include <loadfile/loderror.h>

namespace {

constexpr const char* kOutOfBounds = "Text line index out of bounds";

struct TextListTest : testing::Test {
  TextListTest() { init_text(list, 2, 8); }
  ~TextListTest() override { free_text(list); }
  std::string text(int i) { return get_text(list, i); }
  TextList list;
};

TEST_F(TextListTest, PutAppendsOnlyAtCount) {
  EXPECT_EQ(put_text(list, 0, "a"), 0);
  EXPECT_EQ(put_text(list, 1, "b"), 1);
  lod_error = nullptr;
  EXPECT_EQ(put_text(list, 3, "c"), -1);
  EXPECT_STREQ(lod_error, kOutOfBounds);
  lod_error = nullptr;
  EXPECT_EQ(put_text(list, -1, "c"), -1);
  EXPECT_STREQ(lod_error, kOutOfBounds);
  EXPECT_EQ(list.count, 2);
  EXPECT_EQ(list.offsets.used, 2);
}

TEST_F(TextListTest, GetOutsideTheListIsNullWithMessage) {
  add_text(list, "a");
  lod_error = nullptr;
  EXPECT_EQ(get_text(list, -1), nullptr);
  EXPECT_STREQ(lod_error, kOutOfBounds);
  lod_error = nullptr;
  EXPECT_EQ(get_text(list, 1), nullptr);
  EXPECT_STREQ(lod_error, kOutOfBounds);
}

// Whatever changes one entry, by a copy that fits or by one that grows the
// storage, leaves the entries beside it as they were.
TEST_F(TextListTest, ChangingAnEntryLeavesItsNeighbours) {
  const auto change = {
      +[](TextList& l) { return put_text(l, 1, "B"); },
      +[](TextList& l) { return put_text(l, 1, std::string(50, 'B')); },
      +[](TextList& l) { return cat_text(l, 1, "+"); },
      +[](TextList& l) { return cat_text(l, 1, std::string(50, '+')); },
      +[](TextList& l) { return copy_text(l, 2, 1); },
  };
  for (auto op : change) {
    free_text(list);
    init_text(list, 2, 8);
    for (const char* s : {"a", "b", "c"}) add_text(list, s);
    EXPECT_EQ(op(list), 1);
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(text(0), "a");
    EXPECT_EQ(text(2), "c");
    EXPECT_NE(text(1), "b");
  }
}

TEST_F(TextListTest, CopiedEntriesShareUntilOneIsReplaced) {
  add_text(list, "one");
  add_text(list, "two");
  int used = list.chars.used;
  EXPECT_EQ(copy_text(list, 0, 2), 2);
  EXPECT_EQ(list.chars.used, used);  // no characters copied
  EXPECT_EQ(text(2), "one");
  put_text(list, 2, "three");
  EXPECT_EQ(text(0), "one");

  EXPECT_EQ(copy_text(list, 1, 0), 0);  // repoints, count unchanged
  EXPECT_EQ(list.count, 3);
  EXPECT_EQ(text(0), "two");
  EXPECT_EQ(copy_text(list, 3, 0), -1);
  EXPECT_EQ(copy_text(list, 0, 4), -1);
}

TEST_F(TextListTest, CatExtendsTheLastTextInPlace) {
  add_text(list, "ab");
  int used = list.chars.used;
  EXPECT_EQ(cat_text(list, 0, "cde"), 0);
  EXPECT_EQ(list.chars.used, used + 3);
  EXPECT_EQ(text(0), "abcde");
}

TEST_F(TextListTest, CatOnAnEarlierEntryMovesItToTheEnd) {
  add_text(list, "ab");
  add_text(list, "x");
  int used = list.chars.used;
  EXPECT_EQ(cat_text(list, 0, "cd"), 0);
  EXPECT_EQ(list.chars.used, used + 2 + 1 + 2);
  EXPECT_EQ(text(0), "abcd");
  EXPECT_EQ(text(1), "x");
  EXPECT_STREQ(list.chars.data, "ab");  // the earlier text stays behind
  EXPECT_EQ(cat_text(list, 2, "z"), -1);
}

TEST_F(TextListTest, CatOnSharedLastTextLeavesTheOtherEntryAlone) {
  add_text(list, "ab");
  copy_text(list, 0, 1);
  EXPECT_EQ(cat_text(list, 1, "c"), 1);
  EXPECT_EQ(text(0), "ab");
  EXPECT_EQ(text(1), "abc");
  EXPECT_EQ(cat_text(list, 1, "d"), 1);  // now its own, so in place
  EXPECT_EQ(text(1), "abcd");
}

// The same when a new row of entries shows the last text, as a table's
// empty cell is shown by every cell not yet written.
TEST_F(TextListTest, CatOnALastTextSharedByARowLeavesTheRowAlone) {
  add_text(list, "ab");
  EXPECT_EQ(share_text(list, 0, 1, 3), 1);
  EXPECT_EQ(cat_text(list, 0, "c"), 0);
  EXPECT_EQ(text(0), "abc");
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(text(i), "ab") << i;
}

TEST_F(TextListTest, JoinFromPastTheEndOfTheOtherListFailsUnchanged) {
  TextList from;
  init_text(from, 2, 8);
  add_text(from, "x");
  add_text(list, "a");
  lod_error = nullptr;
  EXPECT_EQ(join_text(list, from, 2), -1);
  EXPECT_STREQ(lod_error, kOutOfBounds);
  EXPECT_EQ(list.count, 1);
  EXPECT_EQ(list.chars.used, 2);
  free_text(from);
}

TEST_F(TextListTest, CatMayAppendTheEntryToItself) {
  add_text(list, "abcdef");
  cat_text(list, 0, get_text(list, 0));
  EXPECT_EQ(text(0), "abcdefabcdef");
}

TEST_F(TextListTest, FindIsExactCaseSensitiveAndLowestFirst) {
  const char* before = "untouched";
  lod_error = before;
  EXPECT_EQ(find_text(list, "a"), -1);
  for (const char* s : {"A", "AB", "x", "y", "B", "x"}) add_text(list, s);
  EXPECT_EQ(find_text(list, "x"), 2);
  EXPECT_EQ(find_text(list, "a"), -1);
  EXPECT_EQ(find_text(list, "AB"), 1);
  EXPECT_EQ(find_text(list, "ABC"), -1);
  EXPECT_EQ(find_text(list, ""), -1);
  EXPECT_EQ(lod_error, before);
}

TEST_F(TextListTest, ExhaustedStorageFailsWithoutChangingTheList) {
  add_text(list, "a");
  int used = list.chars.used, capacity = list.chars.capacity;
  list.chars.used = list.chars.capacity = INT_MAX - 1;
  lod_error = nullptr;
  EXPECT_EQ(add_text(list, "bb"), -1);
  EXPECT_STREQ(lod_error, "Text storage exhausted");
  EXPECT_EQ(list.count, 1);
  list.chars.used = used;
  list.chars.capacity = capacity;
}

}  // namespace
