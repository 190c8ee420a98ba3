// Laying out the index from a tested value to its rules.

#include "valueindex.h"

void lay_out_index(ValueIndex& index) {
  index.slots.reserve(index.filed.size());
  std::vector<int> count(index.slots.size(), 0);
  std::vector<std::size_t> slot_of(index.filed.size());
  for (std::size_t i = 0; i < index.filed.size(); i++) {
    std::string_view value = index.filed[i].value;
    bool added = false;
    ValueSlot& slot = index.slots.claim(
        hash_text(value), [&](const ValueSlot& s) { return s.key == value; }, &added);
    if (added) slot.key = value;
    slot_of[i] = index.slots.index_of(slot);
    count[slot_of[i]]++;
  }
  int at = 0;
  for (ValueSlot& slot : index.slots) {
    slot.begin = slot.end = at;
    at += count[index.slots.index_of(slot)];
  }
  // Rules were filed in rule order, so each slot's list is in rule order.
  index.rules.resize(index.filed.size());
  for (std::size_t i = 0; i < index.filed.size(); i++) {
    index.rules[index.slots[slot_of[i]].end++] = index.filed[i].rule;
  }
  for (ValueSlot& slot : index.slots) {
    if (slot.begin != slot.end) slot.rule = index.rules[slot.begin];
  }
  index.filed.clear();
  index.filed.shrink_to_fit();
}
