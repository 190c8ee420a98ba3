/* The rule grammar. Each rule becomes one row of the target table (its
 * tests) and one action-table row per choice (its assignments); a rule that
 * names a column the load file lacks is dropped whole at its `;`. */

%code requires {
// A value of the rule being read: its place in the parser's text of values.
struct RuleWord {
  int at;
  int length;
};
}

%code {
#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <string_view>

#include "columns.h"
#include "loadfile.h"
#include "loadline.h"
#include "rules.h"
#include "tablecopy.h"
#include "valueindex.h"
#include "velaerror.h"

int xline = 1;
Table* xtarget = nullptr;
Table* xaction = nullptr;
std::vector<int> xrule_line;
std::vector<DroppedRule> xdropped;

extern int yyleng;

namespace {

// Parser state of the rule being read; reset at the start of every parse.
int first = 0;         // first action row of the rule being parsed
int ntarget = 0;       // its target row; the number of rules accepted so far
int naction = 0;       // where the next assignment appends its action row
bool missing = false;  // the rule names a column the Tables lack
int rule_line = 0;     // line of the rule's first token; 0 before it is read
std::string missing_column;  // the first name that set `missing`
int value_line = 0;  // line on which the value reduced last begins
int first_col = -1;  // the target table's `_FIRST` and `_LAST` columns
int last_col = -1;

// The text of each value of the rule being read, one after another; a value
// is its place in here, since appending may move the text. Emptied once a
// test or an assignment has used its two values: no other value is pending
// then, as the scanner has not yet read past the second.
std::string words;

std::string_view word(RuleWord w) {
  return std::string_view(words).substr(w.at, w.length);
}

// A WORD token's value: its text up to any NUL byte, without a surrounding
// pair of quotes (what follows the closing quote is dropped, an unclosed
// quote keeps the rest), letters a-z upper-cased.
RuleWord add_word(std::string_view token) {
  token = token.substr(0, token.find('\0'));
  if (!token.empty() && (token[0] == '"' || token[0] == '\'')) {
    const char quote = token[0];
    token.remove_prefix(1);
    token = token.substr(0, token.find(quote));
  }
  const size_t at = words.size();
  words.resize(at + token.size());
  char* out = words.data() + at;
  for (char c : token) *out++ = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  return RuleWord{static_cast<int>(at), static_cast<int>(token.size())};
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
  ColumnCache::Entry& entry = cache.entries[value_hash(name) % cache.entries.size()];
  if (!entry.known || entry.name != name) {
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
    std::string_view text = value.substr(from, newline == std::string_view::npos ? std::string_view::npos : newline - from);
    int kind = closing_load_token(text);
    if (kind != TOK_DATA) {
      const char* word = kind == TOK_ENDROW      ? "ENDROW"
                         : kind == TOK_ENDHEADER ? "ENDHEADER"
                                                 : "ENDFILE";
      vela_error(VELA_RULE_SYNTAX, "Value for column %s holds an %s line on line %d", comment, word,
                 line);
    }
  }
}

}  // namespace
}

%union {
  RuleWord word;
}

%token IMPLIES SEMI OR AND EQUALS WORD OTHER
%type <word> value

%start rule_list

%initial-action {
  first = 0;
  ntarget = 0;
  naction = 0;
  missing = false;
  rule_line = 0;
  xrule_line.clear();
  xdropped.clear();
  words.clear();
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
    }
  ;

condition
  : test
  | condition AND test
  ;

test
  : value EQUALS value {
      const int column = column_of(target_columns, word($1));
      if (column < 0) {
        if (!missing) missing_column = word($1);
        missing = true;
      } else if (!missing) {
        put_tab_cell_bynum(xtarget, column, ntarget, word($3));
      }
      words.clear();
    }
  ;

choice_list
  : choice
  | choice_list OR choice
  ;

choice
  : assignment
  | choice AND assignment {
      // Fold the newest assignment's row into the choice's row, so that a
      // finished choice is always exactly one action row.
      if (!missing) {
        --naction;
        move_tabrow(xaction, naction, xaction, naction - 1);
        trunc_table(xaction, naction);
      }
    }
  ;

assignment
  : value EQUALS value {
      // No value is reduced between this assignment's own and its action,
      // so value_line is still the line of $3.
      check_assigned_value(word($1), word($3), value_line);
      const int column = column_of(action_columns, word($1));
      if (column < 0) {
        if (!missing) missing_column = word($1);
        missing = true;
      } else if (!missing) {
        put_tab_cell_bynum(xaction, column, naction, word($3));
        ++naction;
      }
      words.clear();
    }
  ;

value
  : WORD {
      // Taken while yytext is still this WORD's: the state after a WORD
      // reduces without reading the next token.
      value_line = xline - static_cast<int>(std::count(yytext, yytext + yyleng, '\n'));
      if (rule_line == 0) rule_line = value_line;
      $$ = add_word(std::string_view(yytext, yyleng));
    }
  ;

%%

void yyerror(const char*) {
  // The token text of the end of input is empty.
  vela_error(VELA_RULE_SYNTAX, "Last token read (%s) on line %d", yychar == YYEOF ? "" : yytext, xline);
}
