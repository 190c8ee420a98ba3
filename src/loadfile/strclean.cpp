// Cleaning of names and values, the plain path (loadclean.h), and strclean
// on it.
#include <cstring>

#include <loadfile/lodstring.h>
#include "loadclean.h"

namespace {

// Cleans [in, end) of text already clean from `first` up to `in`: a lone
// space between printing bytes stays where it stands, and nothing moves
// until a longer run of blanks or another blank byte turns up. `first` and
// end[-1] are printing bytes; kUpper folds letters in the same pass.
template <bool kUpper>
std::string_view clean_from(char* first, char* in, char* end) {
  for (; in < end; ++in) {
    char c = *in;
    if (is_blank_byte(c)) {
      if (c != ' ' || is_blank_byte(in[1])) break;  // in[1] exists: end[-1] is printing
    } else if (kUpper && upper_byte(c) != c) {
      *in = upper_byte(c);
    }
  }
  char* out = in;
  while (in < end) {
    char c = *in++;
    if (is_blank_byte(c)) {
      while (is_blank_byte(*in)) ++in;  // stops at the latest at end[-1]
      c = ' ';
    } else if (kUpper) {
      c = upper_byte(c);
    }
    *out++ = c;
  }
  return {first, static_cast<std::size_t>(out - first)};
}

template <bool kUpper>
std::string_view clean_text(char* text, std::size_t length) {
  char* in = text;
  char* end = text + length;
  while (in < end && is_blank_byte(*in)) ++in;
  while (end > in && is_blank_byte(end[-1])) --end;
  return clean_from<kUpper>(in, in, end);
}

}  // namespace

std::string_view clean_load_whole(char* text, std::size_t length, bool upper) {
  return upper ? clean_text<true>(text, length) : clean_text<false>(text, length);
}

std::string_view clean_load_from(char* first, char* in, char* end) {
  return clean_from<false>(first, in, end);
}

void strclean(char* s) {
  if (s == nullptr) return;
  std::string_view clean = clean_load_whole(s, std::strlen(s), false);
  std::memmove(s, clean.data(), clean.size());
  s[clean.size()] = '\0';
}
