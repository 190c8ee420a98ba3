// Bounded append: maxlen limits the whole result, not the appended part, so
// a caller can build a line piece by piece against one buffer size.
#include <cstring>

#include <velalib/velastring.h>

void safecat(char* dst, const char* src, int maxlen) {
  int len = static_cast<int>(std::strlen(dst));
  if (len >= maxlen) return;
  for (; len < maxlen && *src != '\0'; ++len, ++src) dst[len] = *src;
  dst[len] = '\0';
}
