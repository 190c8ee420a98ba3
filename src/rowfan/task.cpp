// The one task of rowfan: read the input load file, lay out the output, parse
// the rules, expand every row and write the output load file.

#include <string_view>

#include "columns.h"
#include "expand.h"
#include "loadfile.h"
#include "loadline.h"
#include "param.h"
#include "rules.h"
#include "tablecopy.h"
#include "task.h"
#include "velaerror.h"

void task(int nparam, char** param) {
  if (nparam != 4) {
    // Names that did not fit in the argument vector still count.
    vela_error(VELA_WRONG_ARG_COUNT, "%d", ngiven > nparam - 1 ? ngiven : nparam - 1);
  }
  const char* in_name = param[1];
  const char* out_name = param[2];
  const char* rule_name = param[3];

  // The input and output Tables live until the process ends.
  static TablePtr input;
  static TablePtr output;
  input.reset(read_loadfile(in_name));
  if (!input) {
    if (load_failure == LOAD_CANNOT_OPEN) vela_error(VELA_CANNOT_OPEN_FILE, "%s", in_name);
    vela_error(VELA_CANNOT_PROCESS_LOADFILE, "%s: %s", in_name, lod_error);
  }
  if (get_tab_colnum(input.get(), col_expansion_number) >= 0)
    vela_error(VELA_ALREADY_EXPANDED, "%s", in_name);

  output.reset(create_table());
  copy_layout(input.get(), output.get(), col_expansion_number);
  copy_header(input.get(), output.get());

  TablePtr target(create_table());
  TablePtr action(create_table());
  parse_rules(rule_name, input.get(), target.get(), action.get());

  // Rows are written as they are produced, so the output never has to be
  // held in memory whole. Until it is closed, the writer removes what it
  // wrote when the run ends early: an error report ends the process, and
  // with it the writer goes.
  static LoadWriterPtr writer;
  writer.reset(open_load_writer(out_name, output.get()));
  if (!writer) vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);
  int status =
      expand_rows(input.get(), target.get(), action.get(),
                  [](const std::string_view* cells) { return put_load_row(writer.get(), cells); });
  if (status < 0) vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);
  // Read before closing, which releases the writer.
  LoadOverlong overlong = load_writer_overlong(writer.get());
  if (close_load_writer(writer.release()) < 0) vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);
  // Written whole, but the file will not read back: the run has failed.
  if (overlong.count > 0) {
    vela_warn(VELA_STRING_TOO_LONG, "%s: line %ld, column %s, %ld %s over %zu bytes", out_name,
              overlong.line, overlong.name.c_str(), overlong.count,
              overlong.count == 1 ? "line" : "lines", kLoadLineMax);
  }
}
