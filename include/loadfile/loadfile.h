// Load files: the tool set's plain-text table. read_loadfile turns a file into
// a Table; write_loadfile writes a Table in the canonical layout. Neither
// prints nor ends the process: failures return null or -1 with `lod_error`.
#pragma once

#include <cstddef>
#include <string_view>

#include <loadfile/loadwriter.h>
#include <loadfile/table.h>

// The load file library's own failures, by the index of their text in
// `load_message`. `load_failure` tells which one the last failing read or
// write of the thread was, so callers choose their report by value, never
// by text. Each thread has its own, as it has its own `lod_error`.
enum LoadFailure : int {
  LOAD_CANNOT_OPEN = 0,   // "Cannot open loadfile"
  LOAD_SYNTAX_ERROR = 1,  // "Syntax error in loadile", then " at line N"
  LOAD_CANNOT_WRITE = 2,  // "Cannot write loadfile"
};
extern const char* const load_message[];
#if defined(__cpp_constinit)
extern thread_local constinit LoadFailure load_failure;
#else
extern thread_local LoadFailure load_failure;
#endif
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

// Files of at least this many bytes are read in two halves at once, on two
// threads, where a row ends after the middle; the Table and every message
// are those of a read in one piece. Tests set it low to cut small files.
extern std::size_t load_split_min;
