// Load files: the tool set's plain-text table. read_loadfile turns a file into
// a Table; write_loadfile writes a Table in the canonical layout. Neither
// prints nor ends the process: failures return null or -1 with `lod_error`.
#pragma once

#include <string_view>

#include <loadfile/loadwriter.h>
#include <loadfile/table.h>

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

// Returns a new Table owned by the caller, or null with `lod_error` set.
Table* read_loadfile(const char* path);
