// parse_rules: lays out the two rule Tables from the load Table's columns,
// then reads the rule file into them.
#include <cstdio>

#include "rules.h"
#include "tablecopy.h"

// The scanner's own clean-up, generated with it.
int yylex_destroy();

void parse_rules(const char* name, Table* load, Table* target, Table* action) {
  copy_layout(load, target, "_FIRST,_LAST");
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
