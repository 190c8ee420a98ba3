/* The rule grammar. Each rule becomes one row of the target table (its
 * tests) and one action-table row per choice (its assignments); a rule that
 * names a column the load file lacks is dropped whole at its `;`. */

%code requires {
#include "rules.h"
}

%code {
#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "columns.h"
#include <loadfile/loadfile.h>
#include <loadfile/loadline.h>
#include "rules.h"
#include <velalib/velaerror.h>

int xline = 1;
Table* xtarget = nullptr;
Table* xaction = nullptr;
std::vector<int> xrule_line;
std::vector<DroppedRule> xdropped;

namespace {

// Parser state of the rule being read; reset at the start of every parse.
int first = 0;         // first action row of the rule being parsed
int ntarget = 0;       // its target row; the number of rules accepted so far
int naction = 0;       // where the next assignment appends its action row
bool missing = false;  // the rule names a column the Tables lack
int rule_line = 0;     // line of the rule's first token; 0 before it is read
std::string missing_column;  // the first name that set `missing`
bool in_choice = false;  // the newest assignment began a choice still being read
int first_col = -1;  // the target table's `_FIRST` and `_LAST` columns
int last_col = -1;

// The text of each value scanned, one after another; a value is its place
// in here, since growing may move the text. Grown by hand: each value is
// written straight into it, upper-cased on the way.
struct WordText {
  std::unique_ptr<char[]> text;
  size_t size = 0;
  size_t capacity = 0;
};
WordText words;

std::string_view word(RuleWord w) {
  return std::string_view(words.text.get() + w.at, w.length);
}

// Room for `length` more bytes; there is always some text, so that even an
// empty value points somewhere.
char* make_room(WordText& words, size_t length) {
  if (!words.text || words.capacity - words.size < length) {
    size_t capacity = std::max<size_t>(256, 2 * (words.size + length));
    auto text = std::make_unique<char[]>(capacity);
    if (words.size > 0) std::memcpy(text.get(), words.text.get(), words.size);
    words.text = std::move(text);
    words.capacity = capacity;
  }
  return words.text.get() + words.size;
}

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

RuleWord scan_word(std::string_view token) {
  const char* in = token.data();
  const char* end = in + token.size();
  char stop = '\0';
  if (in != end && (*in == '"' || *in == '\'')) stop = *in++;
  char* const start = make_room(words, end - in);
  char* out = start;
  if (stop == '\0') {
    // A run of word characters: nothing to stop at.
    for (; in != end; ++in) *out++ = upper(*in);
  } else {
    for (; in != end && *in != stop && *in != '\0'; ++in) *out++ = upper(*in);
  }
  const RuleWord w{static_cast<int>(words.size), static_cast<int>(out - start), xline};
  words.size += out - start;
  return w;
}

namespace {

// Once a test or an assignment has used its values, none is pending unless
// the scanner has already read past the second: then the text waits for the
// next one.
void release_words(RuleWord last) {
  if (words.size == static_cast<size_t>(last.at) + last.length) words.size = 0;
}

// Column numbers by name, for one Table whose columns stay as they are
// while the rule file is read: a rule file names few columns, over and over,
// so most lookups end at the first entry tried.
struct ColumnCache {
  struct Entry {
    std::string name;
    int column = -1;
    bool known = false;
  };
  Table* table = nullptr;
  std::array<Entry, 64> entries;
};

ColumnCache target_columns;
ColumnCache action_columns;

void reset_columns(ColumnCache& cache, Table* table) {
  cache.table = table;
  for (ColumnCache::Entry& entry : cache.entries) entry.known = false;
}

int column_of(ColumnCache& cache, std::string_view name) {
  // Names that share a length and their first and last bytes share an
  // entry; they take turns in it and stay correct, only slower.
  const size_t slot = name.empty() ? 0
                                   : name.size() * 7 + static_cast<unsigned char>(name.front()) * 3 +
                                         static_cast<unsigned char>(name.back());
  ColumnCache::Entry& entry = cache.entries[slot % cache.entries.size()];
  if (!entry.known || entry.name.size() != name.size() ||
      std::memcmp(entry.name.data(), name.data(), name.size()) != 0) {
    entry.name = name;
    entry.column = get_tab_colnum(cache.table, name);
    entry.known = true;
  }
  return entry.column;
}

// Writes a rule's first or last action row into its bookkeeping column.
void put_number(int column, const char* name, int n) {
  char text[16];
  auto [end, ec] = std::to_chars(text, text + sizeof text, n);
  (void)ec;
  const std::string_view number(text, end - text);
  if (column >= 0) {
    put_tab_cell_bynum(xtarget, column, ntarget, number);
  } else {
    put_tab_cell(xtarget, name, ntarget, number);
  }
}

// A value written into the output must keep the load file's line structure:
// only a COMMENT runs on to further lines, and none of them may be one that
// the reader takes as the end of the row. Such a value is refused here,
// before any output is opened, wherever the rule stands.
void check_assigned_value(std::string_view name, std::string_view value, int line) {
  size_t newline = value.find('\n');
  if (newline == std::string_view::npos) return;
  if (name != comment) {
    vela_error(VELA_RULE_SYNTAX, "Value for column %.*s holds a line break on line %d",
               static_cast<int>(name.size()), name.data(), line);
  }
  while (newline != std::string_view::npos) {
    const size_t from = newline + 1;
    newline = value.find('\n', from);
    std::string_view text = value.substr(
        from, newline == std::string_view::npos ? std::string_view::npos : newline - from);
    std::string_view word = closing_load_word(text);
    if (!word.empty()) {
      vela_error(VELA_RULE_SYNTAX, "Value for column %s holds an %.*s line on line %d", comment,
                 static_cast<int>(word.size()), word.data(), line);
    }
  }
}

}  // namespace
}

%union {
  RuleWord word;
}

%token IMPLIES SEMI OR AND EQUALS
%token <word> WORD
%token OTHER

%start rule_list

%initial-action {
  first = 0;
  ntarget = 0;
  naction = 0;
  missing = false;
  rule_line = 0;
  xrule_line.clear();
  xdropped.clear();
  in_choice = false;
  words.size = 0;
  reset_columns(target_columns, xtarget);
  reset_columns(action_columns, xaction);
  first_col = get_tab_colnum(xtarget, col_first);
  last_col = get_tab_colnum(xtarget, col_last);
}

%%

rule_list
  : rule
  | rule_list rule
  ;

rule
  : condition IMPLIES choice_list SEMI {
      if (missing) {
        // Roll both Tables back to where they stood before the rule.
        missing = false;
        xdropped.push_back({rule_line, missing_column});
        trunc_table(xtarget, ntarget);
        trunc_table(xaction, first);
        naction = first;
      } else {
        put_number(first_col, col_first, first);
        put_number(last_col, col_last, naction - 1);
        xrule_line.push_back(rule_line);
        first = naction;
        ++ntarget;
      }
      rule_line = 0;
      in_choice = false;
    }
  ;

condition
  : test
  | condition AND test
  ;

test
  : WORD EQUALS WORD {
      if (rule_line == 0) rule_line = $1.line;
      const int column = column_of(target_columns, word($1));
      if (column < 0) {
        if (!missing) missing_column = word($1);
        missing = true;
      } else if (!missing) {
        put_tab_cell_bynum(xtarget, column, ntarget, word($3));
      }
      release_words($3);
    }
  ;

choice_list
  : choice { in_choice = false; }
  | choice_list OR choice { in_choice = false; }
  ;

choice
  : assignment
  | choice AND assignment
  ;

assignment
  : WORD EQUALS WORD {
      check_assigned_value(word($1), word($3), $3.line);
      const int column = column_of(action_columns, word($1));
      if (column < 0) {
        if (!missing) missing_column = word($1);
        missing = true;
      } else if (!missing && !in_choice) {
        // A choice is one action row, begun by its first assignment.
        put_tab_cell_bynum(xaction, column, naction, word($3));
        ++naction;
        in_choice = true;
      } else if (!missing && !word($3).empty() && !is_bookkeeping(word($1))) {
        // Later assignments of the choice set its row's cells, but never
        // empty one and never a bookkeeping column.
        put_tab_cell_bynum(xaction, column, naction - 1, word($3));
      }
      release_words($3);
    }
  ;

%%

void yyerror(const char*) {
  // The token text of the end of input is empty.
  vela_error(VELA_RULE_SYNTAX, "Last token read (%s) on line %d", yychar == YYEOF ? "" : yytext, xline);
}
