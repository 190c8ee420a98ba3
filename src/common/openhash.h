// The one hash table of the libraries and the tool: open addressing with
// linear probing over a flat array of slots, doubled when it gets too full.
// Every index by name or value (a Table's names, the rule set's values, the
// rule parser's columns) is one of these with a slot of its own. Private to
// the source tree: built into the libraries, never installed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>

#include <loadfile/buffer.h>

// Multiplier of the hashes: 2^64 divided by the golden ratio, odd, so that
// a product carries every bit of its factor into the high bits.
inline constexpr std::uint64_t kHashMul = 0x9e3779b97f4a7c15u;

// The hash of a text. Names and values are mostly a few bytes long, so this
// is cheap for short text, yet every byte goes into it, eight at a time with
// a multiply that carries each into the high bits, so that texts differing
// anywhere spread over the slots.
inline std::size_t hash_text(std::string_view text) {
  const char* p = text.data();
  std::size_t n = text.size();
  auto word = [](const char* at) {
    std::uint64_t w;
    std::memcpy(&w, at, sizeof w);
    return w;
  };
  std::uint64_t h = (n + 1) * kHashMul;
  if (n >= 8) {
    for (; n > 8; p += 8, n -= 8) {
      h = (h ^ word(p)) * kHashMul;
      h ^= h >> 32;
    }
    // The last eight bytes, overlapping bytes already taken when the length
    // is not a multiple of eight.
    h ^= word(p + n - 8);
  } else if (n >= 4) {
    std::uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + n - 4, 4);
    h ^= lo | static_cast<std::uint64_t>(hi) << 32;
  } else if (n > 0) {
    h ^= static_cast<std::uint64_t>(static_cast<unsigned char>(p[0])) |
         static_cast<std::uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 |
         static_cast<std::uint64_t>(static_cast<unsigned char>(p[n - 1])) << 16;
  }
  h *= kHashMul;
  h ^= h >> 29;
  h *= kHashMul;
  return static_cast<std::size_t>(h ^ h >> 32);
}

// How full a table may get: at most `num` / `den` of its slots in use, so
// that probe runs stay short. It doubles before an entry would pass that.
struct HashFill {
  std::size_t num;
  std::size_t den;
};
inline constexpr HashFill kHashHalfFull{1, 2};
inline constexpr HashFill kHashTwoThirdsFull{2, 3};

// A table of `Slot`s: 0 slots, or a power of two, at least `kFirstSlots`.
// A Slot is a plain record with a `std::size_t hash` member and
// `bool is_free() const`; a value-initialised Slot is free. Entries are
// found by their hash and a test `same(const Slot&)` that says whether a
// slot holds the entry sought; the table never looks at what else a slot
// holds. Entries are never removed one by one, only all at once (clear).
//
// The table owns its slot array. Running out of memory takes the table
// store's way out (out_of_memory); nothing throws.
template <typename Slot, HashFill kMaxFill, std::size_t kFirstSlots>
class OpenHash {
  static_assert(kFirstSlots > 0 && (kFirstSlots & (kFirstSlots - 1)) == 0,
                "the first size is a power of two");
  static_assert(kMaxFill.num > 0 && kMaxFill.num < kMaxFill.den, "a table keeps a free slot");
  static_assert(std::is_trivially_copyable_v<Slot> && std::is_trivially_destructible_v<Slot>,
                "slots are moved as bytes");

 public:
  OpenHash() = default;
  OpenHash(const OpenHash&) = delete;
  OpenHash& operator=(const OpenHash&) = delete;
  OpenHash(OpenHash&& other) noexcept { swap(other); }
  OpenHash& operator=(OpenHash&& other) noexcept {
    swap(other);
    return *this;
  }
  ~OpenHash() { std::free(slots_); }

  std::size_t size() const { return size_; }
  std::size_t used() const { return used_; }
  Slot* begin() { return slots_; }
  Slot* end() { return slots_ + size_; }
  const Slot* begin() const { return slots_; }
  const Slot* end() const { return slots_ + size_; }
  Slot& operator[](std::size_t k) { return slots_[k]; }
  std::size_t index_of(const Slot& slot) const { return static_cast<std::size_t>(&slot - slots_); }

  // Makes room for `n` entries in all, so that adding them moves nothing.
  void reserve(std::size_t n) {
    std::size_t want = size_ == 0 ? kFirstSlots : size_;
    while (n * kMaxFill.den > want * kMaxFill.num) want *= 2;
    if (want > size_) rehash(want);
  }

  // Frees every slot; the array stays.
  void clear() {
    for (std::size_t k = 0; k < size_; ++k) slots_[k] = Slot{};
    used_ = 0;
  }

  // The slot holding the entry `same` recognises under `hash`, or null.
  template <typename Same>
  const Slot* find(std::size_t hash, Same&& same) const {
    if (size_ == 0) return nullptr;
    const std::size_t mask = size_ - 1;
    for (std::size_t k = hash & mask;; k = (k + 1) & mask) {
      const Slot& slot = slots_[k];
      if (slot.is_free()) return nullptr;
      if (slot.hash == hash && same(slot)) return &slot;
    }
  }
  template <typename Same>
  Slot* find(std::size_t hash, Same&& same) {
    return const_cast<Slot*>(std::as_const(*this).find(hash, same));
  }

  // The slot holding the entry `same` recognises under `hash`; when there
  // is none, a free slot taken for it, its `hash` set, which the caller
  // fills so that it is free no more. `*added` tells which. A slot handed
  // out stays where it is until the next claim that adds an entry.
  template <typename Same>
  Slot& claim(std::size_t hash, Same&& same, bool* added) {
    if (Slot* slot = find(hash, same)) {
      *added = false;
      return *slot;
    }
    reserve(used_ + 1);
    const std::size_t mask = size_ - 1;
    std::size_t k = hash & mask;
    while (!slots_[k].is_free()) k = (k + 1) & mask;
    slots_[k].hash = hash;
    ++used_;
    *added = true;
    return slots_[k];
  }

 private:
  void swap(OpenHash& other) noexcept {
    std::swap(slots_, other.slots_);
    std::swap(size_, other.size_);
    std::swap(used_, other.used_);
  }

  void rehash(std::size_t size) {
    if (size > SIZE_MAX / sizeof(Slot)) out_of_memory();
    auto* slots = static_cast<Slot*>(std::malloc(sizeof(Slot) * size));
    if (slots == nullptr) out_of_memory();
    for (std::size_t k = 0; k < size; ++k) slots[k] = Slot{};
    const std::size_t mask = size - 1;
    for (std::size_t j = 0; j < size_; ++j) {
      if (slots_[j].is_free()) continue;
      std::size_t k = slots_[j].hash & mask;
      while (!slots[k].is_free()) k = (k + 1) & mask;
      slots[k] = slots_[j];
    }
    std::free(slots_);
    slots_ = slots;
    size_ = size;
  }

  Slot* slots_ = nullptr;
  std::size_t size_ = 0;
  std::size_t used_ = 0;
};
