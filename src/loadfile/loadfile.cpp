// Load files: reading one into a Table (the writer is loadwriter.cpp).
//
// The reader is line oriented. Every line is first classified on its own
// (which_load_token), then a three-state parser (header, rows, trailer)
// decides what it means in its place. The file is read in large blocks and
// cut into lines here, with the same result as reading it line by line
// through a buffer of 80: at most 79 bytes per line, stopping after the
// newline.

#include "loadfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
