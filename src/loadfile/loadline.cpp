// The rules of one load file line that the writer and the rule parser share
// with the reader.
#include <loadfile/loadline.h>

#include <loadfile/loadfile.h>
#include <loadfile/lodstring.h>

namespace {

// The upper-cased text of `line` equals `word`.
bool is_word(std::string_view line, std::string_view word) {
  if (line.size() != word.size()) return false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != word[i]) return false;
  }
  return true;
}

}  // namespace

int closing_load_token(std::string_view line) {
  // Matched from the line's first byte, so an indented word is data; only
  // trailing blank bytes are cut, as the reader does.
  size_t end = line.size();
  while (end > 0 && is_blank_byte(line[end - 1])) --end;
  line = line.substr(0, end);
  if (is_word(line, "ENDROW")) return TOK_ENDROW;
  if (is_word(line, "ENDHEADER")) return TOK_ENDHEADER;
  if (is_word(line, "ENDFILE")) return TOK_ENDFILE;
  return TOK_DATA;
}

LoadLineFit fit_load_line(std::string_view name, std::string_view value, bool is_comment) {
  // "NAME = value" or "COMMENT =value"; the compact form is one byte shorter
  // for a COMMENT and two for any other name.
  const size_t spaced = name.size() + (is_comment ? 2 : 3);
  const size_t compact = name.size() + 1;
  LoadLineFit fit;
  auto fit_first = [&](size_t length) {
    if (spaced + length <= kLoadLineMax) return;
    fit.compact = compact + length <= kLoadLineMax;
    if (!fit.compact) fit.overlong = 1;
  };
  // Any other value is written on one line, whatever it holds.
  if (!is_comment) {
    fit_first(value.size());
    return fit;
  }
  // A COMMENT runs on to its own newlines; a final one ends its last line.
  fit.lines = 0;
  for (size_t from = 0;;) {
    size_t end = value.find('\n', from);
    size_t length = (end == std::string_view::npos ? value.size() : end) - from;
    if (fit.lines == 0) {
      fit_first(length);
    } else if (length > kLoadLineMax) {
      if (fit.overlong == 0) fit.first_overlong = fit.lines;
      ++fit.overlong;
    }
    ++fit.lines;
    if (end == std::string_view::npos || end + 1 == value.size()) return fit;
    from = end + 1;
  }
}
