// Load files: reading one into a Table and writing a Table back out.
//
// The reader is line oriented. Every line is first classified on its own
// (which_load_token), then a three-state parser (header, rows, trailer)
// decides what it means in its place. The file is read in large blocks and
// cut into lines here, with the same result as reading it line by line
// through a buffer of 80: at most 79 bytes per line, stopping after the
// newline.
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "loadline.h"
#include "lodstring.h"

const char* const load_message[] = {
    "Cannot open loadfile",
    "Syntax error in loadile",
    "Cannot write loadfile",
};

LoadFailure load_failure = LOAD_CANNOT_OPEN;

const char* const comment = "COMMENT";

namespace {

constexpr int kLineSize = 81;  // 78 bytes, the newline, and room to spare
constexpr int kLineRead = 79;  // bytes taken per line at most
constexpr size_t kReadBlock = 1 << 20;
constexpr size_t kWriteBlock = 1 << 20;

// The syntax error message names the offending line; one buffer serves every
// read, so the text stays valid until the next syntax error.
char syntax_message[80];

// Points `lod_error` at a failure of the load file library and records which.
void fail_load(LoadFailure failure) {
  load_failure = failure;
  lod_error = load_message[failure];
}

}  // namespace

// The reader's state for one read. The first six fields are the parser's;
// the rest belong to the block reader underneath and to the COMMENT value
// being gathered.
struct LoadParser {
  int file = -1;
  char line[kLineSize] = {};
  int token = TOK_BADLINE;
  int lineno = 0;
  int row = 0;
  int in_comment = 0;

  int length = 0;  // bytes in `line`, its newline included
  std::unique_ptr<char[]> block;
  size_t start = 0;  // first unread byte of `block`
  size_t end = 0;    // end of the bytes read into `block`
  bool at_end = false;
  bool read_failed = false;
  // The lines of a COMMENT after its first, appended to the Table in one
  // piece when the section closes: its cost stays linear in its length
  // however many lines it has.
  std::string comment_rest;
};

namespace {

LoadParser* init_load_parser(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  // A directory opens, but it is no file to read a table from.
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    fd = -1;
  }
  if (fd < 0) {
    fail_load(LOAD_CANNOT_OPEN);
    return nullptr;
  }
  auto* parser = new LoadParser;
  parser->file = fd;
  parser->block.reset(new char[kReadBlock]);
  return parser;
}

void free_load_parser(LoadParser* parser) {
  if (parser == nullptr) return;
  if (parser->file >= 0) close(parser->file);
  delete parser;
}

// Leaves the syntax error, with the number of lines read so far, in
// `lod_error`, and releases the parser.
void error_load_parser(LoadParser* parser) {
  std::snprintf(syntax_message, sizeof syntax_message, "%s at line %d",
                load_message[LOAD_SYNTAX_ERROR], parser->lineno);
  load_failure = LOAD_SYNTAX_ERROR;
  lod_error = syntax_message;
  free_load_parser(parser);
}

// Makes at least kLineRead bytes available unless the file ends first.
// A failed read ends the input; it then reads as a bad line, so no state
// takes a file cut short for a complete one.
void fill_load_block(LoadParser* parser) {
  char* block = parser->block.get();
  if (parser->start > 0) {
    std::memmove(block, block + parser->start, parser->end - parser->start);
    parser->end -= parser->start;
    parser->start = 0;
  }
  while (!parser->at_end && parser->end < static_cast<size_t>(kLineRead)) {
    ssize_t got = read(parser->file, block + parser->end, kReadBlock - parser->end);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      parser->at_end = true;
      parser->read_failed = got < 0;
      break;
    }
    parser->end += static_cast<size_t>(got);
  }
}

// Copies the next line into `line`: at most kLineRead bytes, stopping after
// a newline. Returns false at the end of the file.
bool read_load_line(LoadParser* parser) {
  if (parser->end - parser->start < static_cast<size_t>(kLineRead) && !parser->at_end) {
    fill_load_block(parser);
  }
  size_t avail = parser->end - parser->start;
  if (avail == 0) return false;
  size_t take = avail < static_cast<size_t>(kLineRead) ? avail : kLineRead;
  const char* from = parser->block.get() + parser->start;
  const void* newline = std::memchr(from, '\n', take);
  if (newline != nullptr) take = static_cast<const char*>(newline) - from + 1;
  std::memcpy(parser->line, from, take);
  parser->line[take] = '\0';
  parser->length = static_cast<int>(take);
  parser->start += take;
  return true;
}

bool is_closing_word(const char* text, int length, std::string_view word) {
  if (length != static_cast<int>(word.size())) return false;
  for (int i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c != static_cast<unsigned char>(word[i])) return false;
  }
  return true;
}

