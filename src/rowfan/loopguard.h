// Loop detection. A row's expansion depends only on its carried cells and
// the rule that produced it, so a row equal in both to one of its ancestors
// would repeat forever; and a rule set that expands without end must reach
// such a repeat, since its stack grows without bound over finitely many
// values. Shallow stacks, the common case, are never checked; past
// kDeepStack rows every push is looked up in a hash of the rows on the path.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "expansion.h"
#include "rules.h"

constexpr int kDeepStack = 64;

// Owns the hashes of the rows on the path while the stack is deep (empty
// otherwise); holds depths, no views.
struct LoopGuard {
  bool deep = false;
  std::unordered_multimap<size_t, int> path;  // row hash to depth
  std::vector<size_t> hashes;                 // by depth, for every row below the top
};

// Reports a row that repeats an ancestor, naming the rules of the cycle by
// their lines in `rules`, and ends the run; called after the new top row of
// `stack` was pushed for input row `input_row`.
void check_deep_push(LoopGuard& guard, const RowStack& stack, const RuleFile& rules, int input_row);
// Forgets the rows no longer on the path; called after a pop.
void check_deep_pop(LoopGuard& guard, int depth);

inline void check_push(LoopGuard& guard, const RowStack& stack, const RuleFile& rules,
                       int input_row) {
  if (guard.deep || stack.depth > kDeepStack) check_deep_push(guard, stack, rules, input_row);
}
inline void check_pop(LoopGuard& guard, int depth) {
  if (guard.deep) check_deep_pop(guard, depth);
}
