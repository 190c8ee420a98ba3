// A line continues when its last non-blank byte is a backslash; the mark and
// the blanks after it are cut off so the caller can append the line as it is.
#include <velalib/rdlines.h>
#include <velalib/velastring.h>

int is_continued(char* s) {
  char* mark = nullptr;
  for (char* p = s; *p != '\0'; ++p) {
    if (*p == '\\') {
      mark = p;
    } else if (!is_blank_byte(*p)) {
      mark = nullptr;
    }
  }
  if (mark == nullptr) return 0;
  *mark = '\0';
  return 1;
}
