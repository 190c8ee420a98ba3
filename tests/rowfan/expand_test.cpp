// The expansion engine: the worked example, tie-breaks, exclusion, empty
// choices, cross products, bookkeeping columns, case, loop detection, and the
// engine checked row for row against the one-step-at-a-time expansion, also
// on rule sets whose rules share tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <velalib/velaerror.h>
#include <velalib/velastring.h>
#include "expand.h"
#include "rules.h"
#include "tablecopy.h"

namespace {

using Rules = RuleFile;

// A rule: its tests, then its choices, each a list of column/value pairs.
using Pairs = std::vector<std::pair<std::string, std::string>>;
struct RuleDef {
  Pairs tests;
  std::vector<Pairs> choices;
};

Rules make_rules(Table* input, const std::vector<RuleDef>& defs) {
  Rules r;
  r.target.reset(create_table());
  r.action.reset(create_table());
  copy_layout(input, r.target.get(), "_FIRST,_LAST");
  copy_layout(input, r.action.get(), "");
  int naction = 0;
  trunc_table(r.target.get(), 0);
  trunc_table(r.action.get(), 0);
  for (size_t i = 0; i < defs.size(); i++) {
    int row = static_cast<int>(i);
    for (auto& [name, value] : defs[i].tests) put_tab_cell(r.target.get(), name, row, value);
    put_tab_cell(r.target.get(), "_FIRST", row, itoa(naction));
    for (auto& choice : defs[i].choices) {
      put_tab_cell(r.action.get(), get_tab_colname(input, 0), naction, "");  // creates the row
      for (auto& [name, value] : choice) put_tab_cell(r.action.get(), name, naction, value);
      naction++;
    }
    put_tab_cell(r.target.get(), "_LAST", row, itoa(naction - 1));
  }
  return r;
}

TablePtr make_input(const std::vector<std::string>& columns,
                    const std::vector<std::vector<std::string>>& rows) {
  TablePtr t(create_table());
  for (auto& c : columns) add_tab_col(t.get(), c);
  if (rows.empty()) trunc_table(t.get(), 0);
  for (size_t r = 0; r < rows.size(); r++) {
    for (size_t c = 0; c < columns.size(); c++) {
      put_tab_cell(t.get(), columns[c], static_cast<int>(r), rows[r][c]);
    }
  }
  return t;
}

// The expanded rows as text: one line per row, cells separated by commas.
std::vector<std::string> expand(Table* input, Rules& rules) {
  TablePtr output(create_table());
  copy_layout(input, output.get(), "EXPANSION_NUMBER");
  use_rules(input, output.get(), rules);
  std::vector<std::string> lines;
  for (int r = 0; r < output->nrow; r++) {
    std::string line;
    for (int c = 0; c < output->ncol; c++) {
      line += (c ? "," : "") + std::string(get_tab_cell_bynum(output.get(), c, r));
    }
    lines.push_back(line);
  }
  return lines;
}

// Where each final row of the step-by-step expansion came from: its input
// row and the `_USED` rules of the work rows on the stack, as "row:r1 r2";
// and how many rows each rule matched.
struct StepOrigins {
  std::vector<std::string> rows;
  std::vector<long long> matches;
};

std::string origin_text(int input_row, const std::vector<int>& chain) {
  std::string text = std::to_string(input_row) + ":";
  for (size_t i = 0; i < chain.size(); i++) text += (i ? " " : "") + std::to_string(chain[i]);
  return text;
}

void note_origin(Table* work, int r, int t, StepOrigins& origins) {
  std::vector<int> chain;
  for (int d = 1; d <= t; d++) chain.push_back(atoi(get_tab_cell(work, "_USED", d)));
  origins.rows.push_back(origin_text(r, chain));
}

// The same expansion told one step at a time on a work table; gives up
// (returns false) when the stack grows beyond a bound.
bool expand_by_steps(Table* input, Rules& rules, std::vector<std::string>& lines,
                     StepOrigins* origins = nullptr) {
  if (origins) origins->matches.assign(rules.target->nrow, 0);
  TablePtr work(create_table());
  copy_layout(input, work.get(), "_TARGET,_INDEX,_USED");
  int k = 0;
  for (int r = 0; r < input->nrow; r++) {
    if (r > 0) trunc_table(work.get(), 0);
    move_tabrow(input, r, work.get(), 0);
    if (work->nrow == 0) put_tab_cell(work.get(), "_USED", 0, "");
    for (;;) {
      for (;;) {
        int top = work->nrow - 1;
        bool unmatched = top >= 0 && *get_tab_cell(work.get(), "_TARGET", top) == '\0';
        int rule = find_rule(rules.target.get(), work.get());
        if (rule < 0) break;
        if (origins && unmatched) origins->matches[rule]++;
        apply_rule(rules.target.get(), rules.action.get(), work.get());
        if (work->nrow > 200) return false;
      }
      int t = work->nrow - 1;
      if (t < 0) break;
      std::string line;
      for (int c = 0; c < input->ncol; c++) {
        const char* name = get_tab_colname(input, c);
        std::string value = name[0] == '_' ? "" : get_tab_cell(work.get(), name, t);
        line += value + ",";
      }
      lines.push_back(line + std::to_string(++k));
      if (origins) note_origin(work.get(), r, t, *origins);
      trunc_table(work.get(), t);
    }
  }
  return true;
}

TEST(Expand, WorkedExample) {
  auto input = make_input({"DET", "FILT"}, {{"ALL", "F1"}, {"C", "F2"}});
  auto rules = make_rules(input.get(), {{{{"DET", "ALL"}}, {{{"DET", "A"}}, {{"DET", "B"}}}},
                                        {{{"FILT", "F1"}}, {{{"FILT", "X"}}, {{"FILT", "Y"}}}}});
  EXPECT_EQ(expand(input.get(), rules),
            (std::vector<std::string>{"A,X,1", "A,Y,2", "B,X,3", "B,Y,4", "C,F2,5"}));
}

TEST(Expand, NoRuleMatchesCopiesRowsAndNumbersThem) {
  auto input = make_input({"A"}, {{"x"}, {"y"}, {"z"}});
  auto rules = make_rules(input.get(), {{{{"A", "X"}}, {{{"A", "W"}}}}});
  EXPECT_EQ(expand(input.get(), rules), (std::vector<std::string>{"x,1", "y,2", "z,3"}));
}

TEST(Expand, EarliestRuleWinsAndProducingRuleIsExcluded) {
  auto input = make_input({"A", "B"}, {{"1", "2"}});
  // Both rules hold for the row: rule 0 wins, and its children, excluded
  // from rule 0, match nothing else.
  auto tie = make_rules(
      input.get(), {{{{"A", "1"}}, {{{"B", "3"}}, {{"B", "4"}}}}, {{{"B", "2"}}, {{{"B", "5"}}}}});
  EXPECT_EQ(expand(input.get(), tie), (std::vector<std::string>{"1,3,1", "1,4,2"}));

  // The child (1,9) would match rule 0 again but is excluded from it; rule 1
  // takes it, and rule 0 may not take (2,9) since A is no longer 1.
  auto chain =
      make_rules(input.get(), {{{{"A", "1"}}, {{{"B", "9"}}}}, {{{"B", "9"}}, {{{"A", "2"}}}}});
  EXPECT_EQ(expand(input.get(), chain), (std::vector<std::string>{"2,9,1"}));
}

TEST(Expand, ChoicesNeverEmptyACellAndEmptyChoiceGivesParentCopy) {
  auto input = make_input({"A", "B"}, {{"K", "v"}});
  auto rules = make_rules(input.get(), {{{{"A", "K"}}, {{{"B", ""}}, {{"A", "L"}}}}});
  EXPECT_EQ(expand(input.get(), rules), (std::vector<std::string>{"K,v,1", "L,v,2"}));
}

TEST(Expand, MatchingIsCaseSensitiveAndTestsNeedAValue) {
  auto input = make_input({"A"}, {{"full"}, {"FULL"}});
  auto rules = make_rules(input.get(),
                          {{{{"A", ""}}, {{{"A", "NEVER"}}}}, {{{"A", "FULL"}}, {{{"A", "X"}}}}});
  EXPECT_EQ(expand(input.get(), rules), (std::vector<std::string>{"full,1", "X,2"}));
}

TEST(Expand, UnderscoreColumnsAreNeverCarriedOrMatched) {
  auto input = make_input({"A", "_NOTE"}, {{"1", "n"}});
  auto rules = make_rules(input.get(), {{{{"_NOTE", "N"}}, {{{"A", "2"}}}},
                                        {{{"A", "1"}}, {{{"_NOTE", "Z"}, {"A", "3"}}}}});
  EXPECT_EQ(expand(input.get(), rules), (std::vector<std::string>{"3,,1"}));

  // A test on a bookkeeping column never holds, even when its value reads
  // as a rule number; a test on `_USED` holds only for the text of a rule number.
  auto used = make_input({"A", "_NOTE", "_USED"}, {{"1", "n", ""}});
  auto never = make_rules(used.get(), {{{{"A", "1"}}, {{{"A", "2"}}}},
                                       {{{"_NOTE", "0"}}, {{{"A", "3"}}}},
                                       {{{"_USED", "X"}}, {{{"A", "4"}}}}});
  EXPECT_EQ(expand(used.get(), never), (std::vector<std::string>{"2,,,1"}));
}

TEST(Expand, EmptyInputsGiveNoRowsButEmptyRowsAreKept) {
  auto none = make_input({"A"}, {});
  auto rules = make_rules(none.get(), {{{{"A", "1"}}, {{{"A", "2"}}}}});
  EXPECT_TRUE(expand(none.get(), rules).empty());

  auto blank = make_input({"A", "B"}, {{"", ""}, {"1", ""}, {"", ""}});
  auto rules2 = make_rules(blank.get(), {{{{"A", "1"}}, {{{"B", "2"}}}}});
  EXPECT_EQ(expand(blank.get(), rules2), (std::vector<std::string>{",,1", "1,2,2", ",,3"}));
}

TEST(Expand, DeepChainsThatEndAreExpanded) {
  // Rule i turns A = i into A = i + 1: a chain 300 rules deep.
  auto input = make_input({"A"}, {{"0"}});
  std::vector<RuleDef> defs;
  for (int i = 0; i < 300; i++)
    defs.push_back({{{"A", std::to_string(i)}}, {{{"A", std::to_string(i + 1)}}}});
  auto rules = make_rules(input.get(), defs);
  EXPECT_EQ(expand(input.get(), rules), (std::vector<std::string>{"300,1"}));
}

TEST(ExpandDeathTest, RulesThatRepeatARowAreReported) {
  auto input = make_input({"A", "B"}, {{"x", "y"}, {"1", "2"}});
  // Rule 0 (A=1 => B=3) and rule 1 (A=1 => B=2) hand a row back and forth.
  auto rules =
      make_rules(input.get(), {{{{"A", "1"}}, {{{"B", "3"}}}}, {{{"A", "1"}}, {{{"B", "2"}}}}});
  rules.rule_line = {4, 7};
  vela_errhandler = [](int, char* text) { fputs(text, stderr); };
  EXPECT_EXIT(expand(input.get(), rules), testing::ExitedWithCode(1),
              "^Rule file syntax error \\(Rules on lines 4, 7 expand row 2 without end\\)\n$");
  vela_errhandler = nullptr;
}

// Once the path is more than 64 rows deep the guard looks up each row as it
// is pushed, that row and no other. Here rule 0 turns s into x and rule 1
// gives x a final row (A = end) before turning it back into s, so the path
// s x s x ... repeats from its second row on; the first row looked up is the
// 65th, an end row, which is handed over (the 32nd) before its sibling s,
// the first repeat looked up, ends the run.
TEST(ExpandDeathTest, RowsAreLookedUpAsTheyArePushedOnceThePathIsDeep) {
  auto input = make_input({"A"}, {{"s"}});
  auto rules = make_rules(input.get(), {{{{"A", "s"}}, {{{"A", "x"}}}},
                                        {{{"A", "x"}}, {{{"A", "end"}}, {{"A", "s"}}}}});
  vela_errhandler = [](int, char* text) { fputs(text, stderr); };
  EXPECT_EXIT(expand_rows(input.get(), rules,
                          [](const std::string_view*) {
                            fputs("row\n", stderr);
                            return 0;
                          }),
              testing::ExitedWithCode(1),
              "^(row\n){32}Rule file syntax error \\(Rules on lines 1, 2 expand row 1 without "
              "end\\)\n$");
  vela_errhandler = nullptr;
}

TEST(ExpandDeathTest, ALongCycleIsNamedByItsFirstLines) {
  // Thirty rules pass the row round a ring: A = 0 -> 1 -> ... -> 29 -> 0.
  auto input = make_input({"A"}, {{"0"}});
  std::vector<RuleDef> defs;
  for (int i = 0; i < 30; i++) {
    defs.push_back({{{"A", std::to_string(i)}}, {{{"A", std::to_string((i + 1) % 30)}}}});
  }
  auto rules = make_rules(input.get(), defs);
  vela_errhandler = [](int, char* text) { fputs(text, stderr); };
  EXPECT_EXIT(
      expand(input.get(), rules), testing::ExitedWithCode(1),
      "^Rule file syntax error \\(Rules on lines 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, "
      "14, 15, 16, 17, 18, 19, 20 and 10 more expand row 1 without end\\)\n$");
  vela_errhandler = nullptr;
}

TEST(Expand, AgreesWithStepByStepExpansion) {
  std::mt19937 random(12345);
  const std::vector<std::string> values = {"", "P", "Q", "R"};
  auto pick = [&](int n) { return static_cast<int>(random() % n); };
  int compared = 0;
  for (int round = 0; round < 300; round++) {
    std::vector<std::string> columns = {"A", "B", "C"};
    if (pick(4) == 0) columns.push_back("_USED");
    std::vector<std::vector<std::string>> rows;
    for (int r = 0, n = 1 + pick(3); r < n; r++) {
      std::vector<std::string> row;
      for (size_t c = 0; c < columns.size(); c++) row.push_back(values[pick(4)]);
      rows.push_back(row);
    }
    auto input = make_input(columns, rows);
    std::vector<RuleDef> defs;
    for (int i = 0, n = 1 + pick(5); i < n; i++) {
      RuleDef def;
      for (int k = 0, m = 1 + pick(2); k < m; k++) {
        size_t c = pick(static_cast<int>(columns.size()));
        def.tests.push_back(
            {columns[c], columns[c] == "_USED" ? std::to_string(pick(3)) : values[pick(4)]});
      }
      for (int j = 0, m = 1 + pick(3); j < m; j++) {
        Pairs choice;
        for (int k = 0, a = pick(3); k < a; k++)
          choice.push_back({columns[pick(3)], values[pick(4)]});
        def.choices.push_back(choice);
      }
      defs.push_back(def);
    }
    auto rules = make_rules(input.get(), defs);
    std::vector<std::string> expected;
    if (!expand_by_steps(input.get(), rules, expected)) continue;
    compared++;
    ASSERT_EQ(expand(input.get(), rules), expected) << "round " << round;
  }
  EXPECT_GT(compared, 150);
}

// Rules as real rule files often have them: most begin with the same tests
// and differ in their second or third, several tests per rule, the shared
// column anywhere in the layout. Rules are then filed under different
// columns, and the earliest matching rule must still win.
TEST(Expand, AgreesWithStepByStepExpansionWhenRulesShareTests) {
  std::mt19937 random(54321);
  auto pick = [&](int n) { return static_cast<int>(random() % n); };
  const std::vector<std::string> values = {"P", "Q", "V0", "V1", "V2", "V3"};
  int compared = 0;
  for (int round = 0; round < 300; round++) {
    std::vector<std::string> columns = {"A", "B", "C", "D"};
    std::shuffle(columns.begin(), columns.end(), random);
    if (pick(4) == 0) columns.push_back("_USED");
    // Tests most rules share: one or two of the data columns, value P.
    Pairs shared = {{columns[0], "P"}};
    if (pick(2)) shared.push_back({columns[1], "P"});
    auto any_value = [&](const std::string& column) {
      return column == "_USED" ? std::to_string(pick(4)) : values[pick(6)];
    };
    std::vector<RuleDef> defs;
    for (int i = 0, n = 2 + pick(20); i < n; i++) {
      RuleDef def;
      if (i > 0 && pick(3) == 0) {
        // The same tests as an earlier rule but one value: rules that
        // differ only in their second or third test.
        def.tests = defs[pick(i)].tests;
        auto& [column, value] = def.tests[pick(static_cast<int>(def.tests.size()))];
        value = any_value(column);
      } else {
        if (pick(4) != 0) def.tests = shared;
        for (int k = 0, m = 1 + pick(2); k < m; k++) {
          const std::string& column = columns[pick(static_cast<int>(columns.size()))];
          bool tested = std::any_of(def.tests.begin(), def.tests.end(),
                                    [&](const auto& test) { return test.first == column; });
          if (!tested) def.tests.push_back({column, any_value(column)});
        }
      }
      for (int j = 0, m = 1 + pick(3); j < m; j++) {
        Pairs choice;
        for (int k = 0, a = pick(3); k < a; k++)
          choice.push_back({columns[pick(4)], values[pick(6)]});
        def.choices.push_back(choice);
      }
      defs.push_back(def);
    }
    std::vector<std::vector<std::string>> rows;
    for (int r = 0, n = 1 + pick(4); r < n; r++) {
      std::vector<std::string> row;
      for (size_t c = 0; c < columns.size(); c++)
        row.push_back(pick(2) ? "P" : any_value(columns[c]));
      rows.push_back(row);
    }
    auto input = make_input(columns, rows);
    auto rules = make_rules(input.get(), defs);
    std::vector<std::string> expected;
    if (!expand_by_steps(input.get(), rules, expected)) continue;
    compared++;
    ASSERT_EQ(expand(input.get(), rules), expected) << "round " << round;
  }
  EXPECT_GT(compared, 150);
}

// The engine's record of each row's origin agrees with the `_USED` rules on
// the step-by-step work table's stack, and its match counts with the rows
// that table saw matched. Rules that pass rows along test one column and
// write another, for chains of some depth.
TEST(Expand, RecordAgreesWithStepByStepStack) {
  std::mt19937 random(2024);
  const std::vector<std::string> columns = {"A", "B", "C"}, values = {"P", "Q", "R"};
  auto pick = [&](int n) { return static_cast<int>(random() % n); };
  int compared = 0;
  for (int round = 0; round < 300; round++) {
    std::vector<std::vector<std::string>> rows(1 + pick(3));
    for (auto& row : rows) {
      for (size_t c = 0; c < columns.size(); c++) row.push_back(values[pick(3)]);
    }
    auto input = make_input(columns, rows);
    std::vector<RuleDef> defs(1 + pick(6));
    for (RuleDef& def : defs) {
      def.tests.push_back({columns[pick(3)], values[pick(3)]});
      for (int j = 0, m = 1 + pick(2); j < m; j++) {
        def.choices.push_back({{columns[pick(3)], values[pick(3)]}});
      }
    }
    auto rules = make_rules(input.get(), defs);
    std::vector<std::string> lines;
    StepOrigins expected;
    if (!expand_by_steps(input.get(), rules, lines, &expected)) continue;
    compared++;
    ExpansionRecord record;
    std::vector<std::string> origins;
    // A run ends with -1 only when its sink fails; this one ends with 0.
    ASSERT_EQ(expand_rows(
                  input.get(), rules,
                  [&](const std::string_view*) {
                    origins.push_back(origin_text(record.input_row, record.chain));
                    return 0;
                  },
                  &record),
              0);
    ASSERT_EQ(origins, expected.rows) << "round " << round;
    ASSERT_EQ(record.matches, expected.matches) << "round " << round;
    ASSERT_EQ(record.rows, static_cast<long long>(lines.size())) << "round " << round;
  }
  EXPECT_GT(compared, 150);
}

}  // namespace
