// The table store's index of names: a hash from a name to its entry in a
// TextList. The TextList remains the record of the names; the index only
// points into it and catches up with the list as it grows.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include <loadfile/text.h>
#include "openhash.h"

inline const char* text_at(const TextList& list, int i) {
  return list.chars.data + list.offsets.data[i];
}

inline bool same_text(const char* text, std::string_view s) {
  return strnlen(text, s.size() + 1) == s.size() && std::memcmp(text, s.data(), s.size()) == 0;
}

// Name -> entry number, for the entries of one TextList. Entries are taken
// in as the list grows, on the next lookup; when a name occurs twice the
// lower entry stays, as a scan from 0 would find it.
class NameIndex {
 public:
  int find(const TextList& list, std::string_view name) {
    catch_up(list);
    const Slot* slot = slots_.find(
        hash_text(name), [&](const Slot& s) { return same_text(text_at(list, s.entry), name); });
    return slot != nullptr ? slot->entry : -1;
  }

 private:
  struct Slot {
    std::size_t hash = 0;
    int entry = -1;
    bool is_free() const { return entry < 0; }
  };
  // A Table has tens of names; the first array holds them with no growth.
  static constexpr std::size_t kFirstSlots = 16;

  void catch_up(const TextList& list) {
    if (list.count < indexed_) {  // the list was freed and set up again
      slots_.clear();
      indexed_ = 0;
    }
    for (; indexed_ < list.count; ++indexed_) insert(list, indexed_);
  }

  void insert(const TextList& list, int entry) {
    const char* text = text_at(list, entry);
    bool added = false;
    Slot& slot = slots_.claim(
        hash_text(text),
        [&](const Slot& s) { return std::strcmp(text_at(list, s.entry), text) == 0; }, &added);
    if (added) slot.entry = entry;
  }

  OpenHash<Slot, kHashHalfFull, kFirstSlots> slots_;
  int indexed_ = 0;  // entries 0 .. indexed_ - 1 of the list are in
};
