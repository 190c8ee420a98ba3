// The string routines that take text from files and command lines: the
// field splitter, quote removal, the file-name splitter, blank squeezing and
// the wildcard matcher. Each runs on its own copy of the input, sized
// exactly, so a read or write past the end is caught.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <velalib/velastring.h>
#include <velalib/wildexpand.h>
#include "harness.h"

namespace {

std::unique_ptr<char[]> copy_of(std::string_view text) {
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  if (!text.empty()) std::memcpy(copy.get(), text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

void split(int sep, std::string_view text, int maxfields) {
  auto copy = copy_of(text);
  size_t length = std::strlen(copy.get());
  std::vector<char*> fields(static_cast<size_t>(maxfields));
  strsplit(sep, copy.get(), fields.data(), maxfields);
  for (char* field : fields) {
    FUZZ_CHECK(field >= copy.get() && field <= copy.get() + length, "field inside the string");
    FUZZ_CHECK(field + std::strlen(field) <= copy.get() + length, "field ends inside");
  }
}

void check_unquote(std::string_view text) {
  auto copy = copy_of(text);
  size_t before = std::strlen(copy.get());
  unquote(copy.get());
  size_t after = std::strlen(copy.get());
  if (before > 0 && (text[0] == '"' || text[0] == '\'')) {
    FUZZ_CHECK(after < before, "a leading quote is removed");
    FUZZ_CHECK(std::memchr(copy.get(), text[0], after) == nullptr, "cut at the closing quote");
  } else {
    FUZZ_CHECK(after == before, "text without a leading quote unchanged");
  }
}

void check_breakfname(std::string_view text, int maxlen) {
  auto name = copy_of(text);
  std::vector<char> dir(maxlen + 1), root(maxlen + 1), ext(maxlen + 1);
  breakfname(name.get(), dir.data(), root.data(), ext.data(), maxlen);
  std::string whole = std::string(dir.data()) + root.data() + ext.data();
  for (const auto* part : {&dir, &root, &ext}) {
    FUZZ_CHECK(std::strlen(part->data()) <= static_cast<size_t>(maxlen), "piece within maxlen");
  }
  // Uncut, the three pieces are the name up to its version part.
  if (std::strlen(name.get()) <= static_cast<size_t>(maxlen)) {
    FUZZ_CHECK(std::string_view(name.get()).starts_with(whole), "pieces are the name");
  }
  // Each output may be left out.
  breakfname(name.get(), nullptr, root.data(), nullptr, maxlen);
}

void check_strclean(std::string_view text) {
  auto copy = copy_of(text);
  strclean(copy.get());
  std::string_view clean(copy.get());
  FUZZ_CHECK(clean.empty() || (clean.front() != ' ' && clean.back() != ' '), "trimmed");
  FUZZ_CHECK(clean.find("  ") == std::string_view::npos, "runs squeezed");
  for (char c : clean) FUZZ_CHECK(c == ' ' || !is_blank_byte(c), "only spaces stay");
  std::string again(clean);
  strclean(again.data());
  FUZZ_CHECK(std::string_view(again.c_str()) == clean, "cleaning twice changes nothing");
}

void check_patmatch(std::string_view pattern, std::string_view text) {
  auto p = copy_of(pattern);
  auto t = copy_of(text);
  int result = patmatch(p.get(), t.get());
  FUZZ_CHECK(result == 0 || result == 1, "a yes or no");
  FUZZ_CHECK(patmatch("*", t.get()) == 1, "a star matches anything");
  if (std::strpbrk(t.get(), "*?") == nullptr) {
    FUZZ_CHECK(patmatch(t.get(), t.get()) == 1, "a plain name matches itself");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the limits; the rest is the text, cut at a NUL as
  // the routines see it. A second NUL-separated part is a matcher's text.
  int maxfields = 1 + data[0] % 8;
  int maxlen = data[0] % 130;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string_view text = rest.substr(0, rest.find('\0'));
  std::string_view second =
      text.size() < rest.size() ? rest.substr(text.size() + 1) : std::string_view();
  second = second.substr(0, second.find('\0'));

  split(' ', text, maxfields);
  split(',', text, maxfields);
  split(data[0], text, maxfields);
  check_unquote(text);
  check_breakfname(text, maxlen);
  check_strclean(text);
  check_patmatch(text, second);

  auto upper = copy_of(text);
  FUZZ_CHECK(strucase(upper.get()) == upper.get(), "strucase returns its argument");
  FUZZ_CHECK(strlcase(upper.get()) == upper.get(), "strlcase returns its argument");
  return 0;
}
