// The rule grammar: the rule tables it builds, the folding of assignments
// into one action row per choice, rules dropped with their rows rolled back,
// syntax errors reported by token text and line, and parses that share
// nothing, however many a process runs.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "check.h"
#include "rules.h"
#include "support/process.h"
#include "support/reports.h"
#include "support/tables.h"

namespace {

using vela_test::dump_table;
using vela_test::Outcome;
using vela_test::table_with_columns;

// Both rule Tables as text.
struct Parsed {
  std::string target;
  std::string action;
  std::vector<int> rule_line;
};

const std::vector<std::string> kColumns = {"KIND", "SIZE", "NAME"};

Parsed parsed(const RuleFile& rules) {
  return {dump_table(rules.target.get()), dump_table(rules.action.get()), rules.rule_line};
}

Parsed parse_text(const std::string& text, const std::vector<std::string>& columns = kColumns) {
  TablePtr load = table_with_columns(columns);
  return parsed(parse_rule_text(text, load.get()));
}

// The message line that a parse of `text` ends with (status 1).
std::string syntax_error(const std::string& text) {
  Outcome run = vela_test::catch_report([&] { parse_text(text); });
  EXPECT_EQ(run.status, 1) << text;
  return run.out;
}

std::string error_line(const std::string& token, int line) {
  return "Rule file syntax error (Last token read (" + token + ") on line " + std::to_string(line) +
         ")\n";
}

TEST(RuleParser, ExampleFileGivesBothTables) {
  TablePtr load = table_with_columns(kColumns);
  const std::string path = ROWFAN_TEST_DATA "/rules/example.rules";
  RuleFile rules = parse_rules(path.c_str(), load.get());
  EXPECT_EQ(dump_table(rules.target.get()),
            "| KIND | SIZE | NAME | _FIRST | _LAST |\n"
            "| FULL |  |  | 0 | 1 |\n"
            "| SUB | 1 |  | 2 | 2 |\n");
  EXPECT_EQ(dump_table(rules.action.get()),
            "| KIND | SIZE | NAME |\n"
            "|  | 1 | A |\n"
            "|  | 2 |  |\n"
            "|  |  | X Y |\n");
  EXPECT_EQ(rules.rule_line, (std::vector<int>{2, 3}));
  ASSERT_EQ(rules.dropped.size(), 1u);
  EXPECT_EQ(rules.dropped[0].line, 5);
  EXPECT_EQ(rules.dropped[0].column, "COLOR");
  EXPECT_EQ(rules.path, path);
}

TEST(RuleParser, LaterValuesOfAColumnWinWithinATestOrAChoice) {
  Parsed p = parse_text(
      "size = 1 && SIZE = 2 => SIZE = 1 && SIZE = 2 || SIZE = 1 && SIZE = '' || NAME = \"\";\n"
      "KIND = A && _FIRST = 9 => KIND = B;");
  EXPECT_EQ(p.target,
            "| KIND | SIZE | NAME | _FIRST | _LAST |\n"
            "|  | 2 |  | 0 | 2 |\n"
            "| A |  |  | 3 | 3 |\n");
  EXPECT_EQ(p.action,
            "| KIND | SIZE | NAME |\n"
            "|  | 2 |  |\n"
            "|  | 1 |  |\n"
            "|  |  |  |\n"
            "| B |  |  |\n");
}

TEST(RuleParser, RuleNamingAMissingColumnIsDroppedWhole) {
  Parsed p = parse_text(
      "COLOR = RED => SIZE = 1;\n"                        // missing in the condition
      "KIND = A => SIZE = 1 || SIZE = 2 && COLOR = R;\n"  // missing in a later choice
      "\n"
      "KIND = B => SIZE = 3 || NAME = N;");
  EXPECT_EQ(p.target,
            "| KIND | SIZE | NAME | _FIRST | _LAST |\n"
            "| B |  |  | 0 | 1 |\n");
  EXPECT_EQ(p.action,
            "| KIND | SIZE | NAME |\n"
            "|  | 3 |  |\n"
            "|  |  | N |\n");
  EXPECT_EQ(p.rule_line, (std::vector<int>{4}));

  // Without load columns no rule can stand.
  p = parse_text("_FIRST = 1 => _LAST = 2; A = 1 => A = 2;", {});
  EXPECT_EQ(p.target, "| _FIRST | _LAST |\n");
  EXPECT_EQ(p.action, "|\n");
}

// AI and AIB share their first byte and their hash (the one a byte longer
// ends seven lower): a name that is the start of another found first still
// names its own column.
TEST(RuleParser, ANameIsNotTakenForALongerOneItBegins) {
  Parsed p = parse_text("AIB = 1 && AI = 2 => AI = 3 && AIB = 4;", {"AIB", "AI"});
  EXPECT_EQ(p.target,
            "| AIB | AI | _FIRST | _LAST |\n"
            "| 1 | 2 | 0 | 0 |\n");
  EXPECT_EQ(p.action,
            "| AIB | AI |\n"
            "| 4 | 3 |\n");
}

// A dropped rule's name is matched to a near column by its own bytes only,
// not by the text the name stands in: "ARST" is two edits from "QAZRST",
// too far for a name of four, even after a Z.
TEST(RuleParser, NearestColumnReadsOnlyTheName) {
  TablePtr load = table_with_columns({"FILTER", "QAZRST"});
  EXPECT_STREQ(nearest_column(load.get(), "FILTR"), "FILTER");
  const std::string text = "ZARST";
  EXPECT_EQ(nearest_column(load.get(), std::string_view(text).substr(1)), nullptr);
}

TEST(RuleParser, QuotedValuesAndRuleLinesSpanningLines) {
  using namespace std::string_literals;
  Parsed p = parse_text("KIND = 'a\nb' => NAME = '"s + std::string(100000, 'n') +
                        "';\n'NAME' = \"x\0y\" => SIZE = 1;"s);
  EXPECT_EQ(p.target,
            "| KIND | SIZE | NAME | _FIRST | _LAST |\n"
            "| A\nB |  |  | 0 | 0 |\n"
            "|  |  | X | 1 | 1 |\n");
  EXPECT_EQ(p.action,
            "| KIND | SIZE | NAME |\n"
            "|  |  | " +
                std::string(100000, 'N') +
                " |\n"
                "|  | 1 |  |\n");
  EXPECT_EQ(p.rule_line, (std::vector<int>{1, 3}));

  // A value that fills the parser's first text block to its last byte (after
  // the four of KIND) still needs room for its closing NUL: a block too short
  // by one is a write past its end, which only the sanitizer and valgrind see.
  p = parse_text("KIND = '" + std::string(252, 'k') + "' => SIZE = 1;");
  EXPECT_EQ(p.target, "| KIND | SIZE | NAME | _FIRST | _LAST |\n| " + std::string(252, 'K') +
                          " |  |  | 0 | 0 |\n");
}

// Two rule files read against two layouts that place the same names at
// other columns: each parse gives what it gives in a process of its own,
// whichever ran before it and whether another runs beside it.
TEST(RuleParser, ParsesShareNothing) {
  struct Case {
    std::vector<std::string> columns;
    std::string text;
    std::string name;
  };
  const Case cases[2] = {{kColumns,
                          "KIND = FULL => SIZE = 1 && NAME = a || SIZE = 2 ;\n"
                          "COLOR = RED => KIND = FULL ;\nKIND = 'sub\n' => NAME = 'x y' ;",
                          "a.rules"},
                         {{"DET", "FILTER", "KIND", "SIZE"},
                          "\n\nSIZE = 2 && KIND = X => FILTER = F || DET = D && KIND = Q ;\n"
                          "NAME = N => SIZE = 1 ;\nKIND = FULL => KIND = HALF ;",
                          "b.rules"}};
  auto describe = [&](int i) {
    TablePtr load = table_with_columns(cases[i].columns);
    RuleFile rules = parse_rule_text(cases[i].text, load.get(), cases[i].name);
    std::string text = rules.path + "\n" + dump_table(rules.target.get()) +
                       dump_table(rules.action.get()) + "lines";
    for (int line : rules.rule_line) text += " " + std::to_string(line);
    for (const DroppedRule& d : rules.dropped) {
      text += "\ndropped " + std::to_string(d.line) + " " + d.column;
    }
    return text;
  };
  std::string alone[2];
  for (int i = 0; i < 2; i++) {
    Outcome child = vela_test::run_in_child([&] { std::fputs(describe(i).c_str(), stdout); });
    ASSERT_EQ(child.status, 0);
    alone[i] = child.out;
  }
  EXPECT_NE(alone[0], alone[1]);
  for (int first : {0, 1}) {
    EXPECT_EQ(describe(first), alone[first]);
    EXPECT_EQ(describe(1 - first), alone[1 - first]);
  }
  std::string beside[2];
  std::thread other([&] { beside[1] = describe(1); });
  beside[0] = describe(0);
  other.join();
  EXPECT_EQ(beside[0], alone[0]);
  EXPECT_EQ(beside[1], alone[1]);
}

TEST(RuleParser, SyntaxErrorsNameTheTokenAndItsLine) {
  using namespace std::string_literals;
  EXPECT_EQ(syntax_error("KIND = A => SIZE = 1;\n\nKIND > B => SIZE = 2;"), error_line(">", 3));
  EXPECT_EQ(syntax_error(""), error_line("", 1));
  EXPECT_EQ(syntax_error(" # nothing\n\t\n"), error_line("", 3));
  EXPECT_EQ(syntax_error("KIND = FULL => SIZE = 1\n"), error_line("", 2));
  EXPECT_EQ(syntax_error("SIZE == 1 => KIND = A;"), error_line("=", 1));
  EXPECT_EQ(syntax_error("SIZE = 1 & KIND = A"), error_line("&", 1));
  EXPECT_EQ(syntax_error("SIZE = 1 | KIND = A"), error_line("|", 1));
  // A message is one line: control bytes in the token are shown as escapes.
  EXPECT_EQ(syntax_error("SIZE = 1 => KIND = A || KIND = B;\r\n"), error_line("\\r", 1));
  EXPECT_EQ(syntax_error("KIND = '\n\n' 'x\ny' = 1;"), error_line("'x\\ny'", 4));
  EXPECT_EQ(syntax_error("KIND = A => SIZE = \x80;"), error_line("\x80", 1));
  EXPECT_EQ(syntax_error("KIND = A\0 => SIZE = 1;"s), error_line("", 1));
  EXPECT_EQ(syntax_error("KIND = A => SIZE = 'x" + std::string(100000, 'x')), error_line("'", 1));
  EXPECT_EQ(syntax_error("KIND = A || KIND = B => SIZE = 1;"), error_line("||", 1));
}

// Only a checked run asks what the grammar expected: a parse told nothing
// reports the syntax error alone, up to the end of the process.
TEST(RuleParser, SyntaxErrorIsExplainedOnlyWhenAsked) {
  for (bool explain : {false, true}) {
    Outcome run = vela_test::run_in_child([&] {
      vela_errhandler = [](int, char* text) { std::fputs(text, stdout); };
      TablePtr load = table_with_columns(kColumns);
      if (explain) {
        parse_rule_text("SIZE = 1 & KIND = A", load.get(), "x.rules", {.explain_errors = true});
      } else {
        parse_rule_text("SIZE = 1 & KIND = A", load.get(), "x.rules");
      }
    });
    EXPECT_EQ(run.status, 1);
    std::string alone = error_line("&", 1);
    if (explain) {
      EXPECT_EQ(run.out.substr(0, alone.size()), alone);
      EXPECT_GT(run.out.size(), alone.size());
    } else {
      EXPECT_EQ(run.out, alone);
    }
  }
}

TEST(RuleParser, MissingRuleFileIsReportedAsTyped) {
  TablePtr load = table_with_columns({"KIND"});
  Outcome run = vela_test::catch_report([&] { parse_rules("no/such.rules", load.get()); });
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Cannot open file (no/such.rules)\n");
}

}  // namespace
