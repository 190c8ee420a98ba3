// The load file writer. It streams: open_load_writer writes the header,
// put_load_row one row, close_load_writer the end of the file. Output goes
// through a large buffer flushed with write(2) to the output file's
// descriptor; the output file module decides where that is and puts the
// finished file in place.

#include <loadfile/loadwriter.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <loadfile/loadfile.h>
#include <loadfile/loadline.h>
#include <loadfile/outputfile.h>
#include "loadfail.h"

namespace {

constexpr size_t kWriteBlock = 1 << 20;
// Bytes a row may write past its own end: names are copied in whole blocks
// of kBlock, which may run over what the name needs.
constexpr size_t kBlock = 16;
constexpr size_t kRowSlack = 2 * kBlock;

// One `name = value` line of a row, in the order rows are written (every
// column but COMMENT): its column, and its prefix "NAME = " in `prefixes`.
struct RowLine {
  int column = 0;
  size_t begin = 0;
  size_t size = 0;
  long room = 0;  // the longest value that keeps the line within the limit
};

}  // namespace

// One file being written. The first failed write marks the writer failed
// and nothing more is written.
struct LoadWriter {
  OutputBuffer out;

  // The layout of every row: the name of each column followed by " = ",
  // packed one after another (with kBlock bytes to spare at the end) and
  // found through `lines`.
  int comment_col = -1;
  std::string prefixes;
  std::vector<RowLine> lines;
  size_t row_most = 0;  // the most a row writes besides COMMENT, its lines within the limit

  long lineno = 0;  // lines written so far
  LoadOverlong overlong;
  bool finished = false;  // ENDFILE written and everything flushed
};

namespace {

void emit(LoadWriter* writer, std::string_view text) {
  put_output(writer->out, text);
}

// Keeps the first line that no layout brings within the reader's limit, and
// counts them all. `first_line` is the number of the value's first line.
void note_overlong(LoadWriter* writer, const LoadLineFit& fit, std::string_view name,
                   long first_line) {
  if (fit.overlong == 0) return;
  if (writer->overlong.count == 0) {
    writer->overlong.line = first_line + fit.first_overlong;
    writer->overlong.name = name;
  }
  writer->overlong.count += fit.overlong;
}

// A line that the blanks around `=` would take past the reader's limit:
// "NAME=value" where that fits, else as it is, and noted. Rare: kept out of
// the way of the common line.
[[gnu::cold, gnu::noinline]] void emit_long_line(LoadWriter* writer, std::string_view name_equals,
                                                 std::string_view value) {
  std::string_view name(name_equals.data(), name_equals.size() - 3);
  LoadLineFit fit = fit_load_line(name, value, false);
  note_overlong(writer, fit, name, writer->lineno);
  if (fit.compact) {
    emit(writer, name);
    emit(writer, "=");
  } else {
    emit(writer, name_equals);
  }
  emit(writer, value);
  emit(writer, "\n");
}

// "NAME = value"; `name_equals` is the name followed by " = ".
void emit_line(LoadWriter* writer, std::string_view name_equals, std::string_view value) {
  ++writer->lineno;
  if (name_equals.size() + value.size() > kLoadLineMax) {
    emit_long_line(writer, name_equals, value);
    return;
  }
  emit(writer, name_equals);
  emit(writer, value);
  emit(writer, "\n");
}

// A COMMENT text runs on to its own newlines; it gets one more only when it
// does not end with one. "COMMENT=" where the blank would take its first line
// past the reader's limit.
void emit_comment(LoadWriter* writer, std::string_view value) {
  LoadLineFit fit = fit_load_line(comment, value, true);
  note_overlong(writer, fit, comment, writer->lineno + 1);
  emit(writer, fit.compact ? "COMMENT=" : "COMMENT =");
  emit(writer, value);
  if (value.empty() || value.back() != '\n') emit(writer, "\n");
  writer->lineno += fit.lines;
}

void set_load_layout(LoadWriter* writer, Table* layout) {
  writer->comment_col = get_tab_colnum(layout, comment);
  writer->row_most = std::string_view("ENDROW\n\n").size() + kRowSlack;
  for (int c = 0; c < layout->ncol; ++c) {
    if (c == writer->comment_col) continue;
    RowLine line;
    line.column = c;
    line.begin = writer->prefixes.size();
    writer->prefixes += get_tab_colname(layout, c);
    writer->prefixes += " = ";
    line.size = writer->prefixes.size() - line.begin;
    line.room = static_cast<long>(kLoadLineMax) - static_cast<long>(line.size);
    writer->lines.push_back(line);
    writer->row_most += kLoadLineMax + 1;
  }
  writer->prefixes.append(kBlock, '\0');
}

// Copies a prefix in whole blocks: both its source and `to` have room.
char* put_prefix(char* to, const char* from, size_t size) {
  std::memcpy(to, from, kBlock);
  for (size_t i = kBlock; i < size; i += kBlock) std::memcpy(to + i, from + i, kBlock);
  return to + size;
}

// Copies a value, most often a few bytes, without a call: two overlapping
// copies of a fixed size cover every length up to twice that size.
char* put_value(char* to, std::string_view value) {
  const char* from = value.data();
  size_t n = value.size();
  if (n >= 16) {
    if (n > 32) {
      std::memcpy(to, from, n);
    } else {
      std::memcpy(to, from, 16);
      std::memcpy(to + n - 16, from + n - 16, 16);
    }
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n > 0) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
  return to + n;
}

// A row line by line, each through the buffer's checks: for a row with a
// line past the limit, or one larger than the buffer.
void put_row_slowly(LoadWriter* writer, const std::string_view* cells) {
  std::string_view prefixes = writer->prefixes;
  for (const RowLine& line : writer->lines)
    emit_line(writer, prefixes.substr(line.begin, line.size), cells[line.column]);
  if (writer->comment_col >= 0) emit_comment(writer, cells[writer->comment_col]);
  emit(writer, "ENDROW\n\n");
  writer->lineno += 2;
}

// A row whose every line is within the limit, copied into the buffer at
// once, in room for the longest such row; false, and nothing written, when
// a line is past the limit or that room is larger than the buffer.
bool put_row_at_once(LoadWriter* writer, const std::string_view* cells) {
  char* at = output_room(writer->out, writer->row_most);
  if (at == nullptr) return false;
  const char* prefixes = writer->prefixes.data();
  for (const RowLine& line : writer->lines) {
    std::string_view value = cells[line.column];
    if (static_cast<long>(value.size()) > line.room) return false;
    at = put_prefix(at, prefixes + line.begin, line.size);
    at = put_value(at, value);
    *at++ = '\n';
  }
  writer->lineno += static_cast<long>(writer->lines.size());
  if (writer->comment_col < 0) {
    std::memcpy(at, "ENDROW\n\n", 8);
    at += 8;
  }
  writer->out.used = static_cast<size_t>(at - writer->out.data.get());
  if (writer->comment_col >= 0) {
    emit_comment(writer, cells[writer->comment_col]);
    emit(writer, "ENDROW\n\n");
  }
  writer->lineno += 2;
  return true;
}

void write_load_header(LoadWriter* writer, Table* layout) {
  const char* comment_value = nullptr;
  int nkey = layout->keynames.count;
  for (int k = 0; k < nkey; ++k) {
    const char* name = get_tab_keyname_bynum(layout, k);
    const char* value = get_tab_keyval_bynum(layout, k);
    if (std::strcmp(name, comment) == 0) {
      comment_value = value;
      continue;
    }
    emit_line(writer, std::string(name) + " = ", value);
  }
  if (comment_value != nullptr) emit_comment(writer, comment_value);
  emit(writer, "ENDHEADER\n\n");
  writer->lineno += 2;
}

}  // namespace

