// Row expansion: every input row becomes its output rows, depth first.
//
// The engine keeps the rows on the current path (each matched ancestor and the
// row being expanded) on a stack. A row's cells are views into the input
// Table and the action table, which do not change during a run, so pushing a
// child copies views, never text, and the stack's memory is bounded by the
// depth of rule nesting times the number of columns, whatever the output size.
//
// Everything that depends only on the rules is worked out once per run: each
// rule's tests as (column number, value) pairs, each choice as the cells it
// writes, and an index from a tested value to the rules that test it, so a row
// is tested only against the rules that could match it. Rule order still
// decides: the lowest-numbered matching rule wins.

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "columns.h"
#include "expand.h"
#include "rules.h"
#include "velaerror.h"

namespace {

constexpr int kNone = -1;

struct Test {
  int column;
  std::string_view value;
};

// A rule's tests lie in one flat array shared by all rules, and so do the
// cells of all choices: the engine's working set stays compact however many
// rules there are.
struct Rule {
  int tests_begin = 0;
  int tests_end = 0;
  int used_test = kNone;  // value a test on the engine's `_USED` column requires
  int first = 0;
  int last = -1;
  bool live = false;      // has at least one comparison that can ever hold
  bool key_only = false;  // its one test is the key it is filed under
};

struct Frame {
  int used = kNone;    // rule that produced this row; none for an input row
  int target = kNone;  // rule that has matched this row
  int next = 0;        // next choice of the matched rule
  int last = -1;       // its last choice
};

// Rules filed under the value of one tested column, as an open-addressing
// table: a lookup costs one probe sequence over a flat array, and each slot
// keeps the value's hash and its list of rules (in rule order) inline.
class KeyIndex {
 public:
  explicit KeyIndex(int column) : column_(column) {}
  int column() const { return column_; }

  void add(std::string_view value, int rule) { pending_.push_back({value, rule}); }

  // Lays out the table once every rule has been added.
  void build(const std::vector<Rule>& rules) {
    size_t size = 16;
    while (size * 2 < pending_.size() * 3) size *= 2;  // at most two thirds full
    slots_.assign(size, Slot());
    std::vector<int> count(size, 0);
    std::vector<size_t> slot_of(pending_.size());
    for (size_t i = 0; i < pending_.size(); i++) {
      slot_of[i] = place(pending_[i].value);
      count[slot_of[i]]++;
    }
    int at = 0;
    for (size_t k = 0; k < size; k++) {
      slots_[k].begin = slots_[k].end = at;
      at += count[k];
    }
    rules_.resize(pending_.size());
    for (size_t i = 0; i < pending_.size(); i++)
      rules_[slots_[slot_of[i]].end++] = pending_[i].rule;
    // The first rule of each slot, the one that decides in most lookups,
    // is kept in the slot itself: a lookup-table rule then costs no visit
    // to the rule list or the rule.
    for (Slot& slot : slots_) {
      if (slot.begin == slot.end) continue;
      const Rule& rule = rules[rules_[slot.begin]];
      slot.rule = rules_[slot.begin];
      slot.first = rule.first;
      slot.last = rule.last;
      slot.key_only = rule.key_only;
    }
    pending_.clear();
    pending_.shrink_to_fit();
  }

  struct Slot {
    size_t hash = 0;
    std::string_view key;  // null data: the slot is free
    int begin = 0;         // the rules filed here: rules_[begin] up to [end]
    int end = 0;
    int rule = kNone;  // the first of them, with its choices and whether
    int first = 0;     // its key is its only test
    int last = -1;
    bool key_only = false;
  };

  // The slot of `value`, or null when no rule is filed under it.
  const Slot* find(std::string_view value) const {
    size_t h = std::hash<std::string_view>()(value);
    for (size_t k = h & (slots_.size() - 1);; k = (k + 1) & (slots_.size() - 1)) {
      const Slot& slot = slots_[k];
      if (slot.key.data() == nullptr) return nullptr;
      if (slot.hash == h && slot.key == value) return &slot;
    }
  }

  // The rules of a slot, in rule order.
  std::pair<const int*, const int*> rules(const Slot& slot) const {
    return {rules_.data() + slot.begin, rules_.data() + slot.end};
  }

 private:
  struct Entry {
    std::string_view value;
    int rule;
  };

