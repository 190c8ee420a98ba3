// Load files: reading one into a Table and writing a Table back out.
//
// The reader is line oriented. Every line is first classified on its own
// (which_load_token), then a three-state parser (header, rows, trailer)
// decides what it means in its place. The file is read in large blocks and
// every line is classified, cut and cleaned where it stands in the block
// (loadlines), with the same result as reading it line by line through a
// buffer of 80: at most 79 bytes per line, stopping after the newline.
//
// The writer streams: open_load_writer writes the header, put_load_row one
// row, close_load_writer the end of the file. A regular file is written under
// a temporary name beside it and renamed into place only once it is complete
// and closed, so a failed write leaves any earlier file of that name intact.

#include "loadfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "loadlines.h"
#include "lodstring.h"

const char* const load_message[] = {
    "Cannot open loadfile",
    "Syntax error in loadile",
    "Cannot write loadfile",
};

LoadFailure load_failure = LOAD_CANNOT_OPEN;

const char* const comment = "COMMENT";

namespace {

constexpr size_t kWriteBlock = 1 << 20;

// The syntax error message names the offending line; one buffer serves every
// read, so the text stays valid until the next syntax error.
char syntax_message[80];

// Points `lod_error` at a failure of the load file library and records which.
void fail_load(LoadFailure failure) {
  load_failure = failure;
  lod_error = load_message[failure];
}

// Where a data line of a row went: the line's bytes before its first `=`,
// as written, and the column they name. Rows mostly list their columns the
// same way in the same order, so the k-th data line of a row is first
// tried against the k-th of the rows before: the same bytes name the same
// column, which then takes the value with no cleaning of the name and no
// lookup by name.
struct CellPlace {
  char raw_name[kLoadLineMax + kLoadSlack] = {};
  int raw_length = 0;
  int column = -1;
  bool is_comment = false;
};

}  // namespace

// The reader's state for one read. The first six fields are the parser's:
// `file` is the input, read in blocks, and `line` the current line where it
// stands in the block, `length` bytes with its newline.
struct LoadParser {
  LoadBlock file;
  char* line = nullptr;
  int token = TOK_BADLINE;
  int lineno = 0;
  int row = 0;
  int in_comment = 0;

  int length = 0;
  // The lines of a COMMENT after its first, appended to the Table in one
  // piece when the section closes: its cost stays linear in its length
  // however many lines it has.
  std::string comment_rest;
  std::vector<CellPlace> places;  // entry k: the k-th data line of a row
  int place = 0;                  // data lines seen so far in the current row
};

