// In-place field splitter. A field is a run of bytes up to the separator, or
// a quoted run up to its closing quote; runs of separators give no empty
// fields, and the entries past the last field read as empty strings.
#include <loadfile/lodstring.h>
#include <velalib/velastring.h>

void strsplit(int sep, char* str, char** fields, int maxfields) {
  if (maxfields < 1) return;
  if (*str == '\0') {
    for (int i = 0; i < maxfields; ++i) fields[i] = str;
    return;
  }

  const char separator = static_cast<char>(sep);
  bool in_field = false;
  char terminator = separator;
  int n = 0;
  char* p = str;
  for (; *p != '\0'; ++p) {
    // Every blank byte (tabs, other controls, bytes 128-255) separates like
    // a space.
    if (is_blank_byte(*p)) *p = ' ';

    if (!in_field) {
      if (*p == separator) continue;
      if (*p == '"' || *p == '\'') {
        terminator = *p;
        fields[n++] = p + 1;
      } else {
        terminator = separator;
        fields[n++] = p;
      }
      in_field = true;
    } else if (*p == terminator) {
      *p = '\0';
      in_field = false;
      if (n >= maxfields) break;
    }
  }

  // p rests on a NUL: the string's own, or the one that closed the last field.
  for (int i = n; i < maxfields; ++i) fields[i] = p;
}
