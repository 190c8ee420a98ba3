// The load file reader on arbitrary bytes. Its result is compared with that
// of a plain reading by the format's rules, line by line as an 80-byte read
// takes them (the same Table, or the same message naming the same line), on
// the bytes as given and, for one input in four, once more behind remark
// lines that put them across the end of the reader's first block. What it
// accepts is written back out and read again: the second reading must give
// the same Table, except for what the format itself does not carry through
// (a COMMENT comes back last in its list and ends with a newline). Whatever
// was read fits the reader's lines again, as the writer leaves out the
// blanks around `=` where needed.

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include <loadfile/loadfile.h>
#include <loadfile/lodstring.h>
#include <loadfile/table.h>
#include "harness.h"
#include "support/plainreader.h"

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

void check_same_tables(Table* got, Table* want) {
  FUZZ_CHECK(got->keynames.count == want->keynames.count, "plain: keyword count");
  for (int k = 0; k < want->keynames.count; ++k) {
    FUZZ_CHECK(str(get_tab_keyname_bynum(got, k)) == str(get_tab_keyname_bynum(want, k)),
               "plain: keyword name");
    FUZZ_CHECK(str(get_tab_keyval_bynum(got, k)) == str(get_tab_keyval_bynum(want, k)),
               "plain: keyword value");
  }
  FUZZ_CHECK(got->ncol == want->ncol && got->nrow == want->nrow, "plain: layout");
  for (int c = 0; c < want->ncol; ++c) {
    FUZZ_CHECK(str(get_tab_colname(got, c)) == str(get_tab_colname(want, c)), "plain: column");
    for (int r = 0; r < want->nrow; ++r) {
      FUZZ_CHECK(str(get_tab_cell_bynum(got, c, r)) == str(get_tab_cell_bynum(want, c, r)),
                 "plain: cell");
    }
  }
}

// Reads `bytes` behind the remark lines `pad` with the reader, and the bytes
// alone plainly; both must agree. The reader's message is kept in `error`:
// the plain reading's Table operations may leave others in `lod_error`.
TablePtr read_both(InputFile& input, std::string_view pad, int pad_lines, std::string_view bytes,
                   std::string* error) {
  TablePtr table(read_loadfile(input.fill(pad.empty() ? bytes : std::string(pad) += bytes)));
  *error = table ? std::string() : std::string(str(lod_error));
  std::string plain_error;
  TablePtr plain = vela_test::PlainReader(bytes, pad_lines).read(&plain_error);
  FUZZ_CHECK(!table == !plain, "plain: the same files read");
  if (table) {
    check_same_tables(table.get(), plain.get());
  } else {
    FUZZ_CHECK(*error == plain_error, "plain: the same message and line");
  }
  // Read again in two halves at once, cut after the first row's end past
  // the middle: the same Table, or the same message.
  const std::size_t saved = load_split_min;
  load_split_min = 0;
  TablePtr halves(read_loadfile(input.path()));
  load_split_min = saved;
  FUZZ_CHECK(!table == !halves, "halves: the same files read");
  if (table) {
    check_same_tables(halves.get(), table.get());
  } else {
    FUZZ_CHECK(*error == str(lod_error), "halves: the same message and line");
  }
  return table;
}

// Remark lines that end a little before or after 128 KiB, where the
// reader's first block ends, so that the input's own lines meet that
// boundary: one of 128 lengths, made once. Remark lines, as the reader
// makes short work of them.
struct Padding {
  std::string text;
  int lines = 0;
};

const Padding& block_padding(unsigned char shift) {
  static Padding made[128];
  Padding& pad = made[shift % 128];
  if (!pad.text.empty()) return pad;
  auto add_line = [&pad](size_t bytes) { pad.text += "#" + std::string(bytes - 2, '-') + "\n"; };
  size_t size = 128 * 1024 - 96 + shift % 128;
  while (size - pad.text.size() >= 81) add_line(79);
  size_t rest = size - pad.text.size();  // 2 to 80 bytes
  if (rest > 79) add_line(rest / 2);
  add_line(size - pad.text.size());
  pad.lines = static_cast<int>(std::count(pad.text.begin(), pad.text.end(), '\n'));
  return pad;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static InputFile input;
  static const std::string output = scratch_dir() + "/out.lod";

  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  // One input in four, as the padding costs more than the input itself.
  if (size > 0 && data[0] % 4 == 0) {
    const Padding& pad = block_padding(data[size - 1]);
    read_both(input, pad.text, pad.lines, bytes, &error);
  }
  TablePtr table = read_both(input, {}, 0, bytes, &error);
  if (!table) {
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
