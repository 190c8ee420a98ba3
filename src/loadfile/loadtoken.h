// The reader's kinds of line and its sections. Private to the load file
// library (and its tests and fuzzing harness, which run the reader's states
// on their own).
#pragma once

#include <string_view>

#include <loadfile/loadline.h>

enum LoadToken {
  TOK_BADLINE = 0,
  TOK_EOF = 1,
  TOK_BLANK = 2,
  TOK_REMARK = 3,
  TOK_DATA = 4,
  TOK_ENDROW = 5,
  TOK_ENDHEADER = 6,
  TOK_ENDFILE = 7,
};

enum LoadSection { LOAD_HEADER = 1, LOAD_ROW = 2 };

// The kind of a whole line (its text without the newline) that is neither
// blank nor a remark, or any line inside a COMMENT: the closing line it is
// (closing_load_word), else TOK_DATA.
constexpr int closing_load_token(std::string_view line) {
  std::string_view word = closing_load_word(line);
  if (word.empty()) return TOK_DATA;
  if (word == kLoadEndRow) return TOK_ENDROW;
  return word == kLoadEndHeader ? TOK_ENDHEADER : TOK_ENDFILE;
}
