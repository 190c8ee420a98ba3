// The expansion itself: the rows on the current path kept on a stack, each
// top row matched against the rule set and expanded depth first.
//
// A row's cells are views into the input Table and the action table, which
// do not change during a run, so pushing a child copies views, never text,
// and the stack's memory is bounded by the depth of rule nesting times the
// number of columns, whatever the output size.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "expand.h"
#include "ruleset.h"

// What the engine knows of one row on the stack besides its cells: rule and
// choice numbers only, no views.
struct Frame {
  int used = kNoRule;    // rule that produced this row; none for an input row
  int target = kNoRule;  // rule that has matched this row
  int next = 0;          // next choice of the matched rule
  int last = -1;         // its last choice
};

// Owns its frames and cell views. The views point into the input and action
// tables and stay valid while those are unchanged; a row_cells() pointer
// stays valid only until the next push. Each row has one slot more than
// its ncol cells, where its EXPANSION_NUMBER is put when it is emitted, so
// that the row is handed on where it stands.
struct RowStack {
  int ncol = 0;
  int depth = 0;  // rows on the stack; the top row is depth - 1
  std::vector<Frame> frames;
  // Row d: cells[d * (ncol + 1)] up to [d * (ncol + 1) + ncol], the slot
  // for the number last.
  std::vector<std::string_view> cells;
};

inline std::string_view* row_cells(RowStack& stack, int depth) {
  return &stack.cells[static_cast<size_t>(depth) * (stack.ncol + 1)];
}
inline const std::string_view* row_cells(const RowStack& stack, int depth) {
  return &stack.cells[static_cast<size_t>(depth) * (stack.ncol + 1)];
}

// Expands every row of `input` by `rules`, compiled from `file`, handing
// each final row to `sink`; returns -1 as soon as the sink does, else 0. A
// `record`, when given, is kept up to date for the sink (its matches sized
// by the caller).
int run_expansion(const RuleSet& rules, const RuleFile& file, Table* input, const RowSink& sink,
                  ExpansionRecord* record = nullptr);
