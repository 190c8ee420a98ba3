// What one line of a load file may hold, for the code that writes load files
// or values bound for them: the reader's limit, the closing lines, and the
// layout the writer gives a `name = value` line so that it fits.
#pragma once

#include <cstddef>
#include <string_view>

#include <loadfile/loadfile.h>

// Bytes a line may hold before its newline; the reader refuses a longer one.
constexpr size_t kLoadLineMax = 78;

// The kind the reader gives `line` (its text without the newline) where it
// stands inside a COMMENT: TOK_ENDROW, TOK_ENDHEADER or TOK_ENDFILE for a
// closing line, which ends the comment, else TOK_DATA, which belongs to it.
int closing_load_token(std::string_view line);

// How the writer lays out `name` and `value`: "NAME = value", or "NAME=value"
// where only that fits. A COMMENT is "COMMENT =" or "COMMENT=" directly
// followed by its value, which runs on to its own newlines; its first line
// decides the layout, and every later one is written as it stands.
struct LoadLineFit {
  bool compact = false;     // the blanks around `=` are left out
  long lines = 1;           // lines the value is written on
  int overlong = 0;         // of those, how many pass kLoadLineMax even so
  long first_overlong = 0;  // the first of them, counted from 0
};
LoadLineFit fit_load_line(std::string_view name, std::string_view value, bool is_comment);
