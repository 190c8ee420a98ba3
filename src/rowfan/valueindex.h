// The rules filed under the values of one tested column: given a row's cell
// in that column, the rules that could match the row, in rule order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

constexpr int kNoRule = -1;

// The hash of a tested value. Values are mostly a few bytes long, so this is
// cheap for short text, yet every byte of the value goes into it, eight at a
// time with a multiply that carries each into the high bits, so that values
// differing anywhere spread over the slots.
inline size_t value_hash(std::string_view value) {
  constexpr uint64_t kMul = 0x9e3779b97f4a7c15u;
  const char* p = value.data();
  size_t n = value.size();
  auto word = [](const char* at) {
    uint64_t w;
    std::memcpy(&w, at, sizeof w);
    return w;
  };
  uint64_t h = (n + 1) * kMul;
  if (n >= 8) {
    for (; n > 8; p += 8, n -= 8) {
      h = (h ^ word(p)) * kMul;
      h ^= h >> 32;
    }
    // The last eight bytes, overlapping bytes already taken when the length
    // is not a multiple of eight.
    h ^= word(p + n - 8);
  } else if (n >= 4) {
    uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + n - 4, 4);
    h ^= lo | static_cast<uint64_t>(hi) << 32;
  } else if (n > 0) {
    h ^= static_cast<uint64_t>(static_cast<unsigned char>(p[0])) |
         static_cast<uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 |
         static_cast<uint64_t>(static_cast<unsigned char>(p[n - 1])) << 16;
  }
  h *= kMul;
  h ^= h >> 29;
  h *= kMul;
  return static_cast<size_t>(h ^ h >> 32);
}

// One value and the rules filed under it; its key is a view into the target
// table, valid while that table is unchanged. The first rule, the one that
// decides most lookups, is kept in the slot with its choices, so that a
// lookup-table rule costs no visit to the rule list or the rule.
struct ValueSlot {
  size_t hash = 0;
  std::string_view key;  // null data: the slot is free
  int begin = 0;         // the rules filed here: ValueIndex::rules[begin] up to [end]
  int end = 0;
  int rule = kNoRule;     // the first of them,
  int first = 0;          // its first choice,
  int last = -1;          // its last choice,
  bool key_only = false;  // and whether its key is its only test
};

// Owns its slots and rule lists; keys are views into the target table and
// stay valid while that table is unchanged. An open-addressing table at most
// two thirds full: a lookup costs one probe sequence over a flat array.
struct ValueIndex {
  struct Filed {
    std::string_view value;
    int rule;
  };

  int column = 0;
  std::vector<ValueSlot> slots;
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
  size_t mask = index.slots.size() - 1;
  size_t h = value_hash(value);
  for (size_t k = h & mask;; k = (k + 1) & mask) {
    const ValueSlot& slot = index.slots[k];
    if (slot.key.data() == nullptr) return nullptr;
    if (slot.hash == h && slot.key == value) return &slot;
  }
}
