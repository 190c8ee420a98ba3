// Load files: the tool set's plain-text table. read_loadfile turns a file into
// a Table; write_loadfile writes a Table in the canonical layout. Neither
// prints nor ends the process: failures return null or -1 with `lod_error`.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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

// Why a read failed with LOAD_SYNTAX_ERROR, for a caller that explains it.
enum LoadReason : int {
  LOAD_NO_REASON = 0,
  LOAD_NO_EQUALS,          // a line is neither NAME = value nor a closing line
  LOAD_EMPTY_FILE,         // the file holds no line at all
  LOAD_NO_ENDHEADER,       // the file ends before its "ENDHEADER" line
  LOAD_NO_ENDFILE,         // the file ends before its "ENDFILE" line
  LOAD_CLOSED_IN_HEADER,   // "ENDROW" or "ENDFILE" before "ENDHEADER"
  LOAD_ENDHEADER_IN_ROWS,  // "ENDHEADER" among the rows
  LOAD_AFTER_ENDFILE,      // a line other than a blank one after "ENDFILE"
  LOAD_LONG_LINE,          // more than 78 bytes before the newline
  LOAD_NO_NEWLINE,         // the last line has no newline
  LOAD_NUL_BYTE,           // a NUL byte before the newline
  LOAD_READ_FAILED,        // the file could not be read to its end
  LOAD_NEW_COLUMN,         // a column that the first row does not have
  LOAD_ROW_AFTER_EMPTY,    // a data line for the row after an empty one
};
// The last failure of this thread's reads: for a syntax error its reason
// and the line that the message in `lod_error` names; LOAD_NO_REASON and 0
// after any other failure.
struct LoadSyntaxError {
  LoadReason reason;
  int line;
};
#if defined(__cpp_constinit)
extern thread_local constinit LoadSyntaxError load_syntax_error;
#else
extern thread_local LoadSyntaxError load_syntax_error;
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

// A column given again in one row: the Table keeps the value of `line` and
// loses that of `earlier`. Two rows run together by a missing "ENDROW" show
// as such repeats, one for each row that lost its end.
struct LoadRepeat {
  int line;     // the line that gives the column again
  int earlier;  // the line whose value is lost
  int row;      // the row, counted from 0
  std::string column;
};

// read_loadfile, also noting in `repeats` every column given again in a row
// since the row began or since its last repeat (so the rows a lost "ENDROW"
// ran together each show once). Slower: the file is read in one piece and
// every name looked up.
Table* read_loadfile_noting(const char* path, std::vector<LoadRepeat>* repeats);

// Files of at least this many bytes are read in two halves at once, on two
// threads, where a row ends after the middle; the Table and every message
// are those of a read in one piece. Tests set it low to cut small files.
extern std::size_t load_split_min;
