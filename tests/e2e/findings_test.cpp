// check+ and trace=FILE on the built tool: the findings on standard output,
// the trace file's lines, and that neither changes the run's own result.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scratch.h"
#include "support/tool.h"

namespace {

using vela_test::Outcome;

class Findings : public testing::Test {
 protected:
  void file(const std::string& name, const std::string& text) { scratch_.write(name, text); }
  Outcome run(const std::vector<std::string>& args) {
    return vela_test::run_tool(scratch_.path(), args);
  }
  std::string read(const std::string& name) { return scratch_.read(name); }
  std::vector<std::string> listing() { return scratch_.listing(); }

  vela_test::ScratchDir scratch_{"rowfan-findings"};
};

const char* kInput =
    "ENDHEADER\n"
    "DET = ALL\nFILTER = F1\n_NOTE = kept aside\nENDROW\n"
    "DET = C\nFILTER = F2\n_NOTE =\nENDROW\n"
    "ENDFILE\n";

TEST_F(Findings, CheckNamesDroppedAndIdleRulesAndChangesNothingElse) {
  file("in.lod", kInput);
  file("r.rules",
       "DET = ALL => DET = A || DET = B ;\n"
       "# a typo, then a column of another layout\n"
       "FILTR = F1 => FILTER = X ;\n"
       "COLOR = RED => DET = Z ;\n"
       "DET = Q => DET = R ;\n");
  Outcome plain = run({"in.lod", "plain.lod", "r.rules"});
  Outcome checked = run({"in.lod", "out.lod", "r.rules", "check+"});
  EXPECT_EQ(checked.status, plain.status);
  EXPECT_EQ(read("out.lod"), read("plain.lod"));
  EXPECT_EQ(plain.out, "");
  EXPECT_EQ(
      checked.out,
      "r.rules:3: rule dropped: the load file has no column FILTR (did you mean FILTER?)\n"
      "r.rules:4: rule dropped: the load file has no column COLOR\n"
      "r.rules:5: rule matched no row\n"
      "in.lod: column _NOTE is left empty in the output, as names beginning with _ are "
      "reserved (1 row had a value)\n"
      "in.lod, r.rules: 2 input rows, 3 output rows, 1 of 2 rules matched, 2 rules dropped\n");
}

TEST_F(Findings, DroppedRulesAreReportedBeforeARunThatFails) {
  file("in.lod", kInput);
  file("loop.rules", "DETT = ALL => DET = A ;\nDET = C => DET = D ;\nDET = D => DET = C ;\n");
  Outcome r = run({"check+", "in.lod", "out.lod", "loop.rules"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "loop.rules:1: rule dropped: the load file has no column DETT (did you mean DET?)\n"
            "Rule file syntax error (Rules on lines 2, 3 expand row 2 without end)\n");
}

TEST_F(Findings, TraceFollowsADeepChainAndLeavesUntouchedRowsBare) {
  // Rule i, on line i + 1, turns STEP = i into STEP = i + 1; a first rule
  // forks the row in two, so both copies run down the whole chain.
  std::string rules = "KIND = FORK => KIND = L || KIND = R ;\n";
  for (int i = 0; i < 70; i++) {
    rules += "STEP = " + std::to_string(i) + " => STEP = " + std::to_string(i + 1) + " ;\n";
  }
  file("chain.rules", rules);
  file("in.lod",
       "ENDHEADER\nKIND = FORK\nSTEP = 0\nENDROW\nKIND = PLAIN\nSTEP = X\nENDROW\nENDFILE\n");
  Outcome r = run({"in.lod", "out.lod", "chain.rules", "trace=out.tsv"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "");
  std::string chain;
  for (int line = 2; line <= 71; line++) chain += " " + std::to_string(line);
  EXPECT_EQ(read("out.tsv"),
            "EXPANSION_NUMBER\tINPUT_ROW\tRULE_LINES\n"
            "1\t1\t1" +
                chain +
                "\n"
                "2\t1\t1" +
                chain +
                "\n"
                "3\t2\t\n");
}

TEST_F(Findings, AFailedRunLeavesNeitherOutputNorTrace) {
  file("in.lod", kInput);
  file("loop.rules", "DET = ALL => DET = B ;\nDET = B => DET = ALL ;\n");
  file("earlier.tsv", "earlier\n");
  Outcome loop = run({"in.lod", "out.lod", "loop.rules", "trace=earlier.tsv"});
  EXPECT_EQ(loop.status, 1);
  EXPECT_EQ(read("earlier.tsv"), "earlier\n");
  EXPECT_EQ(listing(), (std::vector<std::string>{"earlier.tsv", "in.lod", "loop.rules"}));

  // A trace that cannot be written fails the run before it starts.
  file("r.rules", "DET = ALL => DET = A ;\n");
  Outcome nowhere = run({"in.lod", "out.lod", "r.rules", "trace=no/such/dir/t.tsv"});
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_EQ(nowhere.out, "Cannot write to file (no/such/dir/t.tsv)\n");
  Outcome full = run({"in.lod", "out.lod", "r.rules", "trace=/dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.out, "Cannot write to file (/dev/full)\n");
  // A trace named as the output would replace it.
  Outcome same = run({"in.lod", "earlier.tsv", "r.rules", "trace=earlier.tsv"});
  EXPECT_EQ(same.status, 1);
  EXPECT_EQ(same.out, "Cannot write to file (earlier.tsv)\n");
  EXPECT_EQ(read("earlier.tsv"), "earlier\n");
  EXPECT_EQ(listing(),
            (std::vector<std::string>{"earlier.tsv", "in.lod", "loop.rules", "r.rules"}));
}

}  // namespace
