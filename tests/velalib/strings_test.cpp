#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <velalib/velastring.h>

TEST(BoundedCopy, SafecopyAndSafecatLimitTheWholeResult) {
  char buf[16] = "zzzzzzzzzzzzzzz";
  safecopy(buf, "abcdef", 3);
  EXPECT_STREQ(buf, "abc");
  safecopy(buf, "abcdef", 0);
  EXPECT_STREQ(buf, "");
  std::strcpy(buf, "abc");
  safecat(buf, "defgh", 5);
  EXPECT_STREQ(buf, "abcde");
  safecat(buf, "xyz", 3);  // already longer than the limit
  EXPECT_STREQ(buf, "abcde");
}

TEST(Itoa, FormatsIntoOneSharedBuffer) {
  char* first = itoa(-42);
  EXPECT_STREQ(first, "-42");
  EXPECT_STREQ(itoa(-2147483647 - 1), "-2147483648");
  EXPECT_STREQ(first, "-2147483648");
}

// All `maxfields` entries that strsplit gives for a copy of `text`.
std::vector<std::string> split(int sep, std::string text, int maxfields) {
  std::vector<char*> fields(maxfields, nullptr);
  strsplit(sep, text.data(), fields.data(), maxfields);
  return {fields.begin(), fields.end()};
}
using Fields = std::vector<std::string>;

TEST(Strsplit, FieldsQuotesAndEmptyEntries) {
  EXPECT_EQ(split(' ', "key  value more", 2), (Fields{"key", "value"}));
  EXPECT_EQ(split(',', "a,,b", 5), (Fields{"a", "b", "", "", ""}));
  EXPECT_EQ(split(',', "a, b", 2), (Fields{"a", " b"}));
  EXPECT_EQ(split(' ', "'x y' z", 2), (Fields{"x y", "z"}));
  EXPECT_EQ(split(' ', "", 3), (Fields{"", "", ""}));
  EXPECT_EQ(split(' ', "\"open quote", 2), (Fields{"open quote", ""}));
  // Tabs and bytes 128-255 separate like a space; a byte after a closing
  // quote opens the next field directly.
  EXPECT_EQ(split(' ',
                  "a\tb\xc3"
                  "c",
                  4),
            (Fields{"a", "b", "c", ""}));
  EXPECT_EQ(split(' ', "'a'b c", 3), (Fields{"a", "b", "c"}));
}

TEST(Unquote, RemovesOnlyALeadingPair) {
  for (auto [in, out] : {std::pair{"'abc'def", "abc"},
                         {"\"abc", "abc"},
                         {"abc'", "abc'"},
                         {"'a\"b'", "a\"b"},
                         {"''", ""}}) {
    std::string s = in;
    unquote(s.data());
    EXPECT_STREQ(s.c_str(), out) << in;
  }
}

// "directory|root|extension"
std::string pieces(const char* name, int maxlen = 127) {
  char dir[128], root[128], ext[128];
  breakfname(name, dir, root, ext, maxlen);
  return std::string(dir) + "|" + root + "|" + ext;
}

TEST(Breakfname, SplitsDirectoryRootAndExtension) {
  EXPECT_EQ(pieces("dir/sub/file.txt"), "dir/sub/|file|.txt");
  EXPECT_EQ(pieces("file.tar.gz"), "|file.tar|.gz");
  EXPECT_EQ(pieces("DISK:[DIR]FILE.EXT;3"), "DISK:[DIR]|FILE|.EXT");
  EXPECT_EQ(pieces("dir.d/file"), "dir.d/|file|");
  EXPECT_EQ(pieces("dir/"), "dir/||");
  EXPECT_EQ(pieces(".login"), "|.login|");
  EXPECT_EQ(pieces("name"), "|name|");
  EXPECT_EQ(pieces("a b.c"), "a |b|.c");
  EXPECT_EQ(pieces("*.l?d"), "|*|.l?d");
}

TEST(Breakfname, ChoicesAtTheEdges) {
  // A name from the root keeps its separator as the directory.
  EXPECT_EQ(pieces("/abc"), "/|abc|");
  // The version part stays out of the root, with or without an extension.
  EXPECT_EQ(pieces("x.;1"), "|x.|");
  EXPECT_EQ(pieces("FILE;3"), "|FILE|");
  // Bytes 128-255 are name characters.
  EXPECT_EQ(pieces("d/\xc3\xa9t\xc3\xa9.lod"), "d/|\xc3\xa9t\xc3\xa9|.lod");
  // Each piece is cut at maxlen, and a null output is skipped.
  EXPECT_EQ(pieces("abcdef/ghijkl.mnopqr", 3), "abc|ghi|.mn");
  char root[8];
  breakfname("a/b.c", nullptr, root, nullptr, 7);
  EXPECT_STREQ(root, "b");
}
