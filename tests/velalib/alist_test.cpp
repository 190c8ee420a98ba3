#include <velalib/alist.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <velalib/rdlines.h>
#include "support/reports.h"

namespace {

using AlistPtr = std::unique_ptr<Alist, decltype([](Alist* list) { free_alist(list); })>;
using Strings = std::vector<std::string>;

AlistPtr list_of(const Strings& keys_and_values) {
  AlistPtr list(create_alist());
  for (std::size_t i = 0; i + 1 < keys_and_values.size(); i += 2) {
    add_alist(list.get(), keys_and_values[i].c_str(), keys_and_values[i + 1].c_str());
  }
  return list;
}

Strings pairs_of(Alist* list) {
  Strings out;
  char* key;
  char* value;
  for (int i = 0; each_alist(list, i, &key, &value) == 0; ++i) out.insert(out.end(), {key, value});
  return out;
}

// All logical lines that rdlines gives for `text`. The stream is closed also
// when a report ends the reading.
Strings logical_lines(const std::string& text, int maxlen = 511) {
  std::unique_ptr<std::FILE, decltype(&std::fclose)> stream(
      fmemopen(const_cast<char*>(text.data()), text.size(), "r"), &std::fclose);
  Strings out;
  char buf[512];
  while (rdlines(stream.get(), buf, maxlen) == 0) out.emplace_back(buf);
  return out;
}

}  // namespace

TEST(Alist, AddReplacesInPlaceAndEachWalksInOrder) {
  AlistPtr list = list_of({"a", "1", "b", "2", "a", "3", "", ""});
  EXPECT_STREQ(find_alist(list.get(), "a"), "3");
  EXPECT_EQ(find_alist(list.get(), "A"), nullptr);
  EXPECT_EQ(pairs_of(list.get()), (Strings{"a", "3", "b", "2", "", ""}));
  char* key = list->keys.chars.data;
  char* value = key;
  EXPECT_EQ(each_alist(list.get(), 3, &key, &value), -1);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(value, nullptr);
}

// Both lists start with room for 10 entries and 100 characters and grow in
// those steps, figures a caller can read in the record.
TEST(Alist, ListsGrowInStepsOfTenEntriesAndHundredCharacters) {
  AlistPtr list(create_alist());
  for (const TextList* text : {&list->keys, &list->values}) {
    EXPECT_EQ(text->offsets.capacity, 10);
    EXPECT_EQ(text->offsets.increment, 10);
    EXPECT_EQ(text->chars.capacity, 100);
    EXPECT_EQ(text->chars.increment, 100);
  }
}

// The edges of the installed interface: a null list to free, an index
// below the first, null places for what is not wanted, and the entries
// beside one whose value is replaced.
TEST(Alist, NullAndNegativeArguments) {
  free_alist(nullptr);
  AlistPtr list = list_of({"a", "1", "b", "2", "c", "3"});
  char* key = list->keys.chars.data;
  EXPECT_EQ(each_alist(list.get(), -1, &key, nullptr), -1);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(each_alist(list.get(), 2, nullptr, nullptr), 0);
  int index = -4;
  EXPECT_STREQ(match_alist(list.get(), "*", &index), "1");
  EXPECT_EQ(index, 1);
  add_alist(list.get(), "b", "two, longer than before");
  EXPECT_EQ(pairs_of(list.get()), (Strings{"a", "1", "b", "two, longer than before", "c", "3"}));
}

TEST(Alist, PatternLookups) {
  AlistPtr keys = list_of({"x1", "one", "y", "why", "x2", "two"});
  int index = 0;
  EXPECT_STREQ(match_alist(keys.get(), "x*", &index), "one");
  EXPECT_EQ(index, 1);
  EXPECT_STREQ(match_alist(keys.get(), "x*", &index), "two");
  EXPECT_EQ(index, 3);
  EXPECT_EQ(match_alist(keys.get(), "x*", &index), nullptr);

  AlistPtr patterns = list_of({"b*", "B", "a*", "A", "abc", "exact"});
  EXPECT_STREQ(patmatch_alist(patterns.get(), "abc"), "A");
  EXPECT_EQ(patmatch_alist(patterns.get(), "cab"), nullptr);
}

TEST(ReadAlist, KeysValuesCommentsAndReplacement) {
  AlistPtr list(read_alist(ROWFAN_TEST_DATA "/alist.txt"));
  EXPECT_EQ(pairs_of(list.get()),
            (Strings{"alpha", "3", "beta", "two words", "gamma", "", "delta", "joined"}));
}

TEST(ReadAlist, MissingFileIsFatal) {
  vela_test::Outcome run = vela_test::catch_report([] { read_alist("/nonexistent/x.lst"); });
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Cannot open file (/nonexistent/x.lst)\n");
}

TEST(Rdlines, JoinsSkipsAndKeepsLeadingBlanks) {
  EXPECT_EQ(logical_lines("first \\\n   second\n"), (Strings{"first second"}));
  EXPECT_EQ(logical_lines("  indented\n"), (Strings{"  indented"}));
  EXPECT_EQ(logical_lines("# c\n\n \t\nx\n  # c\ny"), (Strings{"x", "y"}));
  // A blank or comment line ends a continued line and is consumed.
  EXPECT_EQ(logical_lines("a\\\n\nb\n"), (Strings{"a", "b"}));
  EXPECT_EQ(logical_lines("a\\\n#b\nc\n"), (Strings{"a", "c"}));
  EXPECT_EQ(logical_lines("a\\"), (Strings{"a"}));
  // A logical line longer than maxlen is cut.
  EXPECT_EQ(logical_lines("abc\\\ndef\nxy\n", 4), (Strings{"abcd", "xy"}));
  // A logical line that comes out empty does not end the file.
  EXPECT_EQ(logical_lines("a\n\\\n\nb\n"), (Strings{"a", "b"}));
  std::string longest(509, 'x');
  EXPECT_EQ(logical_lines(longest + "\n"), (Strings{longest}));
}

TEST(Rdlines, LineOf510CharactersIsFatal) {
  std::string text = std::string(40, 'a') + std::string(470, 'b') + "\n";
  vela_test::Outcome run = vela_test::catch_report([&] { logical_lines(text); });
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "String too long for internal buffer (" + std::string(40, 'a') + " ...)\n");
}

TEST(LineMarks, FirstCharAndIsContinued) {
  EXPECT_EQ(first_char("   "), 3);
  EXPECT_EQ(first_char(""), 0);
  EXPECT_EQ(first_char(" \t\x80x"), 3);
  for (auto [in, result, out] :
       {std::tuple{"x\\y", 0, "x\\y"}, {"x\\  ", 1, "x"}, {"a\\ \\", 1, "a\\ "}, {"\\", 1, ""}}) {
    std::string s = in;
    EXPECT_EQ(is_continued(s.data()), result) << in;
    EXPECT_STREQ(s.c_str(), out) << in;
  }
}
