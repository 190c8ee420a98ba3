// The state of one parse of one rule file, shared by the scanner and the
// parser and handed to both by reference: the scanner counts lines in it and
// files each value's text there, the parser fills the rule Tables through
// it. Private to the rule language.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "openhash.h"
#include "rules.h"

// The value of a WORD token: its place in the parse's text of values (see
// scan_word) and the line on which the token begins.
struct RuleWord {
  int at;
  int length;
  int line;
};

// The text of each value scanned, one after another; a value is its place
// in here, since growing may move the text. Grown by hand: each value is
// written straight into it.
struct WordText {
  std::unique_ptr<char[]> text;
  size_t size = 0;
  size_t capacity = 0;
};

// Column numbers by name, for one Table whose columns stay as they are
// while the rule file is read: a rule file names few columns, over and over.
// A slot holds a column the Table has, by its name as the Table keeps it;
// a name the Table lacks is not kept, since rules that name one are few.
struct ColumnSlot {
  std::size_t hash = 0;
  const char* name = nullptr;
  std::size_t length = 0;
  int column = -1;
  bool is_free() const { return column < 0; }
};
// Room for the names of a wide load file before the first growth.
constexpr std::size_t kColumnSlotsFirst = 64;
struct ColumnIndex {
  Table* table = nullptr;
  OpenHash<ColumnSlot, kHashHalfFull, kColumnSlotsFirst> slots{};
};

// The scanner's own state (flex's), created for one parse.
struct RuleScannerFree {
  void operator()(void* scanner) const;
};
using RuleScanner = std::unique_ptr<void, RuleScannerFree>;

struct RuleParse {
  RuleFile& rules;  // what the parse fills
  RuleReading how{};
  RuleScanner scanner{};  // reads the rule file's bytes

  // Named as the rule grammar names them.
  int xline = 1;             // line of the rule file being read
  Table* xtarget = nullptr;  // rules.target
  Table* xaction = nullptr;  // rules.action
  int first = 0;             // first action row of the rule being parsed
  int ntarget = 0;           // its target row; the number of rules accepted so far
  int naction = 0;           // where the next assignment appends its action row
  bool missing = false;      // the rule names a column the Tables lack

  int after_line = 1;            // where the token before the one last read ended
  int rule_line = 0;             // line of the rule's first token; 0 before it is read
  std::string missing_column{};  // the first name that set `missing`
  bool in_choice = false;        // the newest assignment began a choice still being read
  int first_col = -1;            // the target table's `_FIRST` and `_LAST` columns
  int last_col = -1;
  WordText words{};
  ColumnIndex target_columns{};
  ColumnIndex action_columns{};
};

// Points a new scanner for `parse` at a stream or at text (copied), and
// gives it to `parse`.
void start_rule_scanner(RuleParse& parse, FILE* stream);
void start_rule_scanner(RuleParse& parse, std::string_view text);
// The text of the token last returned; empty at the end of input.
std::string_view rule_token_text(const RuleParse& parse);

// Files a WORD token's value for the parser and returns its place: the
// token's text, letters a-z upper-cased; a token that begins with a quote
// loses it and everything from the matching quote or the first NUL byte on
// (an unclosed quote keeps the rest). Any other token is a run of word
// characters, which holds no NUL. Called by the scanner before it counts
// the token's own lines.
RuleWord scan_word(RuleParse& parse, std::string_view token);

// Ends the process with status 2 after a line on standard error: the
// scanner's own failures.
[[noreturn]] void rule_scan_fatal(const char* message);
