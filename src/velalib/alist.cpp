// Association list: keys and values in two parallel TextLists, looked up by a
// linear scan in order of first addition.
#include <velalib/alist.h>

#include <cstdio>
#include <new>

#include <loadfile/buffer.h>
#include <velalib/rdlines.h>
#include <velalib/velaerror.h>
#include <velalib/velastring.h>
#include <velalib/wildexpand.h>
#include "owners.h"

namespace {

// Texts handed out point into the list's storage; the TextList gives them
// read-only, the association list's callers receive them writable.
char* text_at(const TextList& list, int i) {
  return const_cast<char*>(get_text(list, i));
}

}  // namespace

Alist* create_alist() try {
  auto* list = new Alist;
  init_text(list->keys, 10, 100);
  init_text(list->values, 10, 100);
  return list;
} catch (const std::bad_alloc&) {
  out_of_memory();
}

void add_alist(Alist* list, const char* key, const char* value) {
  int i = find_text(list->keys, key);
  if (i < 0) {
    // Appended to both lists at once, so key and value share the new index.
    add_text(list->keys, key);
    add_text(list->values, value);
  } else {
    put_text(list->values, i, value);
  }
}

char* find_alist(Alist* list, const char* key) {
  int i = find_text(list->keys, key);
  return i < 0 ? nullptr : text_at(list->values, i);
}

int each_alist(Alist* list, int index, char** key, char** value) {
  char* k = text_at(list->keys, index);
  char* v = k == nullptr ? nullptr : text_at(list->values, index);
  if (key != nullptr) *key = k;
  if (value != nullptr) *value = v;
  return k == nullptr ? -1 : 0;
}

void free_alist(Alist* list) {
  if (list == nullptr) return;
  free_text(list->keys);
  free_text(list->values);
  delete list;
}

char* match_alist(Alist* list, const char* pattern, int* index) {
  const int count = list->keys.count;
  if (*index < 0) *index = 0;
  while (*index < count) {
    int i = (*index)++;
    if (patmatch(pattern, get_text(list->keys, i))) return text_at(list->values, i);
  }
  return nullptr;
}

char* patmatch_alist(Alist* list, const char* string) {
  for (int i = 0; i < list->keys.count; ++i) {
    if (patmatch(get_text(list->keys, i), string)) return text_at(list->values, i);
  }
  return nullptr;
}

Alist* read_alist(const char* filename) {
  FilePtr stream(std::fopen(filename, "r"));
  if (!stream) vela_error(VELA_CANNOT_OPEN_FILE, "%s", filename);

  Alist* list = create_alist();
  char line[512];
  char* fields[2];
  while (rdlines(stream.get(), line, 511) == 0) {
    // The key is the first word and the value the second; either may be
    // quoted to hold blanks, and further words are ignored.
    strsplit(' ', line, fields, 2);
    add_alist(list, fields[0], fields[1]);
  }
  return list;
}
