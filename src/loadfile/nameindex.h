// The table store's index of names: an open-addressing hash from a name to
// its entry in a TextList. The TextList remains the record of the names; the
// index only points into it and catches up with the list as it grows.
#pragma once

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>

#include "storage.h"
#include <loadfile/text.h>

inline unsigned hash_name(std::string_view name) {
  return static_cast<unsigned>(std::hash<std::string_view>()(name));
}

inline const char* text_at(const TextList& list, int i) {
  return list.chars.data + list.offsets.data[i];
}

inline bool same_text(const char* text, std::string_view s) {
  return strnlen(text, s.size() + 1) == s.size() && std::memcmp(text, s.data(), s.size()) == 0;
}

// Open-addressing hash of the entries of one TextList, name -> entry number.
// Entries are taken in as the list grows, on the next lookup; when a name
// occurs twice the lower entry stays, as a scan from 0 would find it.
class NameIndex {
 public:
  NameIndex() = default;
  NameIndex(const NameIndex&) = delete;
  NameIndex& operator=(const NameIndex&) = delete;
  ~NameIndex() { std::free(slots_); }

  int find(const TextList& list, std::string_view name) {
    catch_up(list);
    if (nslots_ == 0) return -1;
    unsigned hash = hash_name(name);
    for (unsigned i = hash & mask();; i = (i + 1) & mask()) {
      const Slot& slot = slots_[i];
      if (slot.entry < 0) return -1;
      if (slot.hash == hash && same_text(text_at(list, slot.entry), name)) return slot.entry;
    }
  }

 private:
  struct Slot {
    int entry;  // -1: free
    unsigned hash;
  };

  unsigned mask() const { return static_cast<unsigned>(nslots_) - 1; }

  void catch_up(const TextList& list) {
    if (list.count < indexed_) {  // the list was freed and set up again
      for (int i = 0; i < nslots_; ++i) slots_[i].entry = -1;
      filled_ = indexed_ = 0;
    }
    for (; indexed_ < list.count; ++indexed_) insert(list, indexed_);
  }

  void insert(const TextList& list, int entry) {
    // At most half full, so that probe runs stay short.
    if (2LL * (filled_ + 1) > nslots_) rehash(nslots_ == 0 ? 16 : 2 * nslots_);
    const char* text = text_at(list, entry);
    unsigned hash = hash_name(text);
    unsigned i = hash & mask();
    for (; slots_[i].entry >= 0; i = (i + 1) & mask()) {
      if (slots_[i].hash == hash && std::strcmp(text_at(list, slots_[i].entry), text) == 0) return;
    }
    slots_[i] = Slot{entry, hash};
    ++filled_;
  }

  void rehash(int nslots) {
    Slot* old = slots_;
    int nold = nslots_;
    slots_ = static_cast<Slot*>(grow_storage(nullptr, sizeof(Slot) * nslots));
    nslots_ = nslots;
    for (int i = 0; i < nslots_; ++i) slots_[i].entry = -1;
    for (int j = 0; j < nold; ++j) {
      if (old[j].entry < 0) continue;
      unsigned i = old[j].hash & mask();
      while (slots_[i].entry >= 0) i = (i + 1) & mask();
      slots_[i] = old[j];
    }
    std::free(old);
  }

  Slot* slots_ = nullptr;
  int nslots_ = 0;  // 0 or a power of two
  int filled_ = 0;
  int indexed_ = 0;  // entries 0 .. indexed_ - 1 of the list are in
};