  size_t place(std::string_view value) {
    size_t h = std::hash<std::string_view>()(value);
    for (size_t k = h & (slots_.size() - 1);; k = (k + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[k];
      if (slot.key.data() == nullptr) {
        slot.hash = h;
        slot.key = value;
        return k;
      }
      if (slot.hash == h && slot.key == value) return k;
    }
  }

  int column_;
  std::vector<Slot> slots_;
  std::vector<int> rules_;
  std::vector<Entry> pending_;
};

std::string_view view(const char* s) {
  return s ? std::string_view(s) : std::string_view();
}

// The decimal text that itoa gives a rule number, read back: only such a
// text can equal a `_USED` cell.
int canonical_number(std::string_view text) {
  int n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size() || n < 0) return kNone;
  char buf[16];
  auto [e2, ec2] = std::to_chars(buf, buf + sizeof buf, n);
  (void)ec2;
  return std::string_view(buf, e2 - buf) == text ? n : kNone;
}

class Engine {
 public:
  Engine(Table* input, Table* target, Table* action) : input_(input) {
    ncol_ = input->ncol;
    for (int c = 0; c < ncol_; c++) {
      carried_.push_back(!is_bookkeeping(view(get_tab_colname(input, c))));
    }
    build_choices(action);
    build_rules(target);
    build_index();
  }

  int run(const RowSink& sink) {
    std::vector<std::string_view> out(ncol_ + 1);
    char number[24];
    long long emitted = 0;
    for (int r = 0; r < input_->nrow; r++) {
      push_input_row(r);
      while (depth_ > 0) {
        int t = depth_ - 1;
        if (find(t) != kNone) {
          if (!apply(t, r)) return -1;
          continue;
        }
        // The top row is final: emit it and pop it.
        emitted++;
        std::copy_n(cells(t), ncol_, out.begin());
        auto [end, ec] = std::to_chars(number, number + sizeof number, emitted);
        (void)ec;
        out[ncol_] = std::string_view(number, end - number);
        if (sink(out.data()) < 0) return -1;
        pop();
      }
    }
    return 0;
  }

 private:
  void build_rules(Table* target) {
    int first_col = get_tab_colnum(target, col_first);
    int last_col = get_tab_colnum(target, col_last);
    // What a test in each target column compares with, worked out once.
    constexpr int kSkip = -1, kUsed = -2, kNeverHolds = -3;
    std::vector<int> role(std::max(target->ncol, 0));
    for (int c = 0; c < target->ncol; c++) {
      std::string_view name = view(get_tab_colname(target, c));
      int column = get_tab_colnum(input_, name);
      if (name == col_used) {
        role[c] = kUsed;  // the work row's own `_USED` cell: the producing rule
      } else if (column >= 0 && carried_[column]) {
        role[c] = column;
      } else if (column >= 0) {
        role[c] = kNeverHolds;  // a bookkeeping cell, always empty when a row is tested
      } else {
        role[c] = kSkip;  // `_FIRST`, `_LAST`: not columns of the work table
      }
    }
    rules_.resize(std::max(target->nrow, 0));
    for (int i = 0; i < target->nrow; i++) {
      Rule& rule = rules_[i];
      rule.first = std::atoi(get_tab_cell_bynum(target, first_col, i));
      rule.last = std::atoi(get_tab_cell_bynum(target, last_col, i));
      // The parser keeps every range inside the action table; tables built
      // by other means are held to it too.
      rule.first = std::max(rule.first, 0);
      rule.last = std::min(rule.last, static_cast<int>(choice_begin_.size()) - 2);
      rule.tests_begin = static_cast<int>(tests_.size());
      bool compared = false, can_hold = true;
      for (int c = 0; c < target->ncol; c++) {
        if (role[c] == kSkip) continue;
        std::string_view value = view(get_tab_cell_bynum(target, c, i));
        if (value.empty()) continue;
        compared = true;
        if (role[c] == kUsed) {
          int n = canonical_number(value);
          if (n == kNone || (rule.used_test != kNone && rule.used_test != n)) can_hold = false;
          rule.used_test = n;
        } else if (role[c] == kNeverHolds) {
          can_hold = false;
        } else {
          tests_.push_back({role[c], value});
        }
      }
      rule.tests_end = static_cast<int>(tests_.size());
      rule.live = compared && can_hold;
      rule.key_only = rule.tests_end - rule.tests_begin == 1 && rule.used_test == kNone;
    }
  }

