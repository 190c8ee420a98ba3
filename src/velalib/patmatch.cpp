// The tool set's one wildcard matcher: `*` for any run of bytes, `?` for one
// byte, compared byte for byte. A star absorbs text only up to the first byte
// equal to the pattern byte after it; the matcher never backtracks.
#include <velalib/wildexpand.h>

int patmatch(const char* pattern, const char* text) {
  int p = 0;
  int s = 0;
  for (;;) {
    if (pattern[p] == '*') {
      if (text[s] == '\0' || text[s] == pattern[p + 1]) {
        ++p;
      } else {
        ++s;
      }
    } else if (pattern[p] == '?' && text[s] != '\0') {
      ++p;
      ++s;
    } else if (pattern[p] == '\0') {
      return text[s] == '\0' ? 1 : 0;
    } else if (pattern[p] != text[s]) {
      return 0;
    } else {
      ++p;
      ++s;
    }
  }
}
