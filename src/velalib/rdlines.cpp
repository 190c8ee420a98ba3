// Continued-line reader: one logical line per call. Blank lines and lines
// whose first non-blank byte is "#" are skipped; a line whose last non-blank
// byte is a backslash is joined with the next, which loses its leading blanks.
#include <cstdio>
#include <cstring>

#include <velalib/rdlines.h>
#include <velalib/velaerror.h>
#include <velalib/velastring.h>

namespace {

constexpr int kLineSize = 512;
// fgets reads one byte less than its limit, so a physical line holds at most
// 510 bytes: 509 characters and the newline.
constexpr int kReadLimit = kLineSize - 1;

// Reads physical lines into buf until a logical line ends. Returns true when
// the end of the file stopped it.
bool read_logical(std::FILE* stream, char* buf, int maxlen) {
  char line[kLineSize];
  bool continued = false;
  for (;;) {
    if (std::fgets(line, kReadLimit, stream) == nullptr) return true;

    char* newline = std::strchr(line, '\n');
    if (newline != nullptr) {
      *newline = '\0';
    } else if (std::strlen(line) >= kReadLimit - 1) {
      char head[41];
      safecopy(head, line, 40);
      vela_error(VELA_STRING_TOO_LONG, "%s ...", head);
    }

    int start = first_char(line);
    const bool skip = line[start] == '\0' || line[start] == '#';
    if (skip) {
      // A blank or comment line is passed over before a logical line and
      // ends one that a backslash left open.
      if (continued) return false;
      continue;
    }

    // The first physical line keeps its leading blanks.
    if (!continued) start = 0;
    continued = is_continued(line) != 0;
    safecat(buf, line + start, maxlen);
    if (!continued) return false;
  }
}

}  // namespace

int rdlines(std::FILE* stream, char* buf, int maxlen) {
  buf[0] = '\0';
  // A logical line can come out empty (a lone backslash before a blank line);
  // read on rather than report the end of a file that has more in it.
  while (!read_logical(stream, buf, maxlen)) {
    if (buf[0] != '\0') return 0;
  }
  return buf[0] != '\0' ? 0 : -1;
}
