// The load file reader's state and its three states, for the module that
// reads a large file in two halves at once (loadsplit). Private to the load
// file library.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <loadfile/loadfile.h>
#include "loadblock.h"

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

struct LoadHalf;

// What a noting read keeps to find a column given again in a row: for each
// column, where it was last given. A repeat starts the row's stretch anew,
// so that rows a lost "ENDROW" ran together show one repeat each.
struct LoadNoting {
  std::vector<LoadRepeat>* repeats = nullptr;
  struct Given {
    int row = -1;
    int stretch = 0;
    int line = 0;
  };
  std::vector<Given> given;  // by column number
  int stretch = 0;
};

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
  // A read in halves: for the first half, the second to start once the
  // columns are settled; for the second, where it learns that the first
  // has failed. Null for a read in one piece.
  LoadHalf* half = nullptr;
  // Why the Table refused the current line's cell, as far as it is known.
  LoadReason refused = LOAD_NO_REASON;
  // A noting read: every data line of a row is taken by name and noted.
  // Null for a plain read.
  LoadNoting* noting = nullptr;
};

void free_load_parser(LoadParser* parser);
struct LoadParserFree {
  void operator()(LoadParser* parser) const { free_load_parser(parser); }
};
using LoadParserPtr = std::unique_ptr<LoadParser, LoadParserFree>;

// How the rows of a read end: at the "ENDFILE" line; at the limit of the
// first half, just after an "ENDROW" line, where the second half begins; or
// at a syntax error, with `lineno` at the offending line.
enum LoadRowsEnd { LOAD_ROWS_ENDED, LOAD_ROWS_PAUSED, LOAD_ROWS_FAILED };

// The three states; false (or LOAD_ROWS_FAILED) on a syntax error.
bool parse_load_header(LoadParser* parser, Table* table);
LoadRowsEnd parse_load_rows(LoadParser* parser, Table* table);
bool parse_load_trailer(LoadParser* parser);
