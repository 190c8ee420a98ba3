// What one line of a load file may hold, for the code that reads or writes
// load files or values bound for them: the reader's limit, the closing
// lines, and the layout the writer gives a `name = value` line so that it
// fits.
#pragma once

#include <cstddef>
#include <string_view>

#include <loadfile/lodstring.h>

// Bytes a line may hold before its newline; the reader refuses a longer one.
constexpr size_t kLoadLineMax = 78;

// The words of the closing lines: the header ends with the first, every row
// with the second, and the rows with the third.
inline constexpr std::string_view kLoadEndHeader = "ENDHEADER";
inline constexpr std::string_view kLoadEndRow = "ENDROW";
inline constexpr std::string_view kLoadEndFile = "ENDFILE";

// The rest of closing_load_word, for a line whose first byte may begin a
// closing word; kept apart so the common test of the first byte is inlined
// wherever a line is read.
constexpr std::string_view closing_load_word_rest(std::string_view line) {
  std::size_t end = line.size();
  while (end > 1 && is_blank_byte(line[end - 1])) --end;
  auto is = [&](std::string_view word) {
    if (end != word.size()) return false;
    for (std::size_t i = 1; i < end; ++i) {
      if (upper_byte(line[i]) != word[i]) return false;
    }
    return true;
  };
  if (is(kLoadEndRow)) return kLoadEndRow;
  if (is(kLoadEndHeader)) return kLoadEndHeader;
  if (is(kLoadEndFile)) return kLoadEndFile;
  return {};
}

// The closing line rule: the word that `line` (its text without the
// newline) closes a section with, or the empty text when it is a data
// line. A closing line is one of the three words in any mix of upper and
// lower case, followed by nothing but blank bytes; it is matched from the
// line's first byte, so an indented word is data. Inside a COMMENT a
// closing line ends the comment and every other line belongs to it. The
// reader, its cut into halves and the rule parser all ask this one test.
constexpr std::string_view closing_load_word(std::string_view line) {
  // The three words begin alike, so most lines are told by their first byte.
  if (line.empty() || upper_byte(line[0]) != kLoadEndRow[0]) return {};
  return closing_load_word_rest(line);
}
static_assert(kLoadEndHeader[0] == kLoadEndRow[0] && kLoadEndFile[0] == kLoadEndRow[0],
              "closing_load_word tells most lines by the words' common first letter");

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
