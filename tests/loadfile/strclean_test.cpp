#include <climits>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include <loadfile/lodstring.h>
#include "loadclean.h"

namespace {

std::string cleaned(std::string s) {
  strclean(s.data());
  return s.c_str();
}

TEST(StrClean, TrimsAndSqueezesBlankRuns) {
  EXPECT_EQ(cleaned("  a \t b  "), "a b");
  EXPECT_EQ(cleaned(" \t \n "), "");
  EXPECT_EQ(cleaned(""), "");
  EXPECT_EQ(cleaned("value\n"), "value");
  EXPECT_EQ(cleaned("a\r\nb"), "a b");
  strclean(nullptr);  // a null string is nothing to clean
  // No byte before an empty string is looked at: it may begin its memory.
  std::unique_ptr<char[]> empty(new char[1]{});
  strclean(empty.get());
  EXPECT_EQ(empty[0], '\0');
}

TEST(StrClean, HighBytesCountAsBlanks) {
  EXPECT_EQ(cleaned("a\xe9\xff b\x80"), "a b");
}

// The reader's vector path tells a blank byte by one comparison with a bound
// worked out from is_blank_byte: the bound must be found, or every value
// silently takes the byte by byte path, and agree with the rule on every byte.
TEST(StrClean, VectorPathBoundIsTheBlankRule) {
  ASSERT_NE(kBlankBound, kNoBlankBound);
  for (int c = SCHAR_MIN; c <= SCHAR_MAX; ++c)
    EXPECT_EQ(is_blank_byte(static_cast<char>(c)), c < kBlankBound) << c;
}

TEST(StrCase, ChangesOnlyAsciiLetters) {
  std::string s = "Abc-z_09\xe9\xc9";
  EXPECT_EQ(strucase(s.data()), s.data());
  EXPECT_EQ(s, "ABC-Z_09\xe9\xc9");
  strlcase(s.data());
  EXPECT_EQ(s, "abc-z_09\xe9\xc9");
}

}  // namespace
