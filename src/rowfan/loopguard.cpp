// Loop detection on the row stack: a row that repeats an ancestor, in its
// carried cells and in the rule that produced it, is reported.

#include "loopguard.h"

#include <algorithm>
#include <functional>
#include <string>

#include <velalib/velaerror.h>
#include "rules.h"

namespace {

size_t row_hash(const RowStack& stack, int depth) {
  size_t h = std::hash<int>()(stack.frames[depth].used);
  const std::string_view* row = row_cells(stack, depth);
  for (int c = 0; c < stack.ncol; c++) {
    h = h * 1000003u ^ std::hash<std::string_view>()(row[c]);
  }
  return h;
}

bool same_row(const RowStack& stack, int a, int b) {
  if (stack.frames[a].used != stack.frames[b].used) return false;
  const std::string_view* row = row_cells(stack, a);
  return std::equal(row, row + stack.ncol, row_cells(stack, b));
}

void remember(LoopGuard& guard, const RowStack& stack, int depth) {
  size_t h = row_hash(stack, depth);
  guard.path.emplace(h, depth);
  guard.hashes.push_back(h);
}

void forget(LoopGuard& guard) {
  int depth = static_cast<int>(guard.hashes.size()) - 1;
  auto range = guard.path.equal_range(guard.hashes.back());
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == depth) {
      guard.path.erase(it);
      break;
    }
  }
  guard.hashes.pop_back();
}

[[noreturn]] void report_loop(const RowStack& stack, const RuleFile& rules, int input_row, int from,
                              int to) {
  // Name the rules of the cycle by the lines they stand on in the rule file.
  std::vector<int> lines;
  for (int d = from + 1; d <= to; d++) {
    int rule = stack.frames[d].used;
    int line = rule < static_cast<int>(rules.rule_line.size()) ? rules.rule_line[rule] : rule + 1;
    if (std::find(lines.begin(), lines.end(), line) == lines.end()) lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  // A message is one line of at most 511 characters: a long cycle is named
  // by its first lines.
  constexpr size_t kNamed = 20;
  std::string list;
  for (size_t i = 0; i < lines.size() && i < kNamed; i++) {
    list += (i ? ", " : "") + std::to_string(lines[i]);
  }
  if (lines.size() > kNamed) list += " and " + std::to_string(lines.size() - kNamed) + " more";
  vela_error(VELA_RULE_SYNTAX, "Rules on lines %s expand row %d without end", list.c_str(),
             input_row + 1);
}

}  // namespace

void check_deep_push(LoopGuard& guard, const RowStack& stack, const RuleFile& rules,
                     int input_row) {
  // While deep, `hashes` holds one entry for every row below the top.
  if (!guard.deep) {
    guard.deep = true;
    for (int d = 0; d < stack.depth - 1; d++) remember(guard, stack, d);
  }
  int top = stack.depth - 1;
  size_t h = row_hash(stack, top);
  auto range = guard.path.equal_range(h);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second < top && same_row(stack, it->second, top)) {
      report_loop(stack, rules, input_row, it->second, top);
    }
  }
  remember(guard, stack, top);
}

void check_deep_pop(LoopGuard& guard, int depth) {
  if (depth <= kDeepStack / 2) {
    guard.deep = false;
    guard.path.clear();
    guard.hashes.clear();
    return;
  }
  while (static_cast<int>(guard.hashes.size()) > depth) forget(guard);
}
