// Index of the first byte that is not blank, or of the terminator.
#include <velalib/rdlines.h>
#include <velalib/velastring.h>

int first_char(const char* s) {
  int i = 0;
  while (s[i] != '\0' && is_blank_byte(s[i])) ++i;
  return i;
}
