// The load file reader on arbitrary bytes. What it accepts is written back
// out and read again: the second reading must give the same Table, except for
// what the format itself does not carry through (a COMMENT comes back last in
// its list and ends with a newline). Whatever was read fits the reader's
// lines again, as the writer leaves out the blanks around `=` where needed.

#include <cstring>
#include <string>
#include <string_view>

#include "harness.h"
#include "loadfile.h"
#include "table.h"

namespace {

std::string_view str(const char* s) {
  return s ? std::string_view(s) : std::string_view();
}

// A COMMENT read from a file always ends with a newline; an empty one is
// written as "COMMENT =" and comes back as a newline alone.
std::string comment_after_round_trip(std::string_view value) {
  std::string text(value);
  if (text.empty() || text.back() != '\n') text += '\n';
  return text;
}

void check_same_keywords(Table* first, Table* second) {
  FUZZ_CHECK(first->keynames.count == second->keynames.count, "keyword count");
  int n = first->keynames.count;
  int skip = 0;  // the COMMENT keyword, which comes back last
  for (int k = 0; k < n; ++k) {
    std::string_view name = str(get_tab_keyname_bynum(first, k));
    std::string_view value = str(get_tab_keyval_bynum(first, k));
    if (name == comment) {
      skip = 1;
      FUZZ_CHECK(str(get_tab_key(second, comment)) == comment_after_round_trip(value),
                 "header COMMENT");
      FUZZ_CHECK(str(get_tab_keyname_bynum(second, n - 1)) == comment, "COMMENT last");
      continue;
    }
    FUZZ_CHECK(str(get_tab_keyname_bynum(second, k - skip)) == name, "keyword order");
    FUZZ_CHECK(str(get_tab_keyval_bynum(second, k - skip)) == value, "keyword value");
  }
}

void check_same_rows(Table* first, Table* second) {
  FUZZ_CHECK(first->ncol == second->ncol, "column count");
  FUZZ_CHECK(first->nrow == second->nrow, "row count");
  for (int c = 0; c < first->ncol; ++c) {
    std::string_view name = str(get_tab_colname(first, c));
    int back = get_tab_colnum(second, name);
    FUZZ_CHECK(back >= 0, "column kept");
    bool is_comment = name == comment;
    FUZZ_CHECK(is_comment ? back == second->ncol - 1 : true, "COMMENT column last");
    for (int r = 0; r < first->nrow; ++r) {
      std::string_view cell = str(get_tab_cell_bynum(first, c, r));
      std::string_view cell_back = str(get_tab_cell_bynum(second, back, r));
      if (is_comment) {
        FUZZ_CHECK(cell_back == comment_after_round_trip(cell), "row COMMENT");
      } else {
        FUZZ_CHECK(cell_back == cell, "cell value");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static InputFile input;
  static const std::string output = scratch_dir() + "/out.lod";

  TablePtr table(read_loadfile(input.fill({reinterpret_cast<const char*>(data), size})));
  if (!table) {
    std::string_view error = str(lod_error);
    FUZZ_CHECK(error.starts_with(load_message[1]), "a read fails only with a syntax error");
    return 0;
  }
  FUZZ_CHECK(write_loadfile(output.c_str(), table.get()) == 0, "write");
  TablePtr back(read_loadfile(output.c_str()));
  FUZZ_CHECK(back != nullptr, "written file reads back");
  check_same_keywords(table.get(), back.get());
  check_same_rows(table.get(), back.get());
  return 0;
}
