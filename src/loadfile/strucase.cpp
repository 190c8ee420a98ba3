#include <loadfile/lodstring.h>

// Upper-cases `s` in place by upper_byte and returns it.
char* strucase(char* s) {
  if (s == nullptr) return s;
  for (char* p = s; *p != '\0'; ++p) *p = upper_byte(*p);
  return s;
}
