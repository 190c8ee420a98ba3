// The whole run on one input: a load file, a line "%%RULES%%", a rule file.
// The steps are the task's (read, lay out, parse, expand, write), with the
// output held to a bounded number of rows so that a fan-out cannot take the
// fuzzer's time. Every input must end in a written output or in a report;
// a report must leave no file behind, and a written output must read back
// with every row when its values are ones a load file carries unchanged.

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "expand.h"
#include "harness.h"
#include "loadfile.h"
#include "rules.h"
#include "table.h"
#include "tablecopy.h"
#include "velastring.h"

extern FILE* yyin;  // the scanner's stream

namespace {

constexpr std::string_view kMarker = "%%RULES%%\n";
constexpr long kMaxRows = 5000;

// True when the load file reader gives back `value` as it stands.
bool survives_reading(std::string_view value) {
  if (value.empty()) return true;
  if (value.front() == ' ' || value.back() == ' ') return false;
  if (value.find("  ") != std::string_view::npos) return false;
  return std::none_of(value.begin(), value.end(),
                      [](char c) { return c != ' ' && is_blank_byte(c); });
}

void close_rule_file() {
  // A parse cut short by a report leaves the rule file open.
  if (yyin != nullptr) {
    std::fclose(yyin);
    yyin = nullptr;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static InputFile load_file;
  static InputFile rule_file;
  static const std::string output = scratch_dir() + "/out.lod";
  static bool started = [] {
    quiet_reports();
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

  TablePtr target(create_table());
  TablePtr action(create_table());
  long rows = 0;
  bool comparable = get_tab_colnum(input.get(), comment) < 0;
  try {
    parse_rules(rule_path, input.get(), target.get(), action.get());
    LoadWriterPtr writer(open_load_writer(output.c_str(), out_layout.get()));
    FUZZ_CHECK(writer != nullptr, "output opens");
    int ncol = input->ncol + 1;
    int status =
        expand_rows(input.get(), target.get(), action.get(), [&](const std::string_view* cells) {
          if (rows == kMaxRows) return -1;
          FUZZ_CHECK(cells[ncol - 1] == std::to_string(rows + 1),
                     "EXPANSION_NUMBER counts the rows");
          for (int c = 0; c < ncol && comparable; ++c) {
            comparable =
                survives_reading(cells[c]) && cells[c].find('\n') == std::string_view::npos;
          }
          ++rows;
          return put_load_row(writer.get(), cells);
        });
    FUZZ_CHECK(status == 0 || rows == kMaxRows, "a stopped run was stopped by the cap");
    FUZZ_CHECK(close_load_writer(writer.release()) == 0, "output closes");
  } catch (const HarnessExit& exit) {
    FUZZ_CHECK(exit.status == 1, "a run ends only with a reported error");
    close_rule_file();
    FUZZ_CHECK(!std::filesystem::exists(output), "a failed run leaves no output");
    for (const auto& entry : std::filesystem::directory_iterator(scratch_dir())) {
      FUZZ_CHECK(false, ("left behind: " + entry.path().string()).c_str());
    }
    return 0;
  }

  TablePtr back(read_loadfile(output.c_str()));
  std::filesystem::remove(output);
  if (!comparable || back == nullptr) {
    // Values that reading cleans, or lines past the reader's limit: the
    // output is as written but need not read back.
    return 0;
  }
  FUZZ_CHECK(back->nrow == rows || (rows == 0 && back->nrow == 0), "every row written");
  return 0;
}
