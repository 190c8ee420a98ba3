// Decimal text of an int, for numbers kept in Tables as text.
#include <charconv>

#include <velalib/velastring.h>

char* itoa(int n) {
  // Shared by every call: callers copy the text before the next one.
  static char text[64];
  char* end = std::to_chars(text, text + sizeof text - 1, n).ptr;
  *end = '\0';
  return text;
}
