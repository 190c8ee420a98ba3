// File-name splitter: directory part (up to and including the last
// separator), root, extension (with its full stop) and a version part after a
// semicolon, which goes into none of the outputs.
#include <algorithm>
#include <array>

#include <velalib/velastring.h>

namespace {

// The classes of `chartype`.
constexpr unsigned char kNameChar = 1;
constexpr unsigned char kExtensionMark = 2;
constexpr unsigned char kVersionMark = 3;
constexpr unsigned char kSeparator = 4;

constexpr std::array<unsigned char, 128> make_chartype() {
  std::array<unsigned char, 128> table{};
  for (int c = 0; c < 128; ++c) {
    bool name = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                c == '_' || c == '-' || c == '*' || c == '?';
    table[c] = name ? kNameChar : kSeparator;
  }
  table['.'] = kExtensionMark;
  table[';'] = kVersionMark;
  return table;
}

constexpr std::array<unsigned char, 128> chartype = make_chartype();

// Bytes 128-255 are letters of some encoding (UTF-8 names, say): they belong
// to the name, so such a name is neither cut nor given a directory part.
constexpr unsigned char char_class(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte < 128 ? chartype[byte] : kNameChar;
}

void copy_piece(char* out, const char* from, int len, int maxlen) {
  if (out != nullptr) safecopy(out, from, std::min(len, maxlen));
}

}  // namespace

void breakfname(const char* name, char* dir, char* root, char* ext, int maxlen) {
  // `sep` is the last separator's position, -1 for none, so that a name from
  // the root (/abc) keeps "/" as its directory. For the full stop and the
  // semicolon position 0 means none: .login is a root, not an extension.
  int sep = -1;
  int dot = 0;
  int version = 0;
  int len = 0;
  for (; name[len] != '\0'; ++len) {
    switch (char_class(name[len])) {
      case kSeparator:
        sep = len;
        break;
      case kExtensionMark:
        dot = len;
        break;
      case kVersionMark:
        version = len;
        break;
      default:
        break;
    }
  }

  if (version <= sep || version <= dot) version = len;
  if (dot == 0 || dot <= sep || dot + 1 == version) dot = len;

  const int dir_end = sep + 1;
  // Without an extension the root stops at the version mark, so x.;1 gives
  // the root x. and FILE;3 the root FILE.
  const int root_end = std::min(dot, version);

  copy_piece(dir, name, dir_end, maxlen);
  copy_piece(root, name + dir_end, root_end - dir_end, maxlen);
  copy_piece(ext, name + dot, version - dot, maxlen);
}
