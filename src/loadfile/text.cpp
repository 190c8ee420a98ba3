// TextList: strings packed one after another in a CharBuf, found through an
// IntBuf of offsets. Replacing an entry appends its new text; nothing is moved
// or reclaimed before free_text.
#include <loadfile/text.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include <loadfile/loderror.h>

const char* const text_message[] = {
    "Text line index out of bounds",
    "Text storage exhausted",
};

namespace {

enum TextMessage { kOutOfBounds, kExhausted };

int fail(TextMessage m) {
  lod_error = text_message[m];
  return -1;
}

int store(TextList& list, std::string_view s) {
  if (s.size() > INT_MAX) return -1;
  int length = static_cast<int>(s.size());
  CharBuf& chars = list.chars;
  // Text goes in one string at a time, millions of them for a large table:
  // while it fits within `capacity` it is copied here, and only growth goes
  // through put_char_buf.
  if (chars.data != nullptr && length < chars.capacity - chars.used) {
    int offset = chars.used;
    if (length > 0) std::memmove(chars.data + offset, s.data(), s.size());
    chars.data[offset + length] = '\0';
    chars.used = offset + length + 1;
    return offset;
  }
  return put_char_buf(chars, s.data(), length);
}

}  // namespace

void init_text(TextList& list, int nentries, int nchars) {
  init_int_buf(list.offsets, nentries);
  init_char_buf(list.chars, nchars);
  list.count = 0;
  list.tail_shared = false;
}

int add_text(TextList& list, std::string_view s) {
  int offset = store(list, s);
  if (offset < 0) return fail(kExhausted);
  int i = put_int_buf(list.offsets, offset);
  if (i < 0) return fail(kExhausted);
  list.count = i + 1;
  list.tail_shared = false;
  return i;
}

int put_text_grow(TextList& list, int i, std::string_view s) {
  if (i < 0 || i > list.count) return fail(kOutOfBounds);
  if (i == list.count) return add_text(list, s);
  int offset = store(list, s);
  if (offset < 0) return fail(kExhausted);
  list.offsets.data[i] = offset;
  list.tail_shared = false;
  return i;
}

const char* get_text(const TextList& list, int i) {
  if (i < 0 || i >= list.count) {
    fail(kOutOfBounds);
    return nullptr;
  }
  return list.chars.data + list.offsets.data[i];
}

int find_text(const TextList& list, std::string_view s) {
  for (int i = 0; i < list.count; ++i) {
    const char* text = list.chars.data + list.offsets.data[i];
    // strnlen first, so that memcmp never reads past a shorter text's NUL.
    if (strnlen(text, s.size() + 1) == s.size() && std::memcmp(text, s.data(), s.size()) == 0) {
      return i;
    }
  }
  return -1;
}

int copy_text(TextList& list, int from, int to) {
  if (from < 0 || from >= list.count) return fail(kOutOfBounds);
  if (to < 0 || to > list.count) return fail(kOutOfBounds);
  int offset = list.offsets.data[from];
  if (top_char_buf(list.chars, offset) >= 0) list.tail_shared = true;
  if (to == list.count) {
    int i = put_int_buf(list.offsets, offset);
    if (i < 0) return fail(kExhausted);
    list.count = i + 1;
  } else {
    list.offsets.data[to] = offset;
  }
  return to;
}

int share_text(TextList& list, int from, int to, int n) {
  if (from < 0 || from >= list.count) return fail(kOutOfBounds);
  if (to < 0 || to > list.count || n < 0) return fail(kOutOfBounds);
  if (static_cast<long long>(to) + n > INT_MAX) return fail(kExhausted);
  if (n == 0) return to;
  IntBuf& offsets = list.offsets;
  int offset = offsets.data[from];
  if (top_char_buf(list.chars, offset) >= 0) list.tail_shared = true;
  // A new row of a table: n entries added at the end, in room reserved.
  if (to == list.count && offsets.used == list.count && n <= offsets.capacity - offsets.used) {
    std::fill_n(offsets.data + to, n, offset);
    offsets.used += n;
    list.count = offsets.used;
    return to;
  }
  int stop = to + n;
  int i = to;
  for (; i < stop && i < list.count; ++i) offsets.data[i] = offset;
  for (; i < stop; ++i) {
    if (offsets.used < offsets.capacity) {
      offsets.data[offsets.used++] = offset;
    } else if (put_int_buf(offsets, offset) < 0) {
      list.count = offsets.used;
      return fail(kExhausted);
    }
  }
  list.count = offsets.used;
  return to;
}

int join_text(TextList& list, const TextList& from, int first) {
  if (first < 0 || first > from.count || list.offsets.used != list.count) {
    return fail(kOutOfBounds);
  }
  int n = from.count - first;
  if (static_cast<long long>(list.count) + n > INT_MAX ||
      static_cast<long long>(list.chars.used) + from.chars.used > INT_MAX) {
    return fail(kExhausted);
  }
  int base = extend_char_buf(list.chars, from.chars.used);
  int at = extend_int_buf(list.offsets, n);
  if (from.chars.used > 0) std::memcpy(list.chars.data + base, from.chars.data, from.chars.used);
  for (int i = 0; i < n; ++i) list.offsets.data[at + i] = from.offsets.data[first + i] + base;
  list.count = list.offsets.used;
  // The last text is now the one `from` ended with, shared as it was there.
  list.tail_shared = from.tail_shared;
  return at;
}

int cat_text(TextList& list, int i, std::string_view s) {
  if (i < 0 || i >= list.count) return fail(kOutOfBounds);
  if (s.size() > INT_MAX) return fail(kExhausted);
  CharBuf& chars = list.chars;
  int offset = list.offsets.data[i];
  if (list.tail_shared || top_char_buf(chars, offset) < 0) {
    // Only the last text can grow in place, and only when no other entry
    // shows it: give entry i a fresh copy at the end first. put_char_buf
    // copes with a source inside its own buffer.
    int copy = put_char_buf(chars, chars.data + offset);
    if (copy < 0) return fail(kExhausted);
    list.offsets.data[i] = copy;
    list.tail_shared = false;
  }
  // Drop the NUL of entry i's text, now the last byte in use, so that the
  // appended bytes follow the text directly.
  --chars.used;
  if (put_char_buf(chars, s.data(), static_cast<int>(s.size())) < 0) {
    ++chars.used;  // the NUL was not overwritten
    return fail(kExhausted);
  }
  return i;
}

void free_text(TextList& list) {
  free_char_buf(list.chars);
  free_int_buf(list.offsets);
  list.count = 0;
  list.tail_shared = false;
}
