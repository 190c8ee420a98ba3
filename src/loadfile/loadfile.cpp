// Load files: reading one into a Table (the writer is loadwriter.cpp).
//
// The reader is line oriented. Every line is first classified on its own
// (which_load_token), then a three-state parser (header, rows, trailer)
// decides what it means in its place. The file is read in large blocks and
// every line is classified, cut and cleaned where it stands in the block
// (loadblock), with the same result as reading it line by line through a
// buffer of 80: at most 79 bytes per line, stopping after the newline.

#include <loadfile/loadfile.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <loadfile/loadline.h>
#include <loadfile/lodstring.h>
#include "loadblock.h"
#include "loadfail.h"
#include "loadparser.h"
#include "loadsplit.h"
#include "storage.h"

const char* const load_message[] = {
    "Cannot open loadfile",
    "Syntax error in loadile",
    "Cannot write loadfile",
};

constinit thread_local LoadFailure load_failure = LOAD_CANNOT_OPEN;
constinit thread_local LoadSyntaxError load_syntax_error = {LOAD_NO_REASON, 0};

const char* const comment = "COMMENT";

void fail_load(LoadFailure failure) {
  load_failure = failure;
  load_syntax_error = {LOAD_NO_REASON, 0};
  lod_error = load_message[failure];
}

namespace {

// The syntax error message names the offending line; one buffer serves every
// read of a thread, so the text stays valid until the thread's next syntax
// error. Each thread has its own, as it has its own `lod_error`: a read on
// one thread never changes the message another thread's read left. (The
// second half of a read fails by its result alone; only the first half's
// thread, the caller's, sets these.)
thread_local char syntax_message[80];

}  // namespace

void free_load_parser(LoadParser* parser) {
  delete parser;  // the input closes with it
}

namespace {

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
  return parser->token = closing_load_token({line, static_cast<size_t>(length - 1)});
}

// Reads the next line and tells what kind of line it is.
int which_load_token(LoadParser* parser) {
  int token = read_load_line(parser);
  return token == TOK_DATA ? classify_load_line(parser) : token;
}

