// Bounded copy: at most maxlen characters, and dst always terminated.
#include <velalib/velastring.h>

void safecopy(char* dst, const char* src, int maxlen) {
  int i = 0;
  for (; i < maxlen && src[i] != '\0'; ++i) dst[i] = src[i];
  dst[i] = '\0';
}
