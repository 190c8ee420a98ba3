// Compiling the target and action tables into the rule set the expansion
// runs on.

#include "ruleset.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "columns.h"

namespace {

// The decimal text that itoa gives a rule number, read back: only such a
// text can equal a `_USED` cell.
int canonical_number(std::string_view text) {
  int n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size() || n < 0) return kNoRule;
  char buf[16];
  auto [e2, ec2] = std::to_chars(buf, buf + sizeof buf, n);
  (void)ec2;
  return std::string_view(buf, e2 - buf) == text ? n : kNoRule;
}

// A rule's first or last action row from its bookkeeping cell. The parser
// writes plain decimal numbers, read here directly; any other text is read
// as atoi reads it.
int row_number(const char* text) {
  if (text == nullptr) return 0;
  int n = 0;
  int length = 0;
  for (const char* p = text; *p != '\0'; ++p, ++length) {
    // Nine digits always fit; longer or other text is left to atoi.
    if (*p < '0' || *p > '9' || length == 9) return std::atoi(text);
    n = n * 10 + (*p - '0');
  }
  return n;
}

// What a test in a target column compares with: an input column by number,
// or one of these.
constexpr int kSkip = -1;        // `_FIRST`, `_LAST`: not columns of the work rows
constexpr int kUsed = -2;        // the work row's own `_USED` cell: the producing rule
constexpr int kNeverHolds = -3;  // a bookkeeping cell, always empty when a row is tested

std::vector<int> target_roles(const RuleSet& set, Table* input, Table* target) {
  std::vector<int> role(std::max(target->ncol, 0));
  for (int c = 0; c < target->ncol; c++) {
    std::string_view name = text_view(get_tab_colname(target, c));
    int column = get_tab_colnum(input, name);
    if (name == col_used) {
      role[c] = kUsed;
    } else if (column >= 0 && set.carried[column]) {
      role[c] = column;
    } else if (column >= 0) {
      role[c] = kNeverHolds;
    } else {
      role[c] = kSkip;
    }
  }
  return role;
}

void build_rules(RuleSet& set, Table* input, Table* target) {
  int first_col = get_tab_colnum(target, col_first);
  int last_col = get_tab_colnum(target, col_last);
  std::vector<int> role = target_roles(set, input, target);
  int nchoice = static_cast<int>(set.choice_begin.size()) - 1;
  set.rules.resize(std::max(target->nrow, 0));
  set.tests.reserve(set.rules.size() * 2);
  for (int i = 0; i < target->nrow; i++) {
    Rule& rule = set.rules[i];
    rule.first = row_number(get_tab_cell_bynum(target, first_col, i));
    rule.last = row_number(get_tab_cell_bynum(target, last_col, i));
    // The parser keeps every range inside the action table; tables built
    // by other means are held to it too.
    rule.first = std::max(rule.first, 0);
    rule.last = std::min(rule.last, nchoice - 1);
    rule.tests_begin = static_cast<int>(set.tests.size());
    bool compared = false, can_hold = true;
    for (int c = 0; c < target->ncol; c++) {
      if (role[c] == kSkip) continue;
      std::string_view value = text_view(get_tab_cell_bynum(target, c, i));
      if (value.empty()) continue;
      compared = true;
      if (role[c] == kUsed) {
        int n = canonical_number(value);
        if (n == kNoRule || (rule.used_test != kNoRule && rule.used_test != n)) can_hold = false;
        rule.used_test = n;
      } else if (role[c] == kNeverHolds) {
        can_hold = false;
      } else {
        set.tests.push_back({role[c], value});
      }
    }
    rule.tests_end = static_cast<int>(set.tests.size());
    rule.live = compared && can_hold;
    rule.key_only = rule.tests_end - rule.tests_begin == 1 && rule.used_test == kNoRule;
  }
}

void build_choices(RuleSet& set, Table* input, Table* action) {
  std::vector<int> column_of(std::max(action->ncol, 0));
  for (int c = 0; c < action->ncol; c++) {
    int column = get_tab_colnum(input, text_view(get_tab_colname(action, c)));
    column_of[c] = column >= 0 && set.carried[column] ? column : kNoRule;
  }
  int nchoice = std::max(action->nrow, 0);
  set.choice_begin.assign(nchoice + 1, 0);
  set.choice_cells.reserve(nchoice);
  for (int j = 0; j < nchoice; j++) {
    set.choice_begin[j] = static_cast<int>(set.choice_cells.size());
    for (int c = 0; c < action->ncol; c++) {
      if (column_of[c] == kNoRule) continue;
      std::string_view value = text_view(get_tab_cell_bynum(action, c, j));
      if (!value.empty()) set.choice_cells.push_back({column_of[c], value});
    }
  }
  set.choice_begin[nchoice] = static_cast<int>(set.choice_cells.size());
}

