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

// Each failure and each loss of data that check+ explains, as FILE:LINE:
// text after the message line, with the run otherwise as it is without
// check+: the same message, status and output.
TEST_F(Findings, CheckExplainsLoadFileErrorsLostValuesAndUnusedOptions) {
  file("r.rules", "DET = ALL => DET = A || DET = B ;\n");
  const std::string one_row = "ENDHEADER\nDET = ALL\nENDROW\nENDFILE\n";
  const std::string syntax = "Cannot process load file (in.lod: Syntax error in loadile at line ";
  struct Case {
    std::string input;  // in.lod's text; the name of another input after a '/'
    std::vector<std::string> options;
    int status;
    std::string plain;     // standard output without check+
    std::string findings;  // what check+ adds after it
  };
  const Case cases[] = {
      {one_row,
       {"trce=x.tsv", "chek+", "x=1", "trace-"},
       0,
       "",
       "option trce=x.tsv is not used by rowfan (did you mean trace?)\n"
       "option chek+ is not used by rowfan (did you mean check?)\n"
       "option x=1 is not used by rowfan\n"
       "in.lod, r.rules: 1 input row, 2 output rows, 1 of 1 rule matched, 0 rules dropped\n"},
      {"ENDHEADER\nDET = ALL\nnot a data line\nENDFILE\n",
       {},
       1,
       syntax + "3)\n",
       "in.lod:3: line is neither NAME = value nor ENDHEADER, ENDROW or ENDFILE\n"},
      {"DET = ALL\n", {}, 1, syntax + "1)\n", "in.lod:1: file ends before ENDHEADER\n"},
      {"ENDHEADER\nDET = ALL\nENDROW\n",
       {},
       1,
       syntax + "3)\n",
       "in.lod:3: file ends before ENDFILE\n"},
      {one_row + "\n# late\n",
       {},
       1,
       syntax + "6)\n",
       "in.lod:6: only blank lines may follow ENDFILE\n"},
      {"ENDHEADER\nDET = " + std::string(74, 'x') + "\nENDFILE\n",
       {},
       1,
       syntax + "2)\n",
       "in.lod:2: line longer than 78 bytes\n"},
      {"ENDHEADER\nDET = ALL\nENDFILE",
       {},
       1,
       syntax + "3)\n",
       "in.lod:3: last line has no newline\n"},
      {"", {}, 1, syntax + "0)\n", "in.lod:0: file is empty\n"},
      {"/proc/self/mem",
       {},
       1,
       "Cannot process load file (/proc/self/mem: Syntax error in loadile at line 0)\n",
       "/proc/self/mem:0: file could not be read to its end\n"},
      {"ENDHEADER\nDET = ALL\nENDROW\nDET = C\nFILTER = F1\nENDFILE\n",
       {},
       1,
       syntax + "5)\n",
       "in.lod:5: column not in the first row, where every column must appear\n"},
      // A value given twice in a row, then two rows run together by a lost
      // ENDROW: one finding each, and the run as without check+.
      {"ENDHEADER\nDET = C\nDET = ALL\nFILTER = F1\nENDROW\n"
       "DET = C\nFILTER = F2\nDET = ALL\nFILTER = F3\nENDROW\nENDFILE\n",
       {},
       0,
       "",
       "in.lod:3: column DET given again in row 1: its value from line 2 is lost (an ENDROW "
       "missing?)\n"
       "in.lod:8: column DET given again in row 2: its value from line 6 is lost (an ENDROW "
       "missing?)\n"
       "in.lod, r.rules: 2 input rows, 4 output rows, 1 of 1 rule matched, 0 rules dropped\n"},
  };
  for (const Case& c : cases) {
    std::string input = "in.lod";
    if (c.input.starts_with('/')) {
      input = c.input;
    } else {
      file("in.lod", c.input);
    }
    std::vector<std::string> args = {input, "plain.lod", "r.rules"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Outcome plain = run(args);
    args[1] = "out.lod";
    args.push_back("check+");
    Outcome checked = run(args);
    EXPECT_EQ(plain.status, c.status) << c.input;
    EXPECT_EQ(checked.status, c.status) << c.input;
    EXPECT_EQ(plain.out, c.plain) << c.input;
    EXPECT_EQ(checked.out, c.plain + c.findings) << c.input;
    if (c.status == 0) {
      EXPECT_EQ(read("out.lod"), read("plain.lod")) << c.input;
    }
  }
}

// A rule syntax error under check+: what the grammar expected, at the line
// where it belongs (the end of the token before), after the message line
// that a run without check+ prints alone.
TEST_F(Findings, CheckExplainsRuleSyntaxErrors) {
  file("in.lod", kInput);
  struct Case {
    std::string rules;
    std::string message;  // the token and line of the message without check+
    std::string finding;
  };
  const Case cases[] = {
      {"DET = ALL => DET = A\nFILTER = F1 => FILTER = X ;\n", "(FILTER) on line 2",
       "r.rules:1: expected ';' or '||' or '&&' before FILTER on line 2"},
      {"DET = ALL => DET = A ;\n# the end\n\n&", "(&) on line 4",
       "r.rules:1: expected the end of the file or a word before & on line 4"},
      {"DET == ALL => DET = A ;", "(=) on line 1", "r.rules:1: expected a word before = on line 1"},
      {"DET = 'A\nB' FILTER = F1 => DET = A ;", "(FILTER) on line 2",
       "r.rules:2: expected '=>' or '&&' before FILTER on line 2"},
      {"DET = ALL\n\n", "() on line 3",
       "r.rules:1: expected '=>' or '&&' before the end of the file"},
      {" # nothing\n\n", "() on line 3", "r.rules:1: expected a word before the end of the file"},
      {"DET = ALL => DET = A ;\r\n", "(\\r) on line 1",
       "r.rules:1: expected the end of the file or a word before \\r on line 1"},
  };
  for (const Case& c : cases) {
    file("r.rules", c.rules);
    const std::string message = "Rule file syntax error (Last token read " + c.message + ")\n";
    Outcome plain = run({"in.lod", "out.lod", "r.rules"});
    Outcome checked = run({"in.lod", "out.lod", "r.rules", "check+"});
    EXPECT_EQ(plain.status, 1) << c.rules;
    EXPECT_EQ(checked.status, 1) << c.rules;
    EXPECT_EQ(plain.out, message) << c.rules;
    EXPECT_EQ(checked.out, message + c.finding + "\n") << c.rules;
  }
  EXPECT_EQ(listing(), (std::vector<std::string>{"in.lod", "r.rules"}));
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
