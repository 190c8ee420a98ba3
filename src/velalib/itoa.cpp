// Decimal text of an int, for numbers kept in Tables as text.
#include <cstdio>

#include "velastring.h"

char* itoa(int n) {
  // Shared by every call: callers copy the text before the next one.
  static char text[64];
  std::snprintf(text, sizeof text, "%d", n);
  return text;
}
