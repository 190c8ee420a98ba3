// Findings of a checked run. The dropped rules come from the parser, which
// notes each with its line and the first name the load file lacks; the
// rules that matched nothing and the counts come from the expansion's
// record. Every finding passes through the one place where message lines go.

#include "check.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <velalib/option.h>
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

// The index of the name nearest `name` among `count` names that `name_at`
// gives, when it is near for a name of that length; -1 otherwise.
template <typename NameAt>
int nearest_name(std::string_view name, int count, NameAt name_at) {
  // Near: about one edit in four characters of the name, so FILTR finds
  // FILTER while a short name is not matched to any other short name.
  const int most = (static_cast<int>(name.size()) + 1) / 4;
  int nearest = -1;
  int best = most + 1;
  for (int i = 0; i < count; i++) {
    int d = edit_distance(name, name_at(i));
    if (d > 0 && d < best) {
      best = d;
      nearest = i;
    }
  }
  return nearest;
}

// What the findings that explain an error say; written after its report.
std::vector<std::string> explanation;

void write_explanation() {
  for (std::string& line : explanation) finding(std::move(line));
}

// Why the load file reader refused a file, as a finding says it.
const char* load_reason_text(LoadReason reason) {
  switch (reason) {
    case LOAD_NO_EQUALS:
      return "line is neither NAME = value nor ENDHEADER, ENDROW or ENDFILE";
    case LOAD_EMPTY_FILE:
      return "file is empty";
    case LOAD_NO_ENDHEADER:
      return "file ends before ENDHEADER";
    case LOAD_NO_ENDFILE:
      return "file ends before ENDFILE";
    case LOAD_CLOSED_IN_HEADER:
      return "ENDROW or ENDFILE before ENDHEADER";
    case LOAD_ENDHEADER_IN_ROWS:
      return "ENDHEADER among the rows";
    case LOAD_AFTER_ENDFILE:
      return "only blank lines may follow ENDFILE";
    case LOAD_LONG_LINE:
      return "line longer than 78 bytes";
    case LOAD_NO_NEWLINE:
      return "last line has no newline";
    case LOAD_NUL_BYTE:
      return "line holds a NUL byte";
    case LOAD_READ_FAILED:
      return "file could not be read to its end";
    case LOAD_NEW_COLUMN:
      return "column not in the first row, where every column must appear";
    case LOAD_ROW_AFTER_EMPTY:
      return "data line after an empty row";
    case LOAD_NO_REASON:
      break;
  }
  return "line could not be stored";
}

std::string repeat_text(std::string_view load_file, const LoadRepeat& repeat) {
  return located(load_file, repeat.line) + "column " + repeat.column + " given again in row " +
         std::to_string(repeat.row + 1) + ": its value from line " +
         std::to_string(repeat.earlier) + " is lost (an ENDROW missing?)";
}

}  // namespace

const char* nearest_column(Table* table, std::string_view name) {
  int c = nearest_name(name, table->ncol, [&](int i) { return get_tab_colname(table, i); });
  return c < 0 ? nullptr : get_tab_colname(table, c);
}

void explain_next_error(std::vector<std::string> lines) {
  static const bool registered = std::atexit(write_explanation) == 0;
  (void)registered;
  explanation = std::move(lines);
}

void report_unread_options(std::string_view tool) {
  const std::vector<std::string> known = read_options();
  for (const std::string& item : unread_options()) {
    std::string_view name = item;
    if (size_t equals = name.find('='); equals != std::string_view::npos) {
      name = name.substr(0, equals);
    } else {
      name.remove_suffix(1);  // the + or - of name+ or name-
    }
    std::string line = "option " + item + " is not used by " + std::string(tool);
    int near = nearest_name(name, static_cast<int>(known.size()),
                            [&](int i) { return std::string_view(known[i]); });
    if (near >= 0) line += " (did you mean " + known[near] + "?)";
    finding(line);
  }
}

void explain_load_error(std::string_view load_file, const std::vector<LoadRepeat>& repeats) {
  std::vector<std::string> lines;
  lines.push_back(located(load_file, load_syntax_error.line) +
                  load_reason_text(load_syntax_error.reason));
  for (const LoadRepeat& repeat : repeats) lines.push_back(repeat_text(load_file, repeat));
  explain_next_error(std::move(lines));
}

void report_load_repeats(std::string_view load_file, const std::vector<LoadRepeat>& repeats) {
  for (const LoadRepeat& repeat : repeats) finding(repeat_text(load_file, repeat));
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

  finding(std::string(input_file) + ", " + rules.path + ": " + counted(nrow, "input row") + ", " +
          counted(record.rows, "output row") + ", " + std::to_string(matched) + " of " +
          counted(nrule, "rule") + " matched, " +
          counted(static_cast<long long>(rules.dropped.size()), "rule") + " dropped");
}