// How many tests compare one column with one value. Kept in a table that
// grows with the distinct pairs rather than with the tests, since most rules
// may share a pair.
struct TestCount {
  std::size_t hash = 0;
  CellValue test{kNoRule, {}};  // no column: the slot is free
  int count = 0;

  bool is_free() const { return test.column == kNoRule; }
};

// Rule sets mostly test a few dozen pairs or more.
constexpr std::size_t kTestSlotsFirst = 64;
using TestCounts = OpenHash<TestCount, kHashTwoThirdsFull, kTestSlotsFirst>;

// The count of `test`'s column and value; a pair not seen before starts at
// 0 and is counted by the caller.
TestCount& count_of(TestCounts& counts, const CellValue& test) {
  const std::size_t hash = hash_text(test.value) ^ static_cast<std::size_t>(test.column) * kHashMul;
  bool added = false;
  TestCount& slot = counts.claim(
      hash,
      [&](const TestCount& s) {
        return s.test.column == test.column && s.test.value == test.value;
      },
      &added);
  if (added) {
    slot.test = test;
    slot.count = 0;
  }
  return slot;
}

// The test each live rule is filed under, by rule: the one that narrows it
// most. A row matches a rule only if it matches every test of it, so any
// one test is a correct key; the test whose column and value the fewest
// rules share keeps every list as short as the rule set allows. Counting
// files every test once by value, so it costs time linear in the rules.
std::vector<int> choose_keys(const RuleSet& set) {
  std::vector<int> key(set.rules.size(), kNoRule);
  bool choice = false;
  for (size_t i = 0; i < set.rules.size(); i++) {
    const Rule& rule = set.rules[i];
    if (!rule.live || rule.tests_begin == rule.tests_end) continue;
    key[i] = rule.tests_begin;
    choice |= rule.tests_end - rule.tests_begin > 1;
  }
  if (!choice) return key;  // one test per rule, as in a lookup table
  // How many live rules test each value of each column: the length of its
  // list when every rule's tests are filed by value.
  TestCounts sharing;
  for (size_t i = 0; i < set.rules.size(); i++) {
    if (key[i] == kNoRule) continue;
    const Rule& rule = set.rules[i];
    for (int k = rule.tests_begin; k < rule.tests_end; k++) ++count_of(sharing, set.tests[k]).count;
  }
  for (size_t i = 0; i < set.rules.size(); i++) {
    const Rule& rule = set.rules[i];
    if (key[i] == kNoRule || rule.tests_end - rule.tests_begin == 1) continue;
    int fewest = 0;
    for (int k = rule.tests_begin; k < rule.tests_end; k++) {
      int shared = count_of(sharing, set.tests[k]).count;
      if (k == rule.tests_begin || shared < fewest) {
        fewest = shared;
        key[i] = k;
      }
    }
  }
  return key;
}

// Each live rule is filed under its key. Rules filed under different columns
// are merged at lookup, where every column's list is in rule order and the
// lowest-numbered match wins. A rule that tests only `_USED` is a candidate
// for every row.
void build_index(RuleSet& set) {
  std::vector<int> key = choose_keys(set);
  std::vector<int> index_of_column(set.ncol, kNoRule);
  for (int i = 0; i < static_cast<int>(set.rules.size()); i++) {
    if (!set.rules[i].live) continue;
    if (key[i] == kNoRule) {
      set.unkeyed.push_back(i);
      continue;
    }
    const CellValue& test = set.tests[key[i]];
    if (index_of_column[test.column] == kNoRule) {
      index_of_column[test.column] = static_cast<int>(set.keys.size());
      set.keys.emplace_back();
      set.keys.back().column = test.column;
    }
    file_rule(set.keys[index_of_column[test.column]], test.value, i);
  }
  for (ValueIndex& index : set.keys) {
    lay_out_index(index);
    for (ValueSlot& slot : index.slots) {
      if (slot.rule == kNoRule) continue;
      const Rule& rule = set.rules[slot.rule];
      slot.first = rule.first;
      slot.last = rule.last;
      slot.key_only = rule.key_only;
    }
  }
}

}  // namespace

void build_rule_set(RuleSet& set, Table* input, Table* target, Table* action) {
  set.ncol = input->ncol;
  for (int c = 0; c < set.ncol; c++) {
    set.carried.push_back(!is_bookkeeping(text_view(get_tab_colname(input, c))));
  }
  build_choices(set, input, action);
  build_rules(set, input, target);
  build_index(set);
}