namespace {

void free_load_parser(LoadParser* parser) {
  delete parser;  // the input closes with it
}

struct LoadParserFree {
  void operator()(LoadParser* parser) const { free_load_parser(parser); }
};
using LoadParserPtr = std::unique_ptr<LoadParser, LoadParserFree>;

LoadParserPtr init_load_parser(const char* path) {
  LoadParserPtr parser(new (std::nothrow) LoadParser);
  if (!parser) out_of_memory();
  if (!open_load_block(parser->file, path)) {
    fail_load(LOAD_CANNOT_OPEN);
    return nullptr;
  }
  return parser;
}

// Leaves the syntax error, with the number of lines read so far, in
// `lod_error`; the parser goes with its owner.
void error_load_parser(LoadParser* parser) {
  std::snprintf(syntax_message, sizeof syntax_message, "%s at line %d",
                load_message[LOAD_SYNTAX_ERROR], parser->lineno);
  load_failure = LOAD_SYNTAX_ERROR;
  lod_error = syntax_message;
}

// Whether text[0, 6 to 9) is `word` in any mix of cases. Every byte of the
// words is a letter, and a byte with 0x20 set is the word's lower-case
// letter only if it was that letter in either case.
bool is_closing_word(const char* text, std::string_view word) {
  size_t head = std::min<size_t>(word.size(), 8);
  std::uint64_t got = 0;
  std::uint64_t want = 0;
  std::uint64_t lower = 0;
  std::memcpy(&got, text, head);
  std::memcpy(&want, word.data(), head);
  std::memset(&lower, 0x20, head);
  if ((got | lower) != (want | lower)) return false;
  // "ENDHEADER" has a ninth letter.
  return word.size() < 9 || (text[8] | 0x20) == (word[8] | 0x20);
}

// The closing line a line of `length` bytes (newline included) is, or
// TOK_DATA. Closing words are matched from the line's first byte, so an
// indented one is data; only trailing blanks are cut.
int closing_token(const char* line, int length) {
  if ((line[0] | 0x20) != 'e') return TOK_DATA;  // every word starts so
  int words = length - 1;
  while (words > 0 && is_blank_byte(line[words - 1])) --words;
  if (words == 6 && is_closing_word(line, "ENDROW")) return TOK_ENDROW;
  if (words == 9 && is_closing_word(line, "ENDHEADER")) return TOK_ENDHEADER;
  if (words == 7 && is_closing_word(line, "ENDFILE")) return TOK_ENDFILE;
  return TOK_DATA;
}

// Reads the next line: TOK_DATA when a whole line was read, to be told
// apart by classify_load_line, else TOK_EOF or TOK_BADLINE.
int read_load_line(LoadParser* parser) {
  LoadLineKind kind = next_load_line(parser->file, &parser->line, &parser->length);
  if (kind == LINE_NONE) {
    return parser->token = parser->file.read_failed ? TOK_BADLINE : TOK_EOF;
  }
  if (parser->lineno == INT_MAX) return parser->token = TOK_BADLINE;  // no line number left
  ++parser->lineno;
  return parser->token = kind == LINE_BAD ? TOK_BADLINE : TOK_DATA;
}

// Tells what kind of line the whole line just read is.
int classify_load_line(LoadParser* parser) {
  const char* line = parser->line;
  int length = parser->length;
  if (!parser->in_comment) {
    int first = 0;
    while (first < length && is_blank_byte(line[first])) ++first;
    if (first == length) return parser->token = TOK_BLANK;
    if (line[first] == '#') return parser->token = TOK_REMARK;
  }
  return parser->token = closing_token(line, length);
}

// Reads the next line and tells what kind of line it is.
int which_load_token(LoadParser* parser) {
  int token = read_load_line(parser);
  return token == TOK_DATA ? classify_load_line(parser) : token;
}

// Stores a cleaned name's value: a COMMENT value raw, newline and all, and
// every line after it up to the closing line belongs to it; any other value
// cleaned. `value` runs to the end of the line.
std::string_view load_value(LoadParser* parser, char* value, bool is_comment) {
  int length = static_cast<int>(parser->line + parser->length - value);
  if (!is_comment) return clean_load_text(value, length - 1, false);
  parser->in_comment = 1;
  parser->comment_rest.clear();
  return {value, static_cast<size_t>(length)};
}

// Stores the current data line as a header keyword or as a cell of the
// current row. Returns 0, or -1 for a line without `=` or a cell the Table
// refuses.
int put_load_info(LoadParser* parser, Table* table, int section) {
  if (parser->in_comment) {
    parser->comment_rest.append(parser->line, parser->length);
    return 0;
  }
  char* line = parser->line;
  auto* equals = static_cast<char*>(std::memchr(line, '=', parser->length - 1));
  if (equals == nullptr) return -1;
  int name_length = static_cast<int>(equals - line);
  int k = parser->place;
  // Rows repeat their layout: remember this one's, within reason.
  bool remember = section == LOAD_ROW && k <= 2 * table->ncol + 16;
  if (remember) {
    if (parser->places.size() <= static_cast<size_t>(k)) parser->places.resize(k + 1);
    std::memcpy(parser->places[k].raw_name, line, static_cast<size_t>(name_length));
    parser->places[k].raw_length = name_length;
  }

  std::string_view name = clean_load_text(line, name_length, true);
  bool is_comment = name == comment;
  std::string_view value = load_value(parser, equals + 1, is_comment);
  if (section == LOAD_HEADER) return put_tab_key(table, name, value);
  int result = put_tab_cell(table, name, parser->row, value);
  if (remember) {
    CellPlace& place = parser->places[k];
    place.column = result < 0 ? -1 : get_tab_colnum(table, name);
    place.is_comment = is_comment;
  }
  return result;
}

// Stores the whole line just read as a cell of the current row when it
// names its column as the same line of the rows before did, byte for byte
// up to an `=`: that `=` is the line's first, the name the same, and so is
// the column, and such a line can only be a data line. Returns 1 when
// stored, 0 when the line is to be classified, -1 for a cell the Table
// refuses.
int put_known_cell(LoadParser* parser, Table* table) {
  if (parser->in_comment || static_cast<size_t>(parser->place) >= parser->places.size()) return 0;
  const CellPlace& place = parser->places[parser->place];
  int n = place.raw_length;
  char* line = parser->line;
  if (place.column < 0 || n >= parser->length - 1 || line[n] != '=' ||
      !same_load_bytes(line, place.raw_name, n)) {
    return 0;
  }
  ++parser->place;
  std::string_view value = load_value(parser, line + n + 1, place.is_comment);
  return put_tab_cell_bynum(table, place.column, parser->row, value) < 0 ? -1 : 1;
}

// Stores a data line of a row, or a comment line, that put_known_cell did
// not take.
int put_load_cell(LoadParser* parser, Table* table) {
  if (parser->in_comment) return put_load_info(parser, table, LOAD_ROW);
  int result = put_load_info(parser, table, LOAD_ROW);
  ++parser->place;
  return result;
}

// Ends a COMMENT value at its section's closing line: the lines gathered
// after its first are appended to it.
int end_load_comment(LoadParser* parser, Table* table, int section) {
  int result = 0;
  if (parser->in_comment && !parser->comment_rest.empty()) {
    result = section == LOAD_HEADER
                 ? cat_tab_key(table, comment, parser->comment_rest)
                 : cat_tab_cell(table, comment, parser->row, parser->comment_rest);
  }
  // Small comments reuse the buffer row after row; a huge one gives its
  // memory back, as the Table now holds the text.
  if (parser->comment_rest.capacity() > (1u << 20)) {
    std::string().swap(parser->comment_rest);
  } else {
    parser->comment_rest.clear();
  }
  parser->in_comment = 0;
  return result;
}

// Runs the three states over the file. False on a syntax error, with
// `lineno` at the offending line.
bool parse_load_file(LoadParser* parser, Table* table) {
  parser->in_comment = 0;
  for (int token = which_load_token(parser); token != TOK_ENDHEADER;
       token = which_load_token(parser)) {
    if (token == TOK_BLANK || token == TOK_REMARK) continue;
    if (token != TOK_DATA || put_load_info(parser, table, LOAD_HEADER) < 0) return false;
  }
  if (end_load_comment(parser, table, LOAD_HEADER) < 0) return false;

  parser->row = 0;
  parser->place = 0;
  for (;;) {
    int token = read_load_line(parser);
    if (token == TOK_DATA) {
      int known = put_known_cell(parser, table);
      if (known < 0) return false;
      if (known > 0) continue;
      token = classify_load_line(parser);
    }
    if (token == TOK_ENDFILE) break;
    if (token == TOK_BLANK || token == TOK_REMARK) continue;
    if (token == TOK_ENDROW) {
      if (end_load_comment(parser, table, LOAD_ROW) < 0) return false;
      ++parser->row;
      parser->place = 0;
      continue;
    }
    if (token != TOK_DATA || put_load_cell(parser, table) < 0) return false;
  }
  // "ENDFILE" ends a row comment as "ENDROW" does.
  if (end_load_comment(parser, table, LOAD_ROW) < 0) return false;

  int token = which_load_token(parser);
  while (token == TOK_BLANK) token = which_load_token(parser);
  return token == TOK_EOF;
}

}  // namespace