LoadWriter* open_load_writer(const char* path, Table* layout) {
  LoadWriterPtr writer(new LoadWriter);
  if (!open_output_buffer(writer->out, open_output_file(path), kWriteBlock)) {
    fail_load(LOAD_CANNOT_OPEN);
    return nullptr;
  }
  set_load_layout(writer.get(), layout);
  write_load_header(writer.get(), layout);
  if (writer->out.failed) {
    fail_load(LOAD_CANNOT_WRITE);
    return nullptr;
  }
  return writer.release();
}

int put_load_row(LoadWriter* writer, const std::string_view* cells) {
  if (writer->out.failed) {
    fail_load(LOAD_CANNOT_WRITE);
    return -1;
  }
  if (!put_row_at_once(writer, cells)) put_row_slowly(writer, cells);
  if (writer->out.failed) {
    fail_load(LOAD_CANNOT_WRITE);
    return -1;
  }
  return 0;
}

int finish_load_writer(LoadWriter* writer) {
  if (!writer->finished) {
    writer->finished = true;
    emit(writer, "ENDFILE\n");
  }
  if (!finish_output_buffer(writer->out)) {
    fail_load(LOAD_CANNOT_WRITE);
    return -1;
  }
  return 0;
}

OutputFile* load_writer_file(LoadWriter* writer) {
  return writer->out.output.get();
}

// Finishes the file and puts it in place. The writer is released whatever
// the result; on failure nothing written is left behind.
int close_load_writer(LoadWriter* writer) {
  LoadWriterPtr owned(writer);
  if (finish_load_writer(writer) < 0) return -1;
  if (close_output_buffer(writer->out) < 0) {
    fail_load(LOAD_CANNOT_WRITE);
    return -1;
  }
  return 0;
}

// Safe at any moment, also from an exit handler while a file is half
// written, and on a null writer: the output file removes what was written.
void discard_load_writer(LoadWriter* writer) {
  delete writer;
}

const LoadOverlong& load_writer_overlong(const LoadWriter* writer) {
  return writer->overlong;
}

int write_loadfile(const char* path, Table* table) {
  LoadWriterPtr writer(open_load_writer(path, table));
  if (!writer) return -1;
  std::vector<std::string_view> cells(static_cast<size_t>(table->ncol));
  for (int r = 0; r < table->nrow; ++r) {
    for (int c = 0; c < table->ncol; ++c)
      cells[static_cast<size_t>(c)] = get_tab_cell_bynum(table, c, r);
    if (put_load_row(writer.get(), cells.data()) < 0) return -1;
  }
  return close_load_writer(writer.release());
}
