// TextList: an indexed list of strings packed in one CharBuf. Entries handed
// out point into `chars` and stay valid only until the next addition of text
// to the same list. Strings passed in are copied; they must not lie in the
// same list's `chars`.
#pragma once

#include <string_view>

#include "buffer.h"

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
int put_text(TextList& list, int i, std::string_view s);
const char* get_text(const TextList& list, int i);
int find_text(const TextList& list, std::string_view s);
int copy_text(TextList& list, int from, int to);
// Makes the n entries from `to` on share entry from's text, as n calls of
// copy_text would; returns to, or -1.
int share_text(TextList& list, int from, int to, int n);
int cat_text(TextList& list, int i, std::string_view s);
void free_text(TextList& list);
