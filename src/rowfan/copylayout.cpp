// copy_layout: gives a fresh Table the columns of another, then a few extra
// columns of its own (the range, stack or numbering columns of its user).
#include <cstdlib>
#include <memory>

#include <velalib/velastring.h>
#include "tablecopy.h"

namespace {

constexpr int kMaxExtra = 5;

struct FreeText {
  void operator()(char* s) const { std::free(s); }
};

}  // namespace

void copy_layout(Table* source, Table* destination, const char* extra) {
  // add_tab_col looks the name up first, so a name the destination already
  // has keeps its place.
  for (int c = 0; c < source->ncol; c++) {
    add_tab_col(destination, get_tab_colname(source, c));
  }

  // strsplit cuts in place, so the caller's list is split on a copy.
  std::unique_ptr<char, FreeText> list(strclone(extra != nullptr ? extra : ""));
  char* fields[kMaxExtra];
  strsplit(',', list.get(), fields, kMaxExtra);
  for (char* field : fields) {
    if (*field == '\0') break;
    add_tab_col(destination, field);
  }
}
