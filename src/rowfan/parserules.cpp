// parse_rules: lays out the two rule Tables from the load Table's columns,
// then reads the rule file into them.
#include <cstdio>
#include <string>

#include "columns.h"
#include "rules.h"
#include "tablecopy.h"

// The scanner's own clean-up, generated with it.
int yylex_destroy();

void parse_rules(const char* name, Table* load, Table* target, Table* action) {
  const std::string rule_columns = std::string(col_first) + "," + col_last;
  copy_layout(load, target, rule_columns.c_str());
  copy_layout(load, action, "");

  FILE* stream = open_rules(name);
  rule_scan_start(stream);
  xline = 1;
  xtarget = target;
  xaction = action;

  // A syntax error ends the process inside; on return the file was accepted.
  yyparse();

  yylex_destroy();
  std::fclose(stream);
}
