// The rule language: finding, scanning and parsing a rule file into the
// target table (one row per rule) and the action table (one row per choice).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <loadfile/table.h>

// Where a rule file named without a directory part is looked for after the
// current directory. Fixed in the program; tests may point it elsewhere.
extern const char* default_rule_dir;
// The path open_rules found the rule file under: the name as given, or with
// the rule directory before it.
extern std::string rule_file_path;

// Parser state, one parse per process.
extern int xline;
extern Table* xtarget;
extern Table* xaction;
// Line of the first token of each accepted rule, by target row; lets
// messages about a rule name where it stands in the rule file.
extern std::vector<int> xrule_line;
// Each rule dropped for naming a column the load file lacks: the line of its
// first token and the first such name, in rule-file order.
struct DroppedRule {
  int line;
  std::string column;
};
extern std::vector<DroppedRule> xdropped;

// The value of a WORD token: its place in the parser's text of values (see
// scan_word) and the line on which the token begins.
struct RuleWord {
  int at;
  int length;
  int line;
};
// Files a WORD token's value for the parser and returns its place: the
// token's text, letters a-z upper-cased; a token that begins with a quote
// loses it and everything from the matching quote or the first NUL byte on
// (an unclosed quote keeps the rest). Any other token is a run of word
// characters, which holds no NUL. Called by the scanner before it counts
// the token's own lines.
RuleWord scan_word(std::string_view token);

// Scanner. Token codes 258 to 264 (IMPLIES, SEMI, OR, AND, EQUALS, WORD,
// OTHER) come from the header that bison generates from the grammar.
extern char* yytext;
int yylex();
int yywrap();
int yyparse();
void yyerror(const char* message);
// Points the scanner at a stream (and discards any earlier buffer).
void rule_scan_start(FILE* stream);

FILE* open_rules(const char* name);
void parse_rules(const char* name, Table* load, Table* target, Table* action);
