#include <loadfile/lodstring.h>

// Upper-cases the letters a-z in place and returns s. Done by hand rather
// than with toupper, so that no locale can change other bytes.
char* strucase(char* s) {
  if (s == nullptr) return s;
  for (char* p = s; *p != '\0'; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  }
  return s;
}
