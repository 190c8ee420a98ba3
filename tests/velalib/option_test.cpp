#include <velalib/option.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <velalib/alist.h>
#include <velalib/param.h>
#include "support/reports.h"

// Allocation in this test program fails on demand: the number of further
// allocations that succeed, or -1 for all of them.
static int news_before_failure = -1;

void* operator new(std::size_t size) {
  if (news_before_failure == 0) {
    news_before_failure = -1;
    throw std::bad_alloc();
  }
  if (news_before_failure > 0) --news_before_failure;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// Paired with the malloc above; the compiler cannot see the pair where it
// inlines a delete.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

namespace {

using Strings = std::vector<std::string>;
using vela_test::MessageLog;

// A fresh option store for each test, with message lines collected.
class OptionTest : public testing::Test {
 protected:
  OptionTest() { init_option(); }
  ~OptionTest() override { free_option(); }
  MessageLog log;
};

}  // namespace

TEST(IsOption, EqualsWithoutBlankOrTrailingSign) {
  for (const char* option : {"v+", "v=yes", "=x", "x=", "data-", "a b=c+", "+"}) {
    EXPECT_EQ(is_option(option), 1) << option;
  }
  for (const char* name : {"-v", "a b=c", "in.lod", "", "x+y"})
    EXPECT_EQ(is_option(name), 0) << name;
}

TEST_F(OptionTest, ItemsSplitAtTheFirstEqualsOrTheSign) {
  for (const char* item : {"name=a+", "=x", "x=", "a b=c+", "data-", "v+", "k=a=b"})
    put_option(item);
  Strings expected = {"name", "a+",   "",   "x", "x",   "",  "a b",
                      "c+",   "data", "no", "v", "yes", "k", "a=b"};
  for (std::size_t i = 0; i < expected.size(); i += 2) {
    EXPECT_STREQ(get_option(expected[i].c_str()), expected[i + 1].c_str()) << expected[i];
  }
  EXPECT_TRUE(log.lines.empty());
}

TEST_F(OptionTest, FirstValueWinsOverLaterOnesAndDefaults) {
  put_option("v=no");
  put_option("v=yes");
  def_option("v=yes,w+");
  EXPECT_STREQ(get_option("v"), "no");
  EXPECT_STREQ(get_option("w"), "yes");
}

TEST_F(OptionTest, DefaultListWarnsOnABadItem) {
  def_option("a=1,bad,c=3");
  EXPECT_STREQ(get_option("c"), "3");
  EXPECT_EQ(find_alist(options, "bad"), nullptr);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"Could not parse option (bad)\n"}));
  EXPECT_EQ(vela_errorflag, 1);
}

TEST_F(OptionTest, BannerOnlyForVExactlyYes) {
  const std::vector<std::string> banner = {"VELA task installation date (1 Apr 1998)\n"};
  for (auto [arguments, printed] :
       std::vector<std::pair<Strings, bool>>{{{"v+"}, true},
                                             {{"in", "v=yes", "out"}, true},
                                             {{"v-"}, false},
                                             {{"v=no"}, false},
                                             {{"v=YES"}, false},
                                             {{}, false},
                                             {{"v=no", "v=yes"}, false}}) {
    free_option();
    init_option();
    log.lines.clear();
    for (const std::string& argument : arguments) {
      if (is_option(argument.c_str())) put_option(argument.c_str());
    }
    print_ver();
    EXPECT_EQ(log.lines, printed ? banner : std::vector<std::string>{}) << arguments.size();
    EXPECT_EQ(vela_errorflag, 0);
  }
}

TEST_F(OptionTest, UnknownNameIsFatal) {
  vela_test::Outcome run = vela_test::catch_report([] { get_option("w"); });
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Option name not recognized (w)\n");
}

using OptionDeathTest = OptionTest;

// Running out of memory while listing the options nothing read ends the run
// with the one line, as everywhere else.
TEST_F(OptionDeathTest, RunningOutOfMemoryListingUnreadOptionsEndsTheRun) {
  put_option("v+");
  EXPECT_EXIT((STDOUT_TO_STDERR(), news_before_failure = 0, unread_options()),
              testing::ExitedWithCode(1), "^Cannot allocate memory\n$");
}

// The argument vector keeps its last entry for the null that ends it: file
// arguments fill it up to that, options do not take a place, and ngiven
// counts also those that did not fit.
TEST_F(OptionTest, FileArgumentsFillTheVectorUpToItsEndingNull) {
  std::vector<std::string> words{"rowfan", "v+"};
  for (int i = 0; i < MAXPARAM + 10; ++i) words.push_back("f" + std::to_string(i));
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  expand_param(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(nparam, MAXPARAM - 1);
  EXPECT_EQ(ngiven, MAXPARAM + 10);
  EXPECT_STREQ(param[0], "rowfan");
  EXPECT_STREQ(param[MAXPARAM - 2], ("f" + std::to_string(MAXPARAM - 3)).c_str());
  EXPECT_EQ(param[MAXPARAM - 1], nullptr);
  free_param();
}