// Reads the next line and tells what kind of line it is.
int which_load_token(LoadParser* parser) {
  if (!read_load_line(parser)) {
    return parser->token = parser->read_failed ? TOK_BADLINE : TOK_EOF;
  }
  if (parser->lineno == INT_MAX) return parser->token = TOK_BADLINE;  // no line number left
  ++parser->lineno;

  const char* line = parser->line;
  int length = parser->length;
  // A NUL ends the line where it stands, so the newline behind it is never
  // seen; a line cut at the read limit has none either.
  if (line[length - 1] != '\n' || std::memchr(line, '\0', length) != nullptr) {
    return parser->token = TOK_BADLINE;
  }

  int first = 0;
  while (first < length && is_blank_byte(line[first])) ++first;
  int last = length - 1;
  while (last >= 0 && is_blank_byte(line[last])) --last;

  if (!parser->in_comment) {
    if (first == length) return parser->token = TOK_BLANK;
    if (line[first] == '#') return parser->token = TOK_REMARK;
  }
  // Closing words are matched from the line's first byte, so an indented one
  // is data; only trailing blanks are cut.
  int words = last + 1;
  if (is_closing_word(line, words, "ENDROW")) return parser->token = TOK_ENDROW;
  if (is_closing_word(line, words, "ENDHEADER")) return parser->token = TOK_ENDHEADER;
  if (is_closing_word(line, words, "ENDFILE")) return parser->token = TOK_ENDFILE;
  return parser->token = TOK_DATA;
}

// Stores the current data line as a header keyword or as a cell of the
// current row. Returns 0, or -1 for a line without `=` or a cell the Table
// refuses.
int put_load_info(LoadParser* parser, Table* table, int section) {
  if (parser->in_comment) {
    parser->comment_rest.append(parser->line, parser->length);
    return 0;
  }
  char* equals = std::strchr(parser->line, '=');
  if (equals == nullptr) return -1;
  *equals = '\0';
  char* name = parser->line;
  char* value = equals + 1;
  strclean(name);
  strucase(name);
  // A COMMENT value is kept as written, newline and all; every line after
  // it up to the closing line belongs to it.
  if (std::strcmp(name, comment) == 0) {
    parser->in_comment = 1;
    parser->comment_rest.clear();
  } else {
    strclean(value);
  }
  if (section == LOAD_HEADER) return put_tab_key(table, name, value);
  return put_tab_cell(table, name, parser->row, value);
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
  for (int token = which_load_token(parser); token != TOK_ENDFILE;
       token = which_load_token(parser)) {
    if (token == TOK_BLANK || token == TOK_REMARK) continue;
    if (token == TOK_ENDROW) {
      if (end_load_comment(parser, table, LOAD_ROW) < 0) return false;
      ++parser->row;
      continue;
    }
    if (token != TOK_DATA || put_load_info(parser, table, LOAD_ROW) < 0) return false;
  }
  // "ENDFILE" ends a row comment as "ENDROW" does.
  if (end_load_comment(parser, table, LOAD_ROW) < 0) return false;

  int token = which_load_token(parser);
  while (token == TOK_BLANK) token = which_load_token(parser);
  return token == TOK_EOF;
}

}  // namespace

Table* read_loadfile(const char* path) {
  LoadParser* parser = init_load_parser(path);
  if (parser == nullptr) return nullptr;
  TablePtr table(create_table());
  if (!parse_load_file(parser, table.get())) {
    error_load_parser(parser);
    return nullptr;
  }
  free_load_parser(parser);
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

  long lineno = 0;  // lines written so far
  LoadOverlong overlong;
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

// Keeps the first line that no layout brings within the reader's limit, and
// counts them all; called before the value's lines are counted as written.
void note_overlong(LoadWriter* writer, const LoadLineFit& fit, std::string_view name) {
  if (fit.overlong == 0) return;
  if (writer->overlong.count == 0) {
    writer->overlong.line = writer->lineno + 1 + fit.first_overlong;
    writer->overlong.name = name;
  }
  writer->overlong.count += fit.overlong;
}

// "NAME = value", or "NAME=value" where only that fits the reader, which
// takes both the same. `name_equals` is the name followed by " = ".
void emit_line(LoadWriter* writer, std::string_view name_equals, std::string_view value) {
  LoadLineFit fit;
  std::string_view name = name_equals.substr(0, name_equals.size() - 3);
  if (name_equals.size() + value.size() > kLoadLineMax) {
    fit = fit_load_line(name, value, false);
    note_overlong(writer, fit, name);
  }
  if (fit.compact) {
    emit(writer, name);
    emit(writer, "=");
  } else {
    emit(writer, name_equals);
  }
  emit(writer, value);
  emit(writer, "\n");
  ++writer->lineno;
}

// A COMMENT text runs on to its own newlines; it gets one more only when it
// does not end with one.
void emit_comment(LoadWriter* writer, std::string_view value) {
  LoadLineFit fit = fit_load_line(comment, value, true);
  note_overlong(writer, fit, comment);
  emit(writer, fit.compact ? "COMMENT=" : "COMMENT =");
  emit(writer, value);
  writer->lineno += std::count(value.begin(), value.end(), '\n');
  if (value.empty() || value.back() != '\n') {
    emit(writer, "\n");
    ++writer->lineno;
  }
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
    emit_line(writer, std::string(name) + " = ", value);
  }
  if (comment_value != nullptr) emit_comment(writer, comment_value);
  emit(writer, "ENDHEADER\n\n");
  writer->lineno += 2;
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
  writer->lineno += 2;
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

const LoadOverlong& load_writer_overlong(const LoadWriter* writer) {
  return writer->overlong;
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
