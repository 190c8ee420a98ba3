#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "velastring.h"

TEST(BoundedCopy, SafecopyAndSafecatLimitTheWholeResult) {
  char buf[16] = "zzzzzzzzzzzzzzz";
  safecopy(buf, "abcdef", 3);
  EXPECT_STREQ(buf, "abc");
  safecopy(buf, "abcdef", 0);
  EXPECT_STREQ(buf, "");
  safecopy(buf, "abcdef", -4);
  EXPECT_STREQ(buf, "");

  std::strcpy(buf, "abc");
  safecat(buf, "defgh", 5);
  EXPECT_STREQ(buf, "abcde");
  safecat(buf, "xyz", 3);  // already longer than the limit
  EXPECT_STREQ(buf, "abcde");
  safecat(buf, "", 10);
  EXPECT_STREQ(buf, "abcde");
}

TEST(Itoa, FormatsIntoOneSharedBuffer) {
  char* first = itoa(-42);
  EXPECT_STREQ(first, "-42");
  EXPECT_STREQ(itoa(-2147483647 - 1), "-2147483648");
  EXPECT_STREQ(first, "-2147483648");  // the second call overwrote the first
}

TEST(Strclone, MakesAnIndependentHeapCopy) {
  const char* original = "rules.dat";
  char* copy = strclone(original);
  EXPECT_NE(copy, original);
  EXPECT_STREQ(copy, original);
  std::free(copy);
}

// Splits a copy of `text` and returns all `maxfields` entries.
std::vector<std::string> split(int sep, const char* text, int maxfields) {
  std::string work = text;
  std::vector<char*> fields(maxfields, nullptr);
  strsplit(sep, work.data(), fields.data(), maxfields);
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
  EXPECT_EQ(split(' ', "a\tb\xc3" "c", 4), (Fields{"a", "b", "c", ""}));
  EXPECT_EQ(split(' ', "'a'b c", 3), (Fields{"a", "b", "c"}));
  EXPECT_EQ(split(',', "a,b,c", 1), (Fields{"a"}));
}

TEST(Unquote, RemovesOnlyALeadingPair) {
  auto unq = [](std::string s) {
    unquote(s.data());
    return std::string(s.c_str());
  };
  EXPECT_EQ(unq("'abc'def"), "abc");
  EXPECT_EQ(unq("\"abc"), "abc");
  EXPECT_EQ(unq("abc'"), "abc'");
  EXPECT_EQ(unq("'a\"b'"), "a\"b");
  EXPECT_EQ(unq("''"), "");
}

struct Pieces {
  std::string dir, root, ext;
  bool operator==(const Pieces&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Pieces& p) {
  return os << '[' << p.dir << "|" << p.root << "|" << p.ext << ']';
}

Pieces pieces(const char* name, int maxlen = 127) {
  char dir[128], root[128], ext[128];
  breakfname(name, dir, root, ext, maxlen);
  return {dir, root, ext};
}

TEST(Breakfname, SplitsDirectoryRootAndExtension) {
  EXPECT_EQ(pieces("dir/sub/file.txt"), (Pieces{"dir/sub/", "file", ".txt"}));
  EXPECT_EQ(pieces("file.tar.gz"), (Pieces{"", "file.tar", ".gz"}));
  EXPECT_EQ(pieces("DISK:[DIR]FILE.EXT;3"), (Pieces{"DISK:[DIR]", "FILE", ".EXT"}));
  EXPECT_EQ(pieces("dir.d/file"), (Pieces{"dir.d/", "file", ""}));
  EXPECT_EQ(pieces("dir/"), (Pieces{"dir/", "", ""}));
  EXPECT_EQ(pieces(".login"), (Pieces{"", ".login", ""}));
  EXPECT_EQ(pieces("name"), (Pieces{"", "name", ""}));
  EXPECT_EQ(pieces("a b.c"), (Pieces{"a ", "b", ".c"}));
  EXPECT_EQ(pieces("*.l?d"), (Pieces{"", "*", ".l?d"}));
}

TEST(Breakfname, ChoicesAtTheEdges) {
  // A name from the root keeps its separator as the directory.
  EXPECT_EQ(pieces("/abc"), (Pieces{"/", "abc", ""}));
  EXPECT_EQ(pieces("/tmp/x.lod"), (Pieces{"/tmp/", "x", ".lod"}));
  // The version part stays out of the root, with or without an extension.
  EXPECT_EQ(pieces("x.;1"), (Pieces{"", "x.", ""}));
  EXPECT_EQ(pieces("FILE;3"), (Pieces{"", "FILE", ""}));
  // Bytes 128-255 are name characters.
  EXPECT_EQ(pieces("d/\xc3\xa9t\xc3\xa9.lod"), (Pieces{"d/", "\xc3\xa9t\xc3\xa9", ".lod"}));
  // Each piece is cut at maxlen, and a null output is skipped.
  EXPECT_EQ(pieces("abcdef/ghijkl.mnopqr", 3), (Pieces{"abc", "ghi", ".mn"}));
  char root[8];
  breakfname("a/b.c", nullptr, root, nullptr, 7);
  EXPECT_STREQ(root, "b");
}
