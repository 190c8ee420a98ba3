// Growable byte and integer arrays: one template, GrowBuf, under both.
//
// `capacity` grows linearly by `increment`, and that is the figure callers
// see. The storage really reserved (`allocated`) grows geometrically ahead of
// it, so that a buffer of hundreds of megabytes is not copied once per
// increment. Offsets are signed 32-bit: a buffer never grows past INT_MAX
// bytes (or elements); an addition that would is refused with -1 and the
// buffer is left as it was.
#include <loadfile/buffer.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

#include "storage.h"

namespace {

constexpr int kDefaultCapacity = 100;

// The capacity after linear growth to hold `needed` elements: the first value
// of capacity, capacity + increment, ... that is not less than `needed`. Past
// INT_MAX it stops at INT_MAX, which still holds `needed` (callers never ask
// for more).
int linear_capacity(int capacity, int increment, long long needed) {
  if (needed <= capacity) return capacity;
  long long steps = (needed - capacity + increment - 1) / increment;
  long long grown = capacity + steps * increment;
  return grown > INT_MAX ? INT_MAX : static_cast<int>(grown);
}

// What to really reserve for `capacity` elements: half as much again as
// before, at least `capacity`, never more than INT_MAX elements.
long long geometric_reserve(long long allocated, int capacity) {
  long long want = allocated + allocated / 2;
  if (want > INT_MAX) want = INT_MAX;
  return want < capacity ? capacity : want;
}

int initial_capacity(int n) {
  return n < 1 ? kDefaultCapacity : n;
}

// Sets `buf` up empty with room for `n` elements (100 when n is below one).
template <typename T>
void init_buf(GrowBuf<T>& buf, int n) {
  n = initial_capacity(n);
  std::free(buf.data);
  buf.data = static_cast<T*>(grow_storage(nullptr, sizeof(T) * n));
  buf.used = 0;
  buf.capacity = n;
  buf.increment = n;
  buf.allocated = n;
}

// Grows `capacity` linearly to hold `needed` elements, and the storage
// behind it geometrically when it falls short.
template <typename T>
void reserve_buf(GrowBuf<T>& buf, long long needed) {
  buf.capacity = linear_capacity(buf.capacity, buf.increment, needed);
  if (buf.capacity > buf.allocated) {
    buf.allocated = geometric_reserve(buf.allocated, buf.capacity);
    buf.data = static_cast<T*>(grow_storage(buf.data, sizeof(T) * buf.allocated));
  }
}

template <typename T>
void free_buf(GrowBuf<T>& buf) {
  std::free(buf.data);
  buf.data = nullptr;
  buf.used = buf.capacity = buf.increment = 0;
  buf.allocated = 0;
}

}  // namespace

bool out_of_memory_on_stderr = false;

std::atomic<int> storage_throwing_growths_left{-1};

namespace {

thread_local bool out_of_memory_throws = false;

// The test switch: whether this growth is to fail.
bool growth_fails() {
  if (!out_of_memory_throws || storage_throwing_growths_left.load() < 0) return false;
  return storage_throwing_growths_left.fetch_sub(1) == 0;
}

}  // namespace

OutOfMemoryThrows::OutOfMemoryThrows() : saved_(out_of_memory_throws) {
  out_of_memory_throws = true;
}

OutOfMemoryThrows::~OutOfMemoryThrows() {
  out_of_memory_throws = saved_;
}

void out_of_memory() {
  if (out_of_memory_throws) throw std::bad_alloc();
  std::FILE* stream = out_of_memory_on_stderr ? stderr : stdout;
  std::fputs("Cannot allocate memory\n", stream);
  std::fflush(stream);
  std::exit(1);
}

void* grow_storage(void* p, std::size_t bytes) {
  // A failed growth leaves `p` as it was, as a failed realloc does.
  void* grown = growth_fails() ? nullptr : std::realloc(p, bytes == 0 ? 1 : bytes);
  if (grown == nullptr) out_of_memory();
  return grown;
}

void init_char_buf(CharBuf& buf, int n) {
  init_buf(buf, n);
}

void init_int_buf(IntBuf& buf, int n) {
  init_buf(buf, n);
}

int put_char_buf(CharBuf& buf, const char* s, int len) {
  if (len < 0) return -1;
  long long needed = static_cast<long long>(buf.used) + len + 1;
  if (needed > INT_MAX) return -1;
  // A buffer that was never set up grows from the default capacity.
  if (buf.increment < 1) init_char_buf(buf, 0);

  // A string taken from this very buffer would move with it; keep its offset.
  const char* base = buf.data;
  bool inside =
      !std::less<const char*>()(s, base) && std::less<const char*>()(s, base + buf.allocated);
  long long inside_at = inside ? s - base : 0;

  reserve_buf(buf, needed);
  if (inside) s = buf.data + inside_at;
  int offset = buf.used;
  if (len > 0) std::memmove(buf.data + offset, s, len);
  buf.data[offset + len] = '\0';
  buf.used = static_cast<int>(needed);
  return offset;
}

int put_char_buf(CharBuf& buf, const char* s) {
  std::size_t len = std::strlen(s);
  if (len > INT_MAX) return -1;
  return put_char_buf(buf, s, static_cast<int>(len));
}

int put_int_buf(IntBuf& buf, int value) {
  if (buf.used == INT_MAX) return -1;
  if (buf.increment < 1) init_int_buf(buf, 0);
  if (buf.used == buf.capacity) reserve_buf(buf, buf.used + 1LL);
  buf.data[buf.used] = value;
  return buf.used++;
}

namespace {

template <typename T>
int extend_buf(GrowBuf<T>& buf, int n) {
  long long needed = static_cast<long long>(buf.used) + n;
  if (n < 0 || needed > INT_MAX) return -1;
  if (buf.increment < 1) init_buf(buf, 0);
  reserve_buf(buf, needed);
  int offset = buf.used;
  buf.used = static_cast<int>(needed);
  return offset;
}

}  // namespace

int extend_char_buf(CharBuf& buf, int n) {
  return extend_buf(buf, n);
}

int extend_int_buf(IntBuf& buf, int n) {
  return extend_buf(buf, n);
}

int top_char_buf(const CharBuf& buf, int offset) {
  if (offset < 0 || offset >= buf.used) return -1;
  // An empty string, such as a table's shared empty cell, needs no search.
  if (buf.data[offset] == '\0') return offset == buf.used - 1 ? offset : -1;
  const void* nul = std::memchr(buf.data + offset, '\0', buf.used - offset);
  if (nul == nullptr) return -1;
  int end = static_cast<int>(static_cast<const char*>(nul) - buf.data) + 1;
  return end == buf.used ? end - 1 : -1;
}

void free_char_buf(CharBuf& buf) {
  free_buf(buf);
}

void free_int_buf(IntBuf& buf) {
  free_buf(buf);
}