  void build_choices(Table* action) {
    std::vector<int> column_of(std::max(action->ncol, 0));
    for (int c = 0; c < action->ncol; c++) {
      int column = get_tab_colnum(input_, view(get_tab_colname(action, c)));
      column_of[c] = column >= 0 && carried_[column] ? column : kNone;
    }
    choice_begin_.assign(std::max(action->nrow, 0) + 1, 0);
    for (int j = 0; j < action->nrow; j++) {
      choice_begin_[j] = static_cast<int>(choice_cells_.size());
      for (int c = 0; c < action->ncol; c++) {
        if (column_of[c] == kNone) continue;
        std::string_view value = view(get_tab_cell_bynum(action, c, j));
        if (!value.empty()) choice_cells_.push_back({column_of[c], value});
      }
    }
    choice_begin_[std::max(action->nrow, 0)] = static_cast<int>(choice_cells_.size());
  }

  // Each live rule is filed under its first tested column and value; a rule
  // that tests only `_USED` is a candidate for every row.
  void build_index() {
    std::unordered_map<int, size_t> index_of_column;
    for (int i = 0; i < static_cast<int>(rules_.size()); i++) {
      const Rule& rule = rules_[i];
      if (!rule.live) continue;
      if (rule.tests_begin == rule.tests_end) {
        unkeyed_.push_back(i);
        continue;
      }
      const Test& key = tests_[rule.tests_begin];
      auto [it, added] = index_of_column.try_emplace(key.column, keys_.size());
      if (added) keys_.emplace_back(key.column);
      keys_[it->second].add(key.value, i);
    }
    for (KeyIndex& key : keys_) key.build(rules_);
  }

  std::string_view* cells(int depth) { return &cell_stack_[static_cast<size_t>(depth) * ncol_]; }

  void grow() {
    depth_++;
    if (static_cast<size_t>(depth_) > frames_.size()) {
      frames_.resize(depth_);
      cell_stack_.resize(static_cast<size_t>(depth_) * ncol_);
    }
    frames_[depth_ - 1] = Frame();
  }

  void pop() {
    depth_--;
    if (!deep_) return;
    if (depth_ <= kDeep / 2) {
      leave_deep();
    } else {
      while (static_cast<int>(hashes_.size()) > depth_) forget();
    }
  }

  void push_input_row(int r) {
    grow();
    std::string_view* row = cells(0);
    for (int c = 0; c < ncol_; c++) {
      row[c] = carried_[c] ? view(get_tab_cell_bynum(input_, c, r)) : std::string_view();
    }
  }

  bool matches(const Rule& rule, int t) {
    if (rule.used_test != kNone && rule.used_test != frames_[t].used) return false;
    const std::string_view* row = cells(t);
    for (int k = rule.tests_begin; k < rule.tests_end; k++) {
      if (row[tests_[k].column] != tests_[k].value) return false;
    }
    return true;
  }

  // The rule that governs row t, matching one if the row has none yet.
  int find(int t) {
    Frame& frame = frames_[t];
    if (frame.target != kNone) return frame.target;
    int best = kNone;
    // Each list is in rule order, so its first match is its best.
    auto consider = [&](const int* from, const int* to, bool keyed) {
      for (; from != to; ++from) {
        int i = *from;
        if (best != kNone && i >= best) return;
        if (i == frame.used) continue;
        const Rule& rule = rules_[i];
        if ((keyed && rule.key_only) || matches(rule, t)) {
          best = i;
          return;
        }
      }
    };
    const std::string_view* row = cells(t);
    const KeyIndex::Slot* decided = nullptr;  // the slot whose own rule is best
    for (const KeyIndex& key : keys_) {
      const KeyIndex::Slot* slot = key.find(row[key.column()]);
      if (slot == nullptr || (best != kNone && slot->rule >= best)) continue;
      if (slot->key_only && slot->rule != frame.used) {
        best = slot->rule;
        decided = slot;
        continue;
      }
      auto [from, to] = key.rules(*slot);
      int before = best;
      consider(from, to, true);
      if (best != before) decided = nullptr;
    }
    int before = best;
    consider(unkeyed_.data(), unkeyed_.data() + unkeyed_.size(), false);
    if (best != before) decided = nullptr;
    if (best != kNone) {
      frame.target = best;
      frame.next = decided ? decided->first : rules_[best].first;
      frame.last = decided ? decided->last : rules_[best].last;
    }
    return best;
  }

