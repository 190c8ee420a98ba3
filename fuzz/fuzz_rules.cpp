// The rule scanner and parser on arbitrary bytes, against a fixed load Table.
// A parse either ends with a syntax error report (status 1) or gives rule
// Tables that keep the parser's invariants: one target row per rule whose
// choices are adjacent, non-empty ranges covering the action table exactly,
// and only upper-case values.

#include <cstdlib>
#include <string>
#include <string_view>

#include <loadfile/table.h>
#include "harness.h"
#include "rules.h"

namespace {

std::string_view str(const char* s) {
  return s ? std::string_view(s) : std::string_view();
}

TablePtr make_load_table() {
  TablePtr load(create_table());
  for (const char* name : {"KIND", "SIZE", "NAME", "DETECTOR", "FILTER", "COMMENT", "_USED"}) {
    add_tab_col(load.get(), name);
  }
  put_tab_cell(load.get(), "KIND", 0, "FULL");
  return load;
}

bool has_lower_case(std::string_view text) {
  for (char c : text) {
    if (c >= 'a' && c <= 'z') return true;
  }
  return false;
}

void check_rule_tables(Table* target, Table* action) {
  int first_col = get_tab_colnum(target, "_FIRST");
  int last_col = get_tab_colnum(target, "_LAST");
  FUZZ_CHECK(first_col >= 0 && last_col >= 0, "range columns");
  int next = 0;
  for (int t = 0; t < target->nrow; ++t) {
    std::string first_text(str(get_tab_cell_bynum(target, first_col, t)));
    std::string last_text(str(get_tab_cell_bynum(target, last_col, t)));
    int first = std::atoi(first_text.c_str());
    int last = std::atoi(last_text.c_str());
    FUZZ_CHECK(first_text == std::to_string(first), "_FIRST is plain decimal");
    FUZZ_CHECK(first == next, "ranges adjacent");
    FUZZ_CHECK(last >= first, "range not empty");
    next = last + 1;
  }
  FUZZ_CHECK(action->nrow == next, "ranges cover the action table");
  for (Table* table : {target, action}) {
    for (int r = 0; r < table->nrow; ++r) {
      for (int c = 0; c < table->ncol; ++c) {
        FUZZ_CHECK(!has_lower_case(str(get_tab_cell_bynum(table, c, r))), "values upper case");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TablePtr load = [] {
    quiet_reports();
    return make_load_table();
  }();

  RuleFile rules;
  try {
    rules = parse_rule_text({reinterpret_cast<const char*>(data), size}, load.get());
  } catch (const HarnessExit& exit) {
    // Only a syntax error may end a parse; the scanner's fatal failures
    // (status 2) must not happen on any rule file.
    FUZZ_CHECK(exit.status == 1, "parse ends only by a syntax error");
    return 0;
  }
  check_rule_tables(rules.target.get(), rules.action.get());
  return 0;
}
