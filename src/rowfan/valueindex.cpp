// Laying out the index from a tested value to its rules.

#include "valueindex.h"

namespace {

// The slot that holds `value`, claimed for it if it has none yet.
size_t place(ValueIndex& index, std::string_view value) {
  size_t mask = index.slots.size() - 1;
  size_t h = value_hash(value);
  for (size_t k = h & mask;; k = (k + 1) & mask) {
    ValueSlot& slot = index.slots[k];
    if (slot.key.data() == nullptr) {
      slot.hash = h;
      slot.key = value;
      return k;
    }
    if (slot.hash == h && slot.key == value) return k;
  }
}

}  // namespace

void lay_out_index(ValueIndex& index) {
  size_t size = 16;
  while (size * 2 < index.filed.size() * 3) size *= 2;  // at most two thirds full
  index.slots.assign(size, ValueSlot());
  std::vector<int> count(size, 0);
  std::vector<size_t> slot_of(index.filed.size());
  for (size_t i = 0; i < index.filed.size(); i++) {
    slot_of[i] = place(index, index.filed[i].value);
    count[slot_of[i]]++;
  }
  int at = 0;
  for (size_t k = 0; k < size; k++) {
    index.slots[k].begin = index.slots[k].end = at;
    at += count[k];
  }
  // Rules were filed in rule order, so each slot's list is in rule order.
  index.rules.resize(index.filed.size());
  for (size_t i = 0; i < index.filed.size(); i++) {
    index.rules[index.slots[slot_of[i]].end++] = index.filed[i].rule;
  }
  for (ValueSlot& slot : index.slots) {
    if (slot.begin != slot.end) slot.rule = index.rules[slot.begin];
  }
  index.filed.clear();
  index.filed.shrink_to_fit();
}
