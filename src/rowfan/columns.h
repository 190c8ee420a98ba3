// The column names the tool itself gives meaning to. Every Table the tool
// builds goes through these names, so they are spelled here only.
#pragma once

#include <string_view>

// Added to every output row: its 1-based position in the whole output.
constexpr const char* col_expansion_number = "EXPANSION_NUMBER";

// Bookkeeping columns. The target table: a rule's first and last row of the
// action table. The work table: the rule that matched a row, the next choice
// of that rule to push, and the rule that produced a row.
constexpr const char* col_first = "_FIRST";
constexpr const char* col_last = "_LAST";
constexpr const char* col_target = "_TARGET";
constexpr const char* col_index = "_INDEX";
constexpr const char* col_used = "_USED";

// A name beginning with `_` is bookkeeping: row copies never carry it, and
// the load file format keeps such names for the tools' own use.
constexpr bool is_bookkeeping(std::string_view name) {
  return !name.empty() && name[0] == '_';
}
