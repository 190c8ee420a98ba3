// Findings of a checked run. The dropped rules come from the parser, which
// notes each with its line and the first name the load file lacks; the
// rules that matched nothing and the counts come from the expansion's
// record. Every finding passes through the one place where message lines go.

#include "check.h"

#include <algorithm>
#include <string>
#include <vector>

#include <velalib/velaerror.h>
#include "columns.h"

namespace {

void finding(std::string line) {
  line += '\n';
  vela_message(0, line.data());
}

std::string located(std::string_view file, int line) {
  return std::string(file) + ':' + std::to_string(line) + ": ";
}

std::string counted(long long n, std::string_view thing) {
  return std::to_string(n) + ' ' + std::string(thing) + (n == 1 ? "" : "s");
}

// Edits that turn `a` into `b`: inserting, removing or replacing a
// character, or swapping two neighbours, each counting one.
int edit_distance(std::string_view a, std::string_view b) {
  const size_t n = b.size();
  std::vector<int> before(n + 1), previous(n + 1), current(n + 1);
  for (size_t j = 0; j <= n; j++) previous[j] = static_cast<int>(j);
  for (size_t i = 1; i <= a.size(); i++) {
    current[0] = static_cast<int>(i);
    for (size_t j = 1; j <= n; j++) {
      int cost = a[i - 1] == b[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        current[j] = std::min(current[j], before[j - 2] + 1);
      }
    }
    before.swap(previous);
    previous.swap(current);
  }
  return previous[n];
}

}  // namespace

const char* nearest_column(Table* table, std::string_view name) {
  // Near: about one edit in four characters of the name, so FILTR finds
  // FILTER while a short name is not matched to any other short name.
  const int most = (static_cast<int>(name.size()) + 1) / 4;
  const char* nearest = nullptr;
  int best = most + 1;
  for (int c = 0; c < table->ncol; c++) {
    const char* column = get_tab_colname(table, c);
    int d = edit_distance(name, column);
    if (d > 0 && d < best) {
      best = d;
      nearest = column;
    }
  }
  return nearest;
}

void report_dropped_rules(const RuleFile& rules, Table* input) {
  for (const DroppedRule& dropped : rules.dropped) {
    std::string line = located(rules.path, dropped.line) +
                       "rule dropped: the load file has no column " + dropped.column;
    if (const char* near = nearest_column(input, dropped.column)) {
      line += std::string(" (did you mean ") + near + "?)";
    }
    finding(line);
  }
}

void report_run(const RuleFile& rules, std::string_view input_file, Table* input,
                const ExpansionRecord& record) {
  const int nrule = static_cast<int>(record.matches.size());
  int matched = 0;
  for (int i = 0; i < nrule; i++) {
    if (record.matches[i] > 0) {
      matched++;
      continue;
    }
    int line = i < static_cast<int>(rules.rule_line.size()) ? rules.rule_line[i] : i + 1;
    finding(located(rules.path, line) + "rule matched no row");
  }

  // The rows never carry a column whose name is kept for the tools' own
  // bookkeeping; say so for every such column that held a value.
  const int nrow = std::max(input->nrow, 0);
  for (int c = 0; c < input->ncol; c++) {
    const char* name = get_tab_colname(input, c);
    if (!is_bookkeeping(name)) continue;
    long long held = 0;
    for (int r = 0; r < nrow; r++) {
      const char* cell = get_tab_cell_bynum(input, c, r);
      if (cell != nullptr && *cell != '\0') held++;
    }
    if (held == 0) continue;
    finding(std::string(input_file) + ": column " + name +
            " is left empty in the output, as names beginning with _ are reserved (" +
            counted(held, "row") + " had a value)");
  }

  finding(rules.path + ": " + counted(nrow, "input row") + ", " +
          counted(record.rows, "output row") + ", " + std::to_string(matched) + " of " +
          counted(nrule, "rule") + " matched, " +
          counted(static_cast<long long>(rules.dropped.size()), "rule") + " dropped");
}
