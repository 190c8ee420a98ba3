// The one task of rowfan: read the input load file, lay out the output, parse
// the rules, expand every row and write the output load file; on request
// also report what the rules did (check+) and trace every output row to its
// input row and rules (trace=FILE).

#include <sys/stat.h>

#include <cstring>
#include <string_view>

#include <loadfile/loadfile.h>
#include <loadfile/loadline.h>
#include <velalib/option.h>
#include <velalib/param.h>
#include <velalib/task.h>
#include <velalib/velaerror.h>
#include "check.h"
#include "columns.h"
#include "expand.h"
#include "rules.h"
#include "tablecopy.h"
#include "trace.h"

namespace {

// Whether two names are one file: the same text, or an existing file by two
// names. A trace written over the output would replace it.
bool same_file(const char* a, const char* b) {
  if (std::strcmp(a, b) == 0) return true;
  struct stat sa, sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

void task(int nparam, char** param) {
  if (nparam != 4) {
    // Names that did not fit in the argument vector still count.
    vela_error(VELA_WRONG_ARG_COUNT, "%d", ngiven > nparam - 1 ? ngiven : nparam - 1);
  }
  const char* in_name = param[1];
  const char* out_name = param[2];
  const char* rule_name = param[3];
  def_option("check=no,trace=");
  const bool check = std::strcmp(get_option("check"), "yes") == 0;
  const char* trace_name = get_option("trace");
  if (*trace_name != '\0' && same_file(trace_name, out_name))
    vela_error(VELA_CANNOT_WRITE_FILE, "%s", trace_name);

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

  const RuleFile rules = parse_rules(rule_name, input.get());
  // Before the run, which may yet fail.
  if (check) report_dropped_rules(rules, input.get());

  // Rows are written as they are produced, so the output never has to be
  // held in memory whole. Until it is closed, the writer removes what it
  // wrote when the run ends early: an error report ends the process, and
  // with it the writer goes. The trace goes the same way.
  static TraceWriterPtr trace;
  if (*trace_name != '\0') {
    trace.reset(open_trace(trace_name, rules.rule_line));
    if (!trace) vela_error(VELA_CANNOT_WRITE_FILE, "%s", trace_name);
  }
  static LoadWriterPtr writer;
  writer.reset(open_load_writer(out_name, output.get()));
  if (!writer) vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);

  ExpansionRecord record;
  const char* failed = out_name;
  const int ncol = input->ncol;  // the row's EXPANSION_NUMBER follows its cells
  RowSink sink = [](const std::string_view* cells) { return put_load_row(writer.get(), cells); };
  if (trace) {
    sink = [&](const std::string_view* cells) {
      if (put_load_row(writer.get(), cells) < 0) return -1;
      if (put_trace_row(trace.get(), record, cells[ncol]) < 0) {
        failed = trace_name;
        return -1;
      }
      return 0;
    };
  }
  int status = expand_rows(input.get(), rules, sink, check || trace ? &record : nullptr);
  if (status < 0) vela_error(VELA_CANNOT_WRITE_FILE, "%s", failed);
  // Both files are written out before either is put in place, so that a
  // failure to write leaves neither.
  if (trace && finish_trace(trace.get()) < 0) vela_error(VELA_CANNOT_WRITE_FILE, "%s", trace_name);
  // Read before closing, which releases the writer.
  LoadOverlong overlong = load_writer_overlong(writer.get());
  if (close_load_writer(writer.release()) < 0) vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);
  if (trace && close_trace(trace.release()) < 0) {
    vela_error(VELA_CANNOT_WRITE_FILE, "%s", trace_name);
  }
  // Written whole, but the file will not read back: the run has failed.
  if (overlong.count > 0) {
    vela_warn(VELA_STRING_TOO_LONG, "%s: line %ld, column %s, %ld %s over %zu bytes", out_name,
              overlong.line, overlong.name.c_str(), overlong.count,
              overlong.count == 1 ? "line" : "lines", kLoadLineMax);
  }
  if (check) report_run(rules, in_name, input.get(), record);
}
