// Load files: the tool set's plain-text table. read_loadfile turns a file into
// a Table; write_loadfile writes a Table in the canonical layout. Neither
// prints nor ends the process: failures return null or -1 with `lod_error`.
#pragma once

#include <string>
#include <string_view>

#include "table.h"

// The load file library's own failures, by the index of their text in
// `load_message`. `load_failure` tells which one the last failing read or
// write was, so callers choose their report by value, never by text.
enum LoadFailure : int {
  LOAD_CANNOT_OPEN = 0,   // "Cannot open loadfile"
  LOAD_SYNTAX_ERROR = 1,  // "Syntax error in loadile", then " at line N"
  LOAD_CANNOT_WRITE = 2,  // "Cannot write loadfile"
};
extern const char* const load_message[];
extern LoadFailure load_failure;
extern const char* const comment;  // "COMMENT"

enum LoadToken {
  TOK_BADLINE = 0,
  TOK_EOF = 1,
  TOK_BLANK = 2,
  TOK_REMARK = 3,
  TOK_DATA = 4,
  TOK_ENDROW = 5,
  TOK_ENDHEADER = 6,
  TOK_ENDFILE = 7,
};

enum LoadSection { LOAD_HEADER = 1, LOAD_ROW = 2 };

// Returns a new Table owned by the caller, or null with `lod_error` set.
Table* read_loadfile(const char* path);

// Writes the whole Table; 0, or -1 with `lod_error` set. A regular file is
// written under a temporary name beside it and renamed into place only when
// complete, so a failed write leaves any earlier file of that name untouched.
int write_loadfile(const char* path, Table* table);

// The writer in streaming form, so rows can be written as they are produced.
// open_load_writer writes the header of `layout` (its keywords) and takes its
// column names as the layout of every row; put_load_row takes one cell per
// column in the layout's column order. close_load_writer finishes the file and
// puts it in place; discard_load_writer removes what was written. Every call
// returns 0 or -1 with `lod_error` set (open: null).
// close_load_writer and discard_load_writer both release the writer, whatever
// the result; discard_load_writer(nullptr) does nothing. So a caller that
// clears its pointer once the writer is closed may leave discarding a
// half-written file to an exit handler.
struct LoadWriter;
LoadWriter* open_load_writer(const char* path, Table* layout);
int put_load_row(LoadWriter* writer, const std::string_view* cells);
int close_load_writer(LoadWriter* writer);
void discard_load_writer(LoadWriter* writer);
// Lines written past the reader's limit of 78 bytes, where a value fits no
// layout: how many, and where the first stands. The file is written whole
// all the same, but will not read back. Valid until the writer is released.
struct LoadOverlong {
  long count = 0;
  long line = 0;     // line number of the first, from 1
  std::string name;  // its keyword or column name
};
const LoadOverlong& load_writer_overlong(const LoadWriter* writer);
// The temporary name the file is written under until close_load_writer puts
// it in place, or null when the output is written directly.
const char* load_writer_temp(const LoadWriter* writer);
