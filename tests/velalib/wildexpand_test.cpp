#include <velalib/wildexpand.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch.h"

TEST(Patmatch, StarsStopAtTheNextPatternCharacter) {
  const std::vector<std::pair<const char*, const char*>> matches = {
      {"*", ""},       {"*", "any"},       {"?", "a"},      {"", ""},
      {"abc*", "abc"}, {"abc*", "abcdef"}, {"*c", "abc"},   {"*.lod", "x.lod"},
      {"*?", "ab?"},   {"**", "abc"},      {"a**b", "a*b"}, {"x?z", "xyz"}};
  const std::vector<std::pair<const char*, const char*>> mismatches = {
      {"?", ""},      {"?", "ab"},          {"", "a"},
      {"*c", "abcd"}, {"*.lod", "x.y.lod"}, {"*a.lod", "banana.lod"},
      {"*?", "abc"},  {"a**b", "axb"},      {"*.LOD", "x.lod"}};
  for (auto [pattern, text] : matches)
    EXPECT_EQ(patmatch(pattern, text), 1) << pattern << " ~ " << text;
  for (auto [pattern, text] : mismatches)
    EXPECT_EQ(patmatch(pattern, text), 0) << pattern << " ~ " << text;
}

namespace {

using Names = std::vector<std::string>;

// A scratch directory with a few files, and a list that frees what
// wild_expand appended to it.
class WildExpandTest : public testing::Test {
 protected:
  WildExpandTest() {
    for (const char* name : {"y.lod", "x.lod", "x.y.lod", "b.txt", ".hidden"}) {
      std::fclose(std::fopen((dir_ + name).c_str(), "w"));
    }
  }
  ~WildExpandTest() override {
    for (int i = 0; i < count_; ++i) std::free(list_[i]);
  }

  Names expand(const std::string& argument, int limit = 511) {
    int from = count_;
    last_ = wild_expand(argument.c_str(), limit, &count_, list_);
    return {list_ + from, list_ + count_};
  }
  Names in_dir(const Names& names) {
    Names out;
    for (const std::string& name : names) out.push_back(dir_ + name);
    return out;
  }

  vela_test::ScratchDir scratch_{"wildexpand"};
  std::string dir_ = scratch_.path().string() + "/";
  char* list_[512] = {};
  int count_ = 0;
  int last_ = 0;
};

}  // namespace

TEST_F(WildExpandTest, MatchesKeepTheDirectoryAndComeInByteOrder) {
  EXPECT_EQ(expand(dir_ + "*.lod"), in_dir({"x.lod", "y.lod"}));
  EXPECT_EQ(last_, 2);
  // Never "." or "..", though a star matches other names with a leading dot.
  EXPECT_EQ(expand(dir_ + "*"), in_dir({".hidden", "b.txt", "x.lod", "x.y.lod", "y.lod"}));
  EXPECT_EQ(expand(dir_ + ".*"), in_dir({".hidden"}));
}

TEST_F(WildExpandTest, ArgumentsTakenAsTyped) {
  std::string long_root = dir_ + std::string(130, 'x') + "*";
  for (const std::string& argument : {std::string("no-such-file.lod"), dir_ + "*.fits",
                                      std::string("/no/such/dir/*.lod"), long_root}) {
    EXPECT_EQ(expand(argument), Names{argument});
    EXPECT_EQ(last_, 1);
  }
}

TEST_F(WildExpandTest, BareNameMatchesTheCurrentDirectory) {
  std::string here = std::filesystem::current_path();
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  Names names = expand("*.lod");
  ASSERT_EQ(chdir(here.c_str()), 0);
  EXPECT_EQ(names, (Names{"x.lod", "y.lod"}));
}

TEST_F(WildExpandTest, NeverPassesTheLimitButCountsEveryMatch) {
  EXPECT_EQ(expand("first", 2), Names{"first"});
  EXPECT_EQ(expand(dir_ + "*.lod", 2), in_dir({"x.lod"}));
  EXPECT_EQ(last_, 2);
  EXPECT_EQ(expand("ignored", 2), Names{});
  EXPECT_EQ(count_, 2);
}
