// The compiled rule set: everything the expansion needs from the target and
// action tables, worked out once per run. Each rule's tests as (column
// number, value) pairs, each choice as the cells it writes, and an index from
// a tested value to the rules filed under it, each rule under its most
// selective test, so that a row is tested only against the rules that could
// match it.
#pragma once

#include <string_view>
#include <vector>

#include <loadfile/table.h>
#include "valueindex.h"

// One cell: a carried column of the input, by number, and a value. A test
// compares the row's cell with it; a choice writes it. The value is a view
// into the target or action table, valid while that table is unchanged.
struct CellValue {
  int column;
  std::string_view value;
};

// What the engine knows of one rule: positions in the rule set's arrays, no
// views. A rule's tests lie in one flat array shared by all rules, and so do
// the cells of all choices: the working set stays compact however many rules
// there are.
struct Rule {
  int tests_begin = 0;  // its tests: RuleSet::tests[tests_begin] up to [tests_end]
  int tests_end = 0;
  int used_test = kNoRule;  // value a test on the engine's `_USED` column requires
  int first = 0;            // its choices: action rows first to last
  int last = -1;
  bool live = false;      // has at least one comparison that can ever hold
  bool key_only = false;  // its one test is the key it is filed under
};

// Owns its arrays; every value is a view into the input, target or action
// table and stays valid while those Tables are unchanged.
struct RuleSet {
  int ncol = 0;               // input columns
  std::vector<bool> carried;  // by input column: not bookkeeping, so rows carry it
  std::vector<Rule> rules;    // by rule number
  std::vector<CellValue> tests;
  std::vector<int> choice_begin;  // choice j's cells: choice_cells[choice_begin[j]] up to [j + 1]
  std::vector<CellValue> choice_cells;
  std::vector<ValueIndex> keys;  // one per tested column that rules are filed under
  std::vector<int> unkeyed;      // live rules that test only `_USED`, in rule order
};

// The text of a cell, or the empty text for a cell that is not there.
inline std::string_view text_view(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

// Compiles the rules of `target` and `action` for rows laid out as `input`.
void build_rule_set(RuleSet& set, Table* input, Table* target, Table* action);
