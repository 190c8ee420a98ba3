// The expansion loop on the row stack: match the top row, push its next
// child or pop it, and emit every row that no rule governs. Rule order
// decides among matches: the lowest-numbered matching rule wins, never the
// rule that produced the row.

#include "expansion.h"

#include <algorithm>
#include <cstring>

#include "loopguard.h"

namespace {

// One run: owns the stack and the loop guard, borrows the rule set and the
// input for the length of the run.
struct Expansion {
  const RuleSet& rules;
  const RuleFile& file;  // what the rules were compiled from
  Table* input;
  RowStack stack;
  LoopGuard guard;
  ExpansionRecord* record;   // null unless someone asked
  std::vector<int> carried;  // the carried columns: the only cells a row ever has
};

// The number of the row being emitted, counted up in decimal where it is
// written: digits[begin] up to the end of the array.
struct RowNumber {
  char digits[24];
  int begin = sizeof digits - 1;
  RowNumber() { std::memset(digits, '0', sizeof digits); }
};

std::string_view count_row(RowNumber& number) {
  int k = sizeof number.digits - 1;
  while (number.digits[k] == '9') number.digits[k--] = '0';
  number.digits[k]++;
  number.begin = std::min(number.begin, k);
  return std::string_view(number.digits + number.begin, sizeof number.digits - number.begin);
}

[[gnu::noinline]] void add_frame(RowStack& stack) {
  stack.frames.resize(stack.depth);
  stack.cells.resize(static_cast<size_t>(stack.depth) * (stack.ncol + 1));
}

void grow(RowStack& stack) {
  stack.depth++;
  if (static_cast<size_t>(stack.depth) > stack.frames.size()) add_frame(stack);
  stack.frames[stack.depth - 1] = Frame();
}

void pop(Expansion& e) {
  e.stack.depth--;
  check_pop(e.guard, e.stack.depth);
}

void push_input_row(Expansion& e, int r) {
  grow(e.stack);
  // The bottom row's other cells are empty from the start: only input rows
  // are written there.
  std::string_view* row = row_cells(e.stack, 0);
  const Table* input = e.input;
  long long first = tab_cell_entry(input, r, 0);
  if (first + input->ncol > input->cells.count) {
    for (int c : e.carried) row[c] = text_view(get_tab_cell_bynum(e.input, c, r));
    return;
  }
  // A row the cell list holds whole: its texts read in place.
  const char* chars = input->cells.chars.data;
  const int* offsets = input->cells.offsets.data + first;
  for (int c : e.carried) row[c] = std::string_view(chars + offsets[c]);
}

bool matches(const Expansion& e, const Rule& rule, int t) {
  if (rule.used_test != kNoRule && rule.used_test != e.stack.frames[t].used) return false;
  const std::string_view* row = row_cells(e.stack, t);
  for (int k = rule.tests_begin; k < rule.tests_end; k++) {
    if (row[e.rules.tests[k].column] != e.rules.tests[k].value) return false;
  }
  return true;
}

// The rule that governs row t, matching one if the row has none yet.
int find_match(Expansion& e, int t) {
  Frame& frame = e.stack.frames[t];
  if (frame.target != kNoRule) return frame.target;
  const RuleSet& set = e.rules;
  int best = kNoRule;
  // Each list is in rule order, so its first match is its best.
  auto consider = [&](const int* from, const int* to, bool keyed) {
    for (; from != to; ++from) {
      int i = *from;
      if (best != kNoRule && i >= best) return;
      if (i == frame.used) continue;
      const Rule& rule = set.rules[i];
      if ((keyed && rule.key_only) || matches(e, rule, t)) {
        best = i;
        return;
      }
    }
  };
  const std::string_view* row = row_cells(e.stack, t);
  const ValueSlot* decided = nullptr;  // the slot whose own rule is best
  for (const ValueIndex& index : set.keys) {
    const ValueSlot* slot = find_value(index, row[index.column]);
    if (slot == nullptr || (best != kNoRule && slot->rule >= best)) continue;
    if (slot->key_only && slot->rule != frame.used) {
      best = slot->rule;
      decided = slot;
      continue;
    }
    int before = best;
    consider(index.rules.data() + slot->begin, index.rules.data() + slot->end, true);
    if (best != before) decided = nullptr;
  }
  int before = best;
  consider(set.unkeyed.data(), set.unkeyed.data() + set.unkeyed.size(), false);
  if (best != before) decided = nullptr;
  if (best != kNoRule) {
    if (e.record) e.record->matches[best]++;
    frame.target = best;
    frame.next = decided ? decided->first : set.rules[best].first;
    frame.last = decided ? decided->last : set.rules[best].last;
  }
  return best;
}

// Pushes the next child of the matched row t, or pops t when its choices
// are used up.
void apply_match(Expansion& e, int t, int input_row) {
  RowStack& stack = e.stack;
  Frame& frame = stack.frames[t];
  if (frame.next > frame.last) {
    pop(e);
    return;
  }
  int choice = frame.next++;
  int rule_number = frame.target;
  grow(stack);  // may move the frames: `frame` is not used after this
  std::string_view* child = row_cells(stack, t + 1);
  std::copy_n(row_cells(stack, t), stack.ncol, child);
  const RuleSet& set = e.rules;
  for (int k = set.choice_begin[choice]; k < set.choice_begin[choice + 1]; k++) {
    child[set.choice_cells[k].column] = set.choice_cells[k].value;
  }
  stack.frames[t + 1].used = rule_number;
  check_push(e.guard, stack, e.file, input_row);
}

// Where the top row, about to be emitted, comes from: the rules that
// produced each row on the path above the input row.
void record_row(ExpansionRecord& record, const RowStack& stack, int input_row) {
  record.rows++;
  record.input_row = input_row;
  // Rows in a row mostly come from the same rules: the chain is rewritten,
  // and counted as changed, only when it differs.
  std::vector<int>& chain = record.chain;
  size_t n = stack.depth > 1 ? static_cast<size_t>(stack.depth - 1) : 0;
  bool same = chain.size() == n;
  for (size_t i = 0; same && i < n; i++) same = chain[i] == stack.frames[i + 1].used;
  if (same) return;
  chain.resize(n);
  for (size_t i = 0; i < n; i++) chain[i] = stack.frames[i + 1].used;
  record.chain_changes++;
}

}  // namespace

int run_expansion(const RuleSet& rules, const RuleFile& file, Table* input, const RowSink& sink,
                  ExpansionRecord* record) {
  Expansion e{rules, file, input, RowStack(), LoopGuard(), record, {}};
  e.stack.ncol = rules.ncol;
  for (int c = 0; c < rules.ncol; c++) {
    if (rules.carried[c]) e.carried.push_back(c);
  }
  int ncol = rules.ncol;
  RowNumber number;
  for (int r = 0; r < input->nrow; r++) {
    push_input_row(e, r);
    while (e.stack.depth > 0) {
      int t = e.stack.depth - 1;
      if (find_match(e, t) != kNoRule) {
        apply_match(e, t, r);
        continue;
      }
      // The top row is final: emit it and pop it.
      std::string_view* row = row_cells(e.stack, t);
      row[ncol] = count_row(number);
      if (e.record) record_row(*e.record, e.stack, r);
      if (sink(row) < 0) return -1;
      pop(e);
    }
  }
  return 0;
}
