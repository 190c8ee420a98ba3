// parse_rules: lays out the two rule Tables from the load Table's columns,
// then reads the rule file into them.
#include <cstdio>
#include <memory>
#include <string>

#include "columns.h"
#include "ruleparse.h"
#include "tablecopy.h"
#include "yyparse.hpp"

namespace {

struct FileClose {
  void operator()(FILE* stream) const { std::fclose(stream); }
};

// The target table gets the load columns and the two range columns, the
// action table the load columns only.
void lay_out(RuleFile& rules, Table* load) {
  rules.target.reset(create_table());
  rules.action.reset(create_table());
  const std::string rule_columns = std::string(col_first) + "," + col_last;
  copy_layout(load, rules.target.get(), rule_columns.c_str());
  copy_layout(load, rules.action.get(), "");
}

// Reads the rules from `source`, a stream or text, into `rules`. A syntax
// error ends the process inside; on return the whole input was accepted.
template <typename Source>
void read_rules(RuleFile& rules, Source source, RuleReading how) {
  RuleParse parse{
      .rules = rules, .how = how, .xtarget = rules.target.get(), .xaction = rules.action.get()};
  start_rule_scanner(parse, source);
  yyparse(parse);
}

}  // namespace

RuleFile parse_rules(const char* name, Table* load, RuleReading how) {
  RuleFile rules;
  lay_out(rules, load);
  std::unique_ptr<FILE, FileClose> stream(open_rules(name, rules.path));
  read_rules(rules, stream.get(), how);
  return rules;
}

RuleFile parse_rule_text(std::string_view text, Table* load, std::string_view name,
                         RuleReading how) {
  RuleFile rules;
  lay_out(rules, load);
  rules.path = name;
  read_rules(rules, text, how);
  return rules;
}
