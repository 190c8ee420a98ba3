// The layout the writer gives one load file line.
#include <loadfile/loadline.h>

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
