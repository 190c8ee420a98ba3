// TextList: an indexed list of strings packed in one CharBuf. Entries handed
// out point into `chars` and stay valid only until the next addition of text
// to the same list. Strings passed in are copied; they must not lie in the
// same list's `chars`.
#pragma once

#include <cstring>
#include <string_view>

#include <loadfile/buffer.h>

extern const char* const text_message[];

struct TextList {
  CharBuf chars;
  IntBuf offsets;
  int count = 0;
  // Set when copy_text has made the last text in `chars` the text of a second
  // entry; cat_text then copies before it extends, so the other entry keeps
  // its text. Cleared by every addition of new text.
  bool tail_shared = false;
};

void init_text(TextList& list, int nentries, int nchars);
int add_text(TextList& list, std::string_view s);
// put_text where it must grow the list or the storage, or fail.
int put_text_grow(TextList& list, int i, std::string_view s);

// Replaces entry i (or adds it, when i is `count`) with a copy of s. Inline,
// since a table is filled one cell at a time: an entry that exists and text
// that fits in the storage already reserved take only the copy.
inline int put_text(TextList& list, int i, std::string_view s) {
  CharBuf& chars = list.chars;
  if (i < 0 || i >= list.count || chars.data == nullptr ||
      s.size() >= static_cast<size_t>(chars.capacity - chars.used)) {
    return put_text_grow(list, i, s);
  }
  int offset = chars.used;
  // An empty text may be a view with no storage; memcpy must not see it.
  if (!s.empty()) std::memcpy(chars.data + offset, s.data(), s.size());
  chars.data[offset + s.size()] = '\0';
  chars.used = offset + static_cast<int>(s.size()) + 1;
  list.offsets.data[i] = offset;
  list.tail_shared = false;
  return i;
}
const char* get_text(const TextList& list, int i);
int find_text(const TextList& list, std::string_view s);
int copy_text(TextList& list, int from, int to);
// Makes the n entries from `to` on share entry from's text, as n calls of
// copy_text would; returns to, or -1.
int share_text(TextList& list, int from, int to, int n);
int cat_text(TextList& list, int i, std::string_view s);
// Appends entries first, first + 1 ... of `from` to `list`, texts and all,
// in one copy; returns the number of the first appended, or -1 (the list as
// it was) when they would not fit.
int join_text(TextList& list, const TextList& from, int first);
void free_text(TextList& list);
