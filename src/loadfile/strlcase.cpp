#include <loadfile/lodstring.h>

// Lower-cases the letters A-Z in place and returns s. Done by hand rather
// than with tolower, so that no locale can change other bytes.
char* strlcase(char* s) {
  if (s == nullptr) return s;
  for (char* p = s; *p != '\0'; ++p) {
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
  }
  return s;
}
