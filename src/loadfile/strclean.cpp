#include <loadfile/lodstring.h>

// Trims blank bytes from both ends and squeezes every inner run of them to
// one space, in place. Bytes from 128 to 255 count as blanks too.
void strclean(char* s) {
  if (s == nullptr) return;
  const char* in = s;
  while (*in != '\0' && is_blank_byte(*in)) ++in;
  char* out = s;
  bool gap = false;
  for (; *in != '\0'; ++in) {
    if (is_blank_byte(*in)) {
      gap = true;
      continue;
    }
    // A run is written only once a byte follows it, so a closing run vanishes.
    if (gap) *out++ = ' ';
    gap = false;
    *out++ = *in;
  }
  *out = '\0';
}