Table* read_loadfile(const char* path) {
  LoadParserPtr parser = init_load_parser(path);
  if (!parser) return nullptr;
  TablePtr table(create_table());
  if (!parse_load_file(parser.get(), table.get())) {
    error_load_parser(parser.get());
    return nullptr;
  }
  return table.release();
}

// One file being written. Output goes through a large buffer flushed with
// write(2); the first failed write marks the writer failed and nothing more
// is written. `temp` names the file being written while it is not yet in
// place; it is empty when writing straight to `target` (a device, a FIFO).
struct LoadWriter {
  int fd = -1;
  bool failed = false;
  std::string target;
  std::string temp;
  std::unique_ptr<char[]> buffer;
  size_t used = 0;

  // The layout of every row: the name of each column followed by " = ",
  // packed one after another and found through `prefix_end`.
  int ncol = 0;
  int comment_col = -1;
  std::string prefixes;
  std::vector<size_t> prefix_end;
};

namespace {

void write_load_bytes(LoadWriter* writer, const char* bytes, size_t size) {
  while (size > 0 && !writer->failed) {
    ssize_t done = write(writer->fd, bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      writer->failed = true;
      break;
    }
    bytes += done;
    size -= static_cast<size_t>(done);
  }
}

void flush_load_writer(LoadWriter* writer) {
  write_load_bytes(writer, writer->buffer.get(), writer->used);
  writer->used = 0;
}

void emit(LoadWriter* writer, std::string_view text) {
  // An empty cell may be a view with no storage at all; there is nothing to
  // copy, and memcpy must not be handed its null pointer.
  if (text.empty()) return;
  if (text.size() > kWriteBlock - writer->used) {
    flush_load_writer(writer);
    if (text.size() >= kWriteBlock) {
      write_load_bytes(writer, text.data(), text.size());
      return;
    }
  }
  std::memcpy(writer->buffer.get() + writer->used, text.data(), text.size());
  writer->used += text.size();
}

void emit_line(LoadWriter* writer, std::string_view name_equals, std::string_view value) {
  emit(writer, name_equals);
  emit(writer, value);
  emit(writer, "\n");
}

// A COMMENT text runs on to its own newlines; it gets one more only when it
// does not end with one.
void emit_comment(LoadWriter* writer, std::string_view value) {
  emit(writer, "COMMENT =");
  emit(writer, value);
  if (value.empty() || value.back() != '\n') emit(writer, "\n");
}

// Decides where the file goes and opens it. A regular file (or a name not
// yet taken) gets a temporary file beside it, with the mode that writing in
// place would have given; anything else that exists is written directly.
bool open_load_target(LoadWriter* writer, const char* path) {
  writer->target = path;
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    // Replace what the link points at, not the link itself.
    if (char* real = realpath(path, nullptr)) {
      writer->target = real;
      std::free(real);
    } else {
      writer->fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      return writer->fd >= 0;
    }
  }
  const char* target = writer->target.c_str();

