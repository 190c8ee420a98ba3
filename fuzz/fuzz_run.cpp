// The whole run on one input: a load file, a line "%%RULES%%", a rule file.
// The steps are the task's (read, lay out, parse, expand, write), with the
// output held to a bounded number of rows so that a fan-out cannot take the
// fuzzer's time. Every input must end in a written output or in a report;
// every report is one line, a report must leave no file behind, and a
// written output reads back with every row in its place (and every value,
// when the values are ones a load file carries unchanged), unless the writer
// told of lines past the reader's limit, exactly those it wrote.

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <loadfile/loadfile.h>
#include <loadfile/loadline.h>
#include <loadfile/table.h>
#include <velalib/velastring.h>
#include "expand.h"
#include "harness.h"
#include "rules.h"
#include "tablecopy.h"

namespace {

constexpr std::string_view kMarker = "%%RULES%%\n";
constexpr long kMaxRows = 5000;
constexpr size_t kMaxCompared = 200000;  // cells kept to compare with the output

// True when the load file reader gives back `value` as it stands.
bool survives_reading(std::string_view value) {
  if (value.empty()) return true;
  if (value.front() == ' ' || value.back() == ' ') return false;
  if (value.find("  ") != std::string_view::npos) return false;
  return std::none_of(value.begin(), value.end(),
                      [](char c) { return c != ' ' && is_blank_byte(c); });
}

// A message is one line: at most 511 characters, ending in ")\n", with no
// other control byte than the tab.
void check_message(int, char* text) {
  std::string_view line(text);
  FUZZ_CHECK(line.size() <= 511 && line.ends_with(")\n"), "a message ends its line");
  line.remove_suffix(1);
  FUZZ_CHECK(std::none_of(line.begin(), line.end(),
                          [](char c) { return (c >= 0 && c < 0x20 && c != '\t') || c == 0x7f; }),
             "a message holds no control byte");
}

// How many lines of a written file pass the reader's limit, and the first.
LoadOverlong long_lines(const std::string& path) {
  LoadOverlong found;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  for (long n = 1; std::getline(in, line); ++n) {
    if (line.size() <= kLoadLineMax) continue;
    if (found.count++ == 0) found.line = n;
  }
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static InputFile load_file;
  static InputFile rule_file;
  static const std::string output = scratch_dir() + "/out.lod";
  static bool started = [] {
    quiet_reports();
    vela_errhandler = check_message;
    return true;
  }();
  (void)started;

  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  size_t split = bytes.find(kMarker);
  if (split == std::string_view::npos) return 0;
  const char* load_path = load_file.fill(bytes.substr(0, split));
  const char* rule_path = rule_file.fill(bytes.substr(split + kMarker.size()));

  TablePtr input(read_loadfile(load_path));
  if (!input || get_tab_colnum(input.get(), "EXPANSION_NUMBER") >= 0) return 0;
  TablePtr out_layout(create_table());
  copy_layout(input.get(), out_layout.get(), "EXPANSION_NUMBER");
  copy_header(input.get(), out_layout.get());

  long rows = 0;
  bool comparable = get_tab_colnum(input.get(), comment) < 0;
  std::vector<std::string> written;  // every cell, while comparable
  LoadOverlong overlong;
  try {
    const RuleFile rules = parse_rules(rule_path, input.get());
    LoadWriterPtr writer(open_load_writer(output.c_str(), out_layout.get()));
    FUZZ_CHECK(writer != nullptr, "output opens");
    int ncol = input->ncol + 1;
    int status = expand_rows(input.get(), rules, [&](const std::string_view* cells) {
      if (rows == kMaxRows) return -1;
      FUZZ_CHECK(cells[ncol - 1] == std::to_string(rows + 1), "EXPANSION_NUMBER counts the rows");
      comparable = comparable && written.size() < kMaxCompared;
      for (int c = 0; c < ncol && comparable; ++c) {
        comparable = survives_reading(cells[c]) && cells[c].find('\n') == std::string_view::npos;
        // An empty cell may be a view with no storage at all.
        written.push_back(cells[c].empty() ? std::string() : std::string(cells[c]));
      }
      ++rows;
      return put_load_row(writer.get(), cells);
    });
    FUZZ_CHECK(status == 0 || rows == kMaxRows, "a stopped run was stopped by the cap");
    overlong = load_writer_overlong(writer.get());
    FUZZ_CHECK(close_load_writer(writer.release()) == 0, "output closes");
  } catch (const HarnessExit& exit) {
    FUZZ_CHECK(exit.status == 1, "a run ends only with a reported error");
    FUZZ_CHECK(!std::filesystem::exists(output), "a failed run leaves no output");
    for (const auto& entry : std::filesystem::directory_iterator(scratch_dir())) {
      FUZZ_CHECK(false, ("left behind: " + entry.path().string()).c_str());
    }
    return 0;
  }

  TablePtr back(read_loadfile(output.c_str()));
  LoadOverlong found = long_lines(output);
  std::filesystem::remove(output);
  FUZZ_CHECK(found.count == overlong.count && found.line == overlong.line,
             "the writer tells which lines pass the limit");
  if (overlong.count > 0) {
    FUZZ_CHECK(back == nullptr, "a line past the limit fails the reading");
    return 0;
  }
  FUZZ_CHECK(back != nullptr, "the output reads back");
  FUZZ_CHECK(back->nrow == rows, "every row written");
  int number = get_tab_colnum(back.get(), "EXPANSION_NUMBER");
  for (long r = 0; r < rows; ++r) {
    FUZZ_CHECK(std::string_view(get_tab_cell_bynum(back.get(), number, static_cast<int>(r))) ==
                   std::to_string(r + 1),
               "every row in its place");
  }
  // Values that reading cleans; a file without rows has no columns either.
  if (!comparable || rows == 0) return 0;
  FUZZ_CHECK(back->ncol == input->ncol + 1, "every column written");
  for (long r = 0; r < rows; ++r) {
    for (int c = 0; c < back->ncol; ++c) {
      FUZZ_CHECK(written[static_cast<size_t>(r * back->ncol + c)] ==
                     get_tab_cell_bynum(back.get(), c, static_cast<int>(r)),
                 "every value read back");
    }
  }
  return 0;
}
