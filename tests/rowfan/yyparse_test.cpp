// The rule grammar: the rule tables it builds, the folding of assignments
// into one action row per choice, rules dropped with their rows rolled back,
// and syntax errors reported by token text and line.

#include <gtest/gtest.h>

#include "rules.h"
#include "support/process.h"
#include "support/reports.h"
#include "support/scratch.h"
#include "support/tables.h"

namespace {

using vela_test::dump_table;
using vela_test::Outcome;
using vela_test::ScratchDir;
using vela_test::table_with_columns;

// Both rule Tables as text.
struct Parsed {
  std::string target;
  std::string action;
};

Parsed parse_file(const std::string& path, const std::vector<std::string>& columns) {
  TablePtr load = table_with_columns(columns);
  TablePtr target(create_table());
  TablePtr action(create_table());
  parse_rules(path.c_str(), load.get(), target.get(), action.get());
  return {dump_table(target.get()), dump_table(action.get())};
}

Parsed parse_text(const std::string& text,
                  const std::vector<std::string>& columns = {"KIND", "SIZE", "NAME"}) {
  ScratchDir dir("rowfan-rules");
  return parse_file(dir.write("test.rules", text), columns);
}

// The message line that a parse of `text` ends with (exit status 1).
std::string syntax_error(const std::string& text) {
  ScratchDir dir("rowfan-rules");
  const std::string path = dir.write("bad.rules", text);
  Outcome run = vela_test::run_in_child([&] { parse_file(path, {"KIND", "SIZE", "NAME"}); });
  EXPECT_EQ(run.status, 1) << text;
  return run.out;
}

std::string error_line(const std::string& token, int line) {
  return "Rule file syntax error (Last token read (" + token + ") on line " + std::to_string(line) +
         ")\n";
}

TEST(RuleParser, ExampleFileGivesBothTables) {
  Parsed p = parse_file(ROWFAN_TEST_DATA "/rules/example.rules", {"KIND", "SIZE", "NAME"});
  EXPECT_EQ(p.target,
            "| KIND | SIZE | NAME | _FIRST | _LAST |\n"
            "| FULL |  |  | 0 | 1 |\n"
            "| SUB | 1 |  | 2 | 2 |\n");
  EXPECT_EQ(p.action,
            "| KIND | SIZE | NAME |\n"
            "|  | 1 | A |\n"
            "|  | 2 |  |\n"
            "|  |  | X Y |\n");
  EXPECT_EQ(xrule_line, (std::vector<int>{2, 3}));

  // Parser state starts afresh for every file.
  Parsed again = parse_file(ROWFAN_TEST_DATA "/rules/example.rules", {"KIND", "SIZE", "NAME"});
  EXPECT_EQ(again.target, p.target);
  EXPECT_EQ(again.action, p.action);
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
  EXPECT_EQ(xrule_line, (std::vector<int>{4}));

  // Without load columns no rule can stand.
  p = parse_text("_FIRST = 1 => _LAST = 2; A = 1 => A = 2;", {});
  EXPECT_EQ(p.target, "| _FIRST | _LAST |\n");
  EXPECT_EQ(p.action, "|\n");
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
  EXPECT_EQ(xrule_line, (std::vector<int>{1, 3}));
}

TEST(RuleParserDeathTest, SyntaxErrorsNameTheTokenAndItsLine) {
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

TEST(RuleParser, MissingRuleFileIsReportedAsTyped) {
  Outcome run = vela_test::catch_report([] { parse_file("no/such.rules", {"KIND"}); });
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Cannot open file (no/such.rules)\n");
}

}  // namespace