  // Produces the next child of row t, or pops t when its choices are used up.
  bool apply(int t, int input_row) {
    Frame& frame = frames_[t];
    if (frame.next > frame.last) {
      pop();
      return true;
    }
    int choice = frame.next++;
    int rule_number = frame.target;
    grow();
    std::string_view* child = cells(t + 1);
    std::copy_n(cells(t), ncol_, child);
    for (int k = choice_begin_[choice]; k < choice_begin_[choice + 1]; k++) {
      child[choice_cells_[k].column] = choice_cells_[k].value;
    }
    frames_[t + 1].used = rule_number;
    if (deep_ || depth_ > kDeep) check_repeat(input_row);
    return true;
  }

  // Loop detection. A row's expansion depends only on its carried cells and
  // the rule that produced it, so a row equal in both to one of its ancestors
  // would repeat forever; and a rule set that expands without end must reach
  // such a repeat, since its stack grows without bound over finitely many
  // values. Shallow stacks, the common case, are never checked; past kDeep
  // rows every push is looked up in a hash of the rows on the path.
  static constexpr int kDeep = 64;

  size_t row_hash(int depth) {
    size_t h = std::hash<int>()(frames_[depth].used);
    const std::string_view* row = cells(depth);
    for (int c = 0; c < ncol_; c++) {
      h = h * 1000003u ^ std::hash<std::string_view>()(row[c]);
    }
    return h;
  }

  bool same_row(int a, int b) {
    if (frames_[a].used != frames_[b].used) return false;
    return std::equal(cells(a), cells(a) + ncol_, cells(b));
  }

  void leave_deep() {
    deep_ = false;
    path_.clear();
    hashes_.clear();
  }

  void check_repeat(int input_row) {
    // While deep, `hashes_` holds one entry for every row below the top.
    if (!deep_) {
      deep_ = true;
      for (int d = 0; d < depth_ - 1; d++) remember(d);
    }
    int top = depth_ - 1;
    size_t h = row_hash(top);
    auto range = path_.equal_range(h);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second < top && same_row(it->second, top)) report_loop(input_row, it->second, top);
    }
    remember(top);
  }

  void remember(int depth) {
    size_t h = row_hash(depth);
    path_.emplace(h, depth);
    hashes_.push_back(h);
  }

  void forget() {
    int depth = static_cast<int>(hashes_.size()) - 1;
    auto range = path_.equal_range(hashes_.back());
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == depth) {
        path_.erase(it);
        break;
      }
    }
    hashes_.pop_back();
  }

  [[noreturn]] void report_loop(int input_row, int from, int to) {
    // Name the rules of the cycle by the lines they stand on in the rule file.
    std::vector<int> lines;
    for (int d = from + 1; d <= to; d++) {
      int rule = frames_[d].used;
      int line = rule < static_cast<int>(xrule_line.size()) ? xrule_line[rule] : rule + 1;
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

  Table* input_;
  int ncol_ = 0;
  std::vector<bool> carried_;
  std::vector<Rule> rules_;
  std::vector<Test> tests_;
  std::vector<int> choice_begin_;  // choice j's cells: choice_begin_[j] up to [j + 1]
  std::vector<Test> choice_cells_;
  std::vector<KeyIndex> keys_;
  std::vector<int> unkeyed_;

  int depth_ = 0;
  std::vector<Frame> frames_;
  std::vector<std::string_view> cell_stack_;

  bool deep_ = false;
  std::unordered_multimap<size_t, int> path_;
  std::vector<size_t> hashes_;
};

}  // namespace

int expand_rows(Table* input, Table* target, Table* action, const RowSink& sink) {
  if (input->nrow <= 0) return 0;
  Engine engine(input, target, action);
  return engine.run(sink);
}

void use_rules(Table* input, Table* output, Table* target, Table* action) {
  // An input without rows gives an output without rows, not the one empty
  // row that laying out the output leaves.
  if (input->nrow <= 0) {
    trunc_table(output, 0);
    return;
  }
  std::vector<std::string> names;
  for (int c = 0; c <= input->ncol; c++) {
    const char* name = get_tab_colname(output, c);
    names.emplace_back(name ? name : col_expansion_number);
  }
  int k = 0;
  expand_rows(input, target, action, [&](const std::string_view* cells) {
    for (int c = 0; c <= input->ncol; c++) {
      if (!cells[c].empty()) put_tab_cell(output, names[c], k, cells[c]);
    }
    k++;
    return 0;
  });
}
