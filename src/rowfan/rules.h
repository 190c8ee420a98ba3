// The rule language: finding, scanning and parsing a rule file into the
// target table (one row per rule) and the action table (one row per choice).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <loadfile/table.h>

// Where a rule file named without a directory part is looked for after the
// current directory. Fixed in the program.
extern const char* const default_rule_dir;

// A rule dropped for naming a column the load file lacks: the line of its
// first token and the first such name.
struct DroppedRule {
  int line;
  std::string column;
};

// What reading a rule file gives. Owns all of it; nothing of a parse is
// left anywhere else, so any number of rule files can be read, one after
// another or at once.
struct RuleFile {
  TablePtr target;  // one row per accepted rule: its tests, then `_FIRST` and `_LAST`
  TablePtr action;  // one row per choice
  // Line of the first token of each accepted rule, by target row; lets
  // messages about a rule name where it stands in the rule file.
  std::vector<int> rule_line;
  std::vector<DroppedRule> dropped;  // in rule-file order
  // Where the rule file was found: the name as given, or with the rule
  // directory before it.
  std::string path;
};

// How a parse reports a syntax error: its message line alone, or (check+)
// followed by a line that says what the grammar expected at that point, in
// the FILE:LINE: form editors jump to.
struct RuleReading {
  bool explain_errors = false;
};

// Lays out the target and action tables from the load Table's columns,
// finds the rule file (open_rules) and reads it into them. Ends the process
// when the file cannot be found or read, or holds a syntax error.
RuleFile parse_rules(const char* name, Table* load, RuleReading how = {});
// The same parse of rules given as text, as if read from a file found under
// `name`.
RuleFile parse_rule_text(std::string_view text, Table* load, std::string_view name = "",
                         RuleReading how = {});

// Opens the rule file `name` as the lookup rules say, looking in `rule_dir`
// for a bare name not found in the current directory. Returns the stream,
// owned by the caller, and sets `path` to where it was found; does not
// return when no file can be opened.
FILE* open_rules(const char* name, std::string& path, const char* rule_dir = default_rule_dir);
