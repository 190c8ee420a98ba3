// Rule file lookup: the current directory before the rule directory, names
// with a directory part tried only as given, long names never cut, and
// directories refused.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "rules.h"
#include "support/reports.h"
#include "support/scratch.h"

namespace {

class OpenRules : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(scratch_ / "cwd");
    std::filesystem::create_directories(scratch_ / "default");
    saved_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(scratch_ / "cwd");
    rule_dir_ = (scratch_ / "default").string() + "/";
  }
  void TearDown() override { std::filesystem::current_path(saved_cwd_); }

  void write(const std::string& name, const std::string& text) { scratch_.write(name, text); }

  // What the stream that open_rules gives for `name` holds; `found_` is
  // where it was found.
  std::string read_rules(const std::string& name) {
    FILE* stream = open_rules(name.c_str(), found_, rule_dir_.c_str());
    std::string text;
    for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
    std::fclose(stream);
    return text;
  }

  // The report that looking `name` up ends the run with.
  std::string failure(const std::string& name) {
    vela_test::Outcome run = vela_test::catch_report([&] {
      std::string path;
      open_rules(name.c_str(), path, rule_dir_.c_str());
    });
    EXPECT_EQ(run.status, 1) << name;
    return run.out;
  }

  vela_test::ScratchDir scratch_{"rowfan-rules"};
  std::filesystem::path saved_cwd_;
  std::string found_;
  std::string rule_dir_;
};

TEST_F(OpenRules, BareNameTriesCurrentDirectoryThenRuleDirectory) {
  write("cwd/r.rules", "here");
  write("default/r.rules", "there");
  EXPECT_EQ(read_rules("r.rules"), "here");
  EXPECT_EQ(found_, "r.rules");
  std::filesystem::remove(scratch_ / "cwd/r.rules");
  EXPECT_EQ(read_rules("r.rules"), "there");
  EXPECT_EQ(found_, rule_dir_ + "r.rules");
  EXPECT_EQ(failure("none.rules"), "Cannot open file (none.rules)\n");
}

TEST_F(OpenRules, NameWithDirectoryPartIsTriedOnlyAsGiven) {
  write("default/sub/x.rules", "");
  write("default/rowfan-rooted-test.rules", "");
  EXPECT_EQ(failure("sub/x.rules"), "Cannot open file (sub/x.rules)\n");
  EXPECT_EQ(failure("/rowfan-rooted-test.rules"), "Cannot open file (/rowfan-rooted-test.rules)\n");
  EXPECT_EQ(read_rules(scratch_ / "default/sub/x.rules"), "");
}

TEST_F(OpenRules, LongNameIsNeverCutToAnotherFile) {
  const std::string name = std::string(200, 'L') + ".rules";
  ASSERT_LT(rule_dir_.size(), 120u);
  // The file a path cut at 127 characters would open.
  write("default/" + name.substr(0, 127 - rule_dir_.size()), "decoy");
  EXPECT_EQ(failure(name), "Cannot open file (" + name + ")\n");
  write("default/" + name, "long");
  EXPECT_EQ(read_rules(name), "long");
}

TEST_F(OpenRules, DirectoryIsNotARuleFile) {
  std::filesystem::create_directories(scratch_ / "cwd/d.rules");
  EXPECT_EQ(failure("d.rules"), "Cannot open file (d.rules)\n");
  EXPECT_EQ(failure(""), "Cannot open file ()\n");
  write("default/d.rules", "there");
  EXPECT_EQ(read_rules("d.rules"), "there");
  EXPECT_EQ(read_rules("/dev/null"), "");
}

}  // namespace
