// The load file writer. It streams: open_load_writer writes the header,
// put_load_row one row, close_load_writer the end of the file. Output goes
// through a large buffer flushed with write(2) to the output file's
// descriptor; the output file module decides where that is and puts the
// finished file in place.

#include "loadwriter.h"

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "loadfail.h"
#include "loadfile.h"
#include "loadline.h"
#include "outputfile.h"

namespace {

constexpr size_t kWriteBlock = 1 << 20;

}  // namespace

// One file being written. The first failed write marks the writer failed
// and nothing more is written.
struct LoadWriter {
  OutputBuffer out;

  // The layout of every row: the name of each column followed by " = ",
  // packed one after another and found through `prefix_end`.
  int ncol = 0;
  int comment_col = -1;
  std::string prefixes;
  std::vector<size_t> prefix_end;

  long lineno = 0;  // lines written so far
  LoadOverlong overlong;
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
  writer->ncol = layout->ncol;
  writer->comment_col = get_tab_colnum(layout, comment);
  writer->prefix_end.reserve(static_cast<size_t>(layout->ncol));
  for (int c = 0; c < layout->ncol; ++c) {
    writer->prefixes += get_tab_colname(layout, c);
    writer->prefixes += " = ";
    writer->prefix_end.push_back(writer->prefixes.size());
  }
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
  std::string_view prefixes = writer->prefixes;
  size_t from = 0;
  for (int c = 0; c < writer->ncol; ++c) {
    size_t to = writer->prefix_end[static_cast<size_t>(c)];
    if (c != writer->comment_col) emit_line(writer, prefixes.substr(from, to - from), cells[c]);
    from = to;
  }
  if (writer->comment_col >= 0) emit_comment(writer, cells[writer->comment_col]);
  emit(writer, "ENDROW\n\n");
  writer->lineno += 2;
  if (writer->out.failed) {
    fail_load(LOAD_CANNOT_WRITE);
    return -1;
  }
  return 0;
}

// Finishes the file and puts it in place. The writer is released whatever
// the result; on failure nothing written is left behind.
int close_load_writer(LoadWriter* writer) {
  LoadWriterPtr owned(writer);
  emit(writer, "ENDFILE\n");
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
