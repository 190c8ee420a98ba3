// The rules filed under the values of one tested column: given a row's cell
// in that column, the rules that could match the row, in rule order.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "openhash.h"

constexpr int kNoRule = -1;

// One value and the rules filed under it; its key is a view into the target
// table, valid while that table is unchanged. The first rule, the one that
// decides most lookups, is kept in the slot with its choices, so that a
// lookup-table rule costs no visit to the rule list or the rule.
struct ValueSlot {
  std::size_t hash = 0;
  std::string_view key;  // null data: the slot is free
  int begin = 0;         // the rules filed here: ValueIndex::rules[begin] up to [end]
  int end = 0;
  int rule = kNoRule;     // the first of them,
  int first = 0;          // its first choice,
  int last = -1;          // its last choice,
  bool key_only = false;  // and whether its key is its only test

  bool is_free() const { return key.data() == nullptr; }
};

// The fewest slots of an index: a rule set files few values under most
// columns.
constexpr std::size_t kValueSlotsFirst = 16;

// Owns its slots and rule lists; keys are views into the target table and
// stay valid while that table is unchanged. At most two thirds full: a
// lookup costs one probe sequence over a flat array.
struct ValueIndex {
  struct Filed {
    std::string_view value;
    int rule;
  };

  int column = 0;
  OpenHash<ValueSlot, kHashTwoThirdsFull, kValueSlotsFirst> slots;
  std::vector<int> rules;
  std::vector<Filed> filed;  // filed but not yet laid out
};

// Files `rule` under `value`; rules are filed in rule order.
inline void file_rule(ValueIndex& index, std::string_view value, int rule) {
  index.filed.push_back({value, rule});
}

// Lays out the slots once every rule is filed: each slot's rules in rule
// order, and `rule` set to the first of them. The caller fills in that
// rule's choices.
void lay_out_index(ValueIndex& index);

// The slot of `value`, or null when no rule is filed under it.
inline const ValueSlot* find_value(const ValueIndex& index, std::string_view value) {
  return index.slots.find(hash_text(value),
                          [&](const ValueSlot& slot) { return slot.key == value; });
}
