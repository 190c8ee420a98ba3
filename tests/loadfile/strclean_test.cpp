#include <string>

#include <gtest/gtest.h>

#include <loadfile/lodstring.h>

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
}

TEST(StrClean, HighBytesCountAsBlanks) {
  EXPECT_EQ(cleaned("a\xe9\xff b\x80"), "a b");
}

TEST(StrCase, ChangesOnlyAsciiLetters) {
  std::string s = "Abc-z_09\xe9\xc9";
  EXPECT_EQ(strucase(s.data()), s.data());
  EXPECT_EQ(s, "ABC-Z_09\xe9\xc9");
  strlcase(s.data());
  EXPECT_EQ(s, "abc-z_09\xe9\xc9");
}

}  // namespace