// Notes the cell of column `name` just stored from the current line of a
// noting read, and a repeat when the column was given before in the same
// stretch of the row.
void note_load_cell(LoadParser* parser, Table* table, std::string_view name) {
  LoadNoting& noting = *parser->noting;
  int c = get_tab_colnum(table, name);
  if (c < 0) return;
  if (noting.given.size() <= static_cast<size_t>(c)) noting.given.resize(c + 1);
  LoadNoting::Given& given = noting.given[c];
  if (given.row == parser->row && given.stretch == noting.stretch) {
    noting.repeats->push_back({parser->lineno, given.line, parser->row, std::string(name)});
    ++noting.stretch;
  }
  given = {parser->row, noting.stretch, parser->lineno};
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
  // Rows repeat their layout: remember this one's, within reason. A noting
  // read remembers nothing, so that every line comes here to be noted.
  bool remember = section == LOAD_ROW && k <= 2 * table->ncol + 16 && parser->noting == nullptr;
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
  if (result < 0) {
    parser->refused = get_tab_colnum(table, name) < 0 && table->nrow > 1 ? LOAD_NEW_COLUMN
                      : parser->row > table->nrow                        ? LOAD_ROW_AFTER_EMPTY
                                                                         : LOAD_NO_REASON;
  } else if (parser->noting != nullptr) {
    note_load_cell(parser, table, name);
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
  // The row's first cell makes the row; the rest go straight to their
  // entries of the cells.
  if (parser->row >= table->nrow) {
    if (put_tab_cell_bynum(table, place.column, parser->row, value) == 0) return 1;
    if (parser->row > table->nrow) parser->refused = LOAD_ROW_AFTER_EMPTY;
    return -1;
  }
  long long entry = tab_cell_entry(table, parser->row, place.column);
  return put_text(table->cells, static_cast<int>(entry), value) < 0 ? -1 : 1;
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

}  // namespace

bool parse_load_header(LoadParser* parser, Table* table) {
  parser->in_comment = 0;
  for (int token = which_load_token(parser); token != TOK_ENDHEADER;
       token = which_load_token(parser)) {
    if (token == TOK_BLANK || token == TOK_REMARK) continue;
    if (token != TOK_DATA || put_load_info(parser, table, LOAD_HEADER) < 0) return false;
  }
  if (end_load_comment(parser, table, LOAD_HEADER) < 0) return false;
  parser->row = 0;
  parser->place = 0;
  return true;
}

LoadRowsEnd parse_load_rows(LoadParser* parser, Table* table) {
  for (;;) {
    int token = read_load_line(parser);
    // Inside a COMMENT only a line that starts as a closing word can end it;
    // every other line belongs to it as it stands.
    if (token == TOK_DATA && parser->in_comment && (parser->line[0] | 0x20) != 'e') {
      parser->comment_rest.append(parser->line, parser->length);
      continue;
    }
    if (token == TOK_DATA) {
      int known = put_known_cell(parser, table);
      if (known < 0) return LOAD_ROWS_FAILED;
      if (known > 0) continue;
      token = classify_load_line(parser);
    }
    if (token == TOK_ENDFILE) break;
    if (token == TOK_BLANK || token == TOK_REMARK) continue;
    if (token == TOK_ENDROW) {
      if (end_load_comment(parser, table, LOAD_ROW) < 0) return LOAD_ROWS_FAILED;
      ++parser->row;
      parser->place = 0;
      if (parser->half != nullptr && !end_load_half_row(parser, table)) return LOAD_ROWS_FAILED;
      continue;
    }
    if (token == TOK_EOF && load_half_paused(parser)) return LOAD_ROWS_PAUSED;
    if (token != TOK_DATA || put_load_cell(parser, table) < 0) return LOAD_ROWS_FAILED;
  }
  // "ENDFILE" ends a row comment as "ENDROW" does.
  return end_load_comment(parser, table, LOAD_ROW) < 0 ? LOAD_ROWS_FAILED : LOAD_ROWS_ENDED;
}

bool parse_load_trailer(LoadParser* parser) {
  int token = which_load_token(parser);
  while (token == TOK_BLANK) token = which_load_token(parser);
  return token == TOK_EOF;
}

namespace {

enum LoadState { IN_HEADER, IN_ROWS, IN_TRAILER };

// Runs the three states over the file, a large one in two halves at once
// where it can. False on a syntax error, with `lineno` at the offending
// line and `state` the state that found it.
bool parse_load_file(LoadParser* parser, Table* table, LoadState* state) {
  *state = IN_HEADER;
  if (!parse_load_header(parser, table)) return false;
  *state = IN_ROWS;
  LoadRowsEnd end = parse_load_rows(parser, table);
  if (end == LOAD_ROWS_PAUSED) {
    if (join_load_half(parser, table)) return true;
    // The second half cannot be taken as it was read: the first reads on.
    end = parse_load_rows(parser, table);
  }
  if (end != LOAD_ROWS_ENDED) return false;
  *state = IN_TRAILER;
  return parse_load_trailer(parser);
}

// Why `state` found the syntax error at the line just read.
LoadReason failed_load_reason(const LoadParser* parser, LoadState state) {
  switch (parser->token) {
    case TOK_BADLINE:
      return parser->file.read_failed ? LOAD_READ_FAILED : parser->file.bad;
    case TOK_EOF:
      if (parser->lineno == 0) return LOAD_EMPTY_FILE;
      return state == IN_HEADER ? LOAD_NO_ENDHEADER : LOAD_NO_ENDFILE;
    default:
      break;
  }
  if (state == IN_TRAILER) return LOAD_AFTER_ENDFILE;
  if (parser->token == TOK_DATA) {
    bool equals = std::memchr(parser->line, '=', parser->length - 1) != nullptr;
    return equals ? parser->refused : LOAD_NO_EQUALS;
  }
  if (state == IN_HEADER) return LOAD_CLOSED_IN_HEADER;
  return parser->token == TOK_ENDHEADER ? LOAD_ENDHEADER_IN_ROWS : LOAD_NO_REASON;
}

// Runs the three states over a file that can be cut, in two halves at
// once. That takes more memory than a read in one piece: the rows of both
// halves at once, and a second thread. Should it run out, on either thread,
// the halves are given up: false, and the file is to be read again in one
// piece, which runs out of memory only where such a read would.
bool parse_load_halves(LoadParser* parser, Table* table, LoadState* state, bool* read) {
  LoadHalf half;  // stopped and joined before the parser goes, on every way out
  plan_load_halves(parser, &half);
  if (half.cut == 0) {
    *read = parse_load_file(parser, table, state);
    return true;
  }
  OutOfMemoryThrows one_piece;
  try {
    *read = parse_load_file(parser, table, state);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

Table* read_loadfile_with(const char* path, LoadNoting* noting) {
  LoadParserPtr parser = init_load_parser(path);
  if (!parser) return nullptr;
  TablePtr table(create_table());
  LoadState state;
  bool read = false;
  if (noting != nullptr) {
    // A noting read takes every line by name, in one piece.
    parser->noting = noting;
    read = parse_load_file(parser.get(), table.get(), &state);
  } else if (!parse_load_halves(parser.get(), table.get(), &state, &read)) {
    // Everything the halves held goes first; the descriptor stays.
    table.reset();
    int fd = std::exchange(parser->file.fd, -1);
    parser.reset(new (std::nothrow) LoadParser);
    if (!parser) out_of_memory();
    adopt_load_block(parser->file, fd, 0);
    table.reset(create_table());
    read = parse_load_file(parser.get(), table.get(), &state);
  }
  if (!read) {
    error_load_parser(parser.get());
    load_syntax_error = {failed_load_reason(parser.get(), state), parser->lineno};
    return nullptr;
  }
  return table.release();
}

}  // namespace

Table* read_loadfile(const char* path) {
  return read_loadfile_with(path, nullptr);
}

Table* read_loadfile_noting(const char* path, std::vector<LoadRepeat>* repeats) {
  LoadNoting noting;
  noting.repeats = repeats;
  return read_loadfile_with(path, &noting);
}
