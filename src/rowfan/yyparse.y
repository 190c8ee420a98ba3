/* The rule grammar. Each rule becomes one row of the target table (its
 * tests) and one action-table row per choice (its assignments); a rule that
 * names a column the load file lacks is dropped whole at its `;`. */

%{
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "columns.h"
#include "loadfile.h"
#include "loadline.h"
#include "rules.h"
#include "tablecopy.h"
#include "velaerror.h"
#include "velastring.h"

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

// A value written into the output must keep the load file's line structure:
// only a COMMENT runs on to further lines, and none of them may be one that
// the reader takes as the end of the row. Such a value is refused here,
// before any output is opened, wherever the rule stands.
void check_assigned_value(const char* name, const char* value, int line) {
  const char* newline = std::strchr(value, '\n');
  if (newline == nullptr) return;
  if (std::strcmp(name, comment) != 0) {
    vela_error(VELA_RULE_SYNTAX, "Value for column %s holds a line break on line %d", name, line);
  }
  while (newline != nullptr) {
    const char* from = newline + 1;
    newline = std::strchr(from, '\n');
    std::string_view text(from, newline != nullptr ? newline - from : std::strlen(from));
    int kind = closing_load_token(text);
    if (kind != TOK_DATA) {
      const char* word = kind == TOK_ENDROW      ? "ENDROW"
                         : kind == TOK_ENDHEADER ? "ENDHEADER"
                                                 : "ENDFILE";
      vela_error(VELA_RULE_SYNTAX, "Value for column %s holds an %s line on line %d", name, word,
                 line);
    }
  }
}

}  // namespace
%}

%union {
  char* text;
}

%token IMPLIES SEMI OR AND EQUALS WORD OTHER
%type <text> value
%destructor { std::free($$); } <text>

%start rule_list

%initial-action {
  first = 0;
  ntarget = 0;
  naction = 0;
  missing = false;
  rule_line = 0;
  xrule_line.clear();
  xdropped.clear();
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
        put_tab_cell(xtarget, col_first, ntarget, itoa(first));
        put_tab_cell(xtarget, col_last, ntarget, itoa(naction - 1));
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
      if (get_tab_colnum(xtarget, $1) < 0) {
        if (!missing) missing_column = $1;
        missing = true;
      } else if (!missing) {
        put_tab_cell(xtarget, $1, ntarget, $3);
      }
      std::free($1);
      std::free($3);
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
      check_assigned_value($1, $3, value_line);
      if (get_tab_colnum(xaction, $1) < 0) {
        if (!missing) missing_column = $1;
        missing = true;
      } else if (!missing) {
        put_tab_cell(xaction, $1, naction, $3);
        ++naction;
      }
      std::free($1);
      std::free($3);
    }
  ;

value
  : WORD {
      // Taken while yytext is still this WORD's: the state after a WORD
      // reduces without reading the next token.
      value_line = xline - static_cast<int>(std::count(yytext, yytext + yyleng, '\n'));
      if (rule_line == 0) rule_line = value_line;
      $$ = strclone(yytext);
      unquote($$);
      strucase($$);
    }
  ;

%%

void yyerror(const char*) {
  // The token text of the end of input is empty.
  vela_error(VELA_RULE_SYNTAX, "Last token read (%s) on line %d", yychar == YYEOF ? "" : yytext, xline);
}
