// The one task of rowfan: read the input load file, lay out the output, parse
// the rules, expand every row and write the output load file.

#include <cstdlib>
#include <string_view>

#include "expand.h"
#include "loadfile.h"
#include "param.h"
#include "rules.h"
#include "tablecopy.h"
#include "velaerror.h"

namespace {

// The output being written, so that an error report, which ends the process,
// removes it instead of leaving a partial file behind.
LoadWriter* open_writer = nullptr;

void discard_open_writer() {
  discard_load_writer(open_writer);
  open_writer = nullptr;
}

}  // namespace

void task(int nparam, char** param) {
  if (nparam != 4) {
    // Names that did not fit in the argument vector still count.
    vela_error(23, "%d", ngiven > nparam - 1 ? ngiven : nparam - 1);
  }
  const char* in_name = param[1];
  const char* out_name = param[2];
  const char* rule_name = param[3];

  // The input and output Tables live until the process ends.
  static TablePtr input;
  static TablePtr output;
  input.reset(read_loadfile(in_name));
  if (!input) {
    if (std::string_view(lod_error) == load_message[0]) vela_error(1, "%s", in_name);
    vela_error(14, "%s: %s", in_name, lod_error);
  }
  if (get_tab_colnum(input.get(), "EXPANSION_NUMBER") >= 0) vela_error(37, "%s", in_name);

  output.reset(create_table());
  copy_layout(input.get(), output.get(), "EXPANSION_NUMBER");
  copy_header(input.get(), output.get());

  TablePtr target(create_table());
  TablePtr action(create_table());
  parse_rules(rule_name, input.get(), target.get(), action.get());

  // Rows are written as they are produced, so the output never has to be
  // held in memory whole.
  open_writer = open_load_writer(out_name, output.get());
  if (!open_writer) vela_error(15, "%s", out_name);
  static bool registered = false;
  if (!registered) {
    std::atexit(discard_open_writer);
    registered = true;
  }
  int status = expand_rows(input.get(), target.get(), action.get(),
                           [](const std::string_view* cells) { return put_load_row(open_writer, cells); });
  if (status < 0) vela_error(15, "%s", out_name);
  LoadWriter* writer = open_writer;
  open_writer = nullptr;
  if (close_load_writer(writer) < 0) vela_error(15, "%s", out_name);
}