  mode_t mode = 0;
  bool existed = false;
  if (stat(target, &st) == 0) {
    if (S_ISDIR(st.st_mode)) return false;
    if (!S_ISREG(st.st_mode)) {
      writer->fd = open(target, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      return writer->fd >= 0;
    }
    // A file its owner has made read-only is not silently replaced.
    if (access(target, W_OK) != 0) return false;
    mode = st.st_mode & 07777 & ~(S_ISUID | S_ISGID);
    existed = true;
  } else if (errno == ENOENT) {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  } else {
    return false;
  }

  size_t slash = writer->target.rfind('/');
  size_t base = slash == std::string::npos ? 0 : slash + 1;
  if (base == writer->target.size()) return false;
  // Keep the temporary name within the file name limit.
  std::string_view name = std::string_view(writer->target).substr(base, 200);
  std::string temp = writer->target.substr(0, base);
  temp += '.';
  temp += name;
  temp += ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  writer->fd = fd;
  writer->temp = std::move(temp);
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  if (existed && fchown(fd, st.st_uid, st.st_gid) != 0) {
    // Not permitted to give it the old owner: it stays ours, as a new file.
  }
  if (fchmod(fd, mode) != 0) return false;
  return true;
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
    emit(writer, name);
    emit_line(writer, " = ", value);
  }
  if (comment_value != nullptr) emit_comment(writer, comment_value);
  emit(writer, "ENDHEADER\n\n");
}

int fail_load_writer(LoadWriter* writer) {
  discard_load_writer(writer);
  fail_load(LOAD_CANNOT_WRITE);
  return -1;
}

}  // namespace

LoadWriter* open_load_writer(const char* path, Table* layout) {
  auto* writer = new LoadWriter;
  if (!open_load_target(writer, path)) {
    discard_load_writer(writer);
    fail_load(LOAD_CANNOT_OPEN);
    return nullptr;
  }
  writer->buffer.reset(new char[kWriteBlock]);
  set_load_layout(writer, layout);
  write_load_header(writer, layout);
  if (writer->failed) {
    fail_load_writer(writer);
    return nullptr;
  }
  return writer;
}

int put_load_row(LoadWriter* writer, const std::string_view* cells) {
  if (writer->failed) {
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
  if (writer->failed) {
    fail_load(LOAD_CANNOT_WRITE);
    return -1;
  }
  return 0;
}

// Finishes the file and puts it in place. The writer is released whatever
// the result; on failure nothing written is left behind.
int close_load_writer(LoadWriter* writer) {
  emit(writer, "ENDFILE\n");
  flush_load_writer(writer);
  if (writer->failed) return fail_load_writer(writer);
  int fd = writer->fd;
  writer->fd = -1;
  if (close(fd) != 0) return fail_load_writer(writer);
  if (!writer->temp.empty()) {
    if (rename(writer->temp.c_str(), writer->target.c_str()) != 0) {
      return fail_load_writer(writer);
    }
    writer->temp.clear();
  }
  delete writer;
  return 0;
}

// Safe at any moment, also from an exit handler while a file is half
// written, and on a null writer.
void discard_load_writer(LoadWriter* writer) {
  if (writer == nullptr) return;
  if (writer->fd >= 0) close(writer->fd);
  if (!writer->temp.empty()) unlink(writer->temp.c_str());
  delete writer;
}

const char* load_writer_temp(const LoadWriter* writer) {
  return writer == nullptr || writer->temp.empty() ? nullptr : writer->temp.c_str();
}

int write_loadfile(const char* path, Table* table) {
  LoadWriter* writer = open_load_writer(path, table);
  if (writer == nullptr) return -1;
  std::vector<std::string_view> cells(static_cast<size_t>(table->ncol));
  for (int r = 0; r < table->nrow; ++r) {
    for (int c = 0; c < table->ncol; ++c)
      cells[static_cast<size_t>(c)] = get_tab_cell_bynum(table, c, r);
    if (put_load_row(writer, cells.data()) < 0) {
      discard_load_writer(writer);
      return -1;
    }
  }
  return close_load_writer(writer);
}
