// The one task of rowfan: read the input load file, lay out the output, parse
// the rules, expand every row and write the output load file; on request
// also report what the rules did (check+) and trace every output row to its
// input row and rules (trace=FILE).

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include <loadfile/loadfile.h>
#include <loadfile/loadline.h>
#include <loadfile/outputfile.h>
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

// Whether the file the run writes as `written` is the one it reads by the
// name `read`, which then would be destroyed.
bool writes_over(const char* written, const char* read) {
  struct stat st;
  return stat(read, &st) == 0 && output_names_file(written, st);
}

// The trace would replace a file of the run: the output, or the input.
void refuse_trace_over_files(const char* trace_name, const char* out_name, const char* in_name) {
  if (*trace_name == '\0') return;
  if (same_output_file(trace_name, out_name) || writes_over(trace_name, in_name))
    vela_error(VELA_CANNOT_WRITE_FILE, "%s", trace_name);
}

// Neither written file may replace the rule file as it was opened, wherever
// the lookup found it. (The output may replace the input: that is an
// expansion in place.)
void refuse_writing_over_rules(const char* trace_name, const char* out_name) {
  if (*trace_name != '\0' && writes_over(trace_name, rule_file_path.c_str()))
    vela_error(VELA_CANNOT_WRITE_FILE, "%s", trace_name);
  if (writes_over(out_name, rule_file_path.c_str()))
    vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);
}

// Before the first message: when the output or the trace is the file behind
// standard output, every message goes to standard error, so none lands in
// the data.
void route_messages(int nparam, char** param) {
  if (nparam != 4) return;
  struct stat out;
  if (fstat(STDOUT_FILENO, &out) != 0) return;
  def_option("check=no,trace=");
  const char* trace_name = get_option("trace");
  if (output_names_file(param[2], out) ||
      (*trace_name != '\0' && output_names_file(trace_name, out))) {
    vela_messages_to_stderr();
  }
}

// Given to the shared entry before it starts.
[[maybe_unused]] const bool messages_routed = (task_start = route_messages, true);

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
  refuse_trace_over_files(trace_name, out_name, in_name);

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
  refuse_writing_over_rules(trace_name, out_name);
  // Before the run, which may yet fail.
  if (check) report_dropped_rules(rule_file_path, input.get());

  // Rows are written as they are produced, so the output never has to be
  // held in memory whole. Until it is closed, the writer removes what it
  // wrote when the run ends early: an error report ends the process, and
  // with it the writer goes. The trace goes the same way.
  static TraceWriterPtr trace;
  if (*trace_name != '\0') {
    trace.reset(open_trace(trace_name, xrule_line));
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
  int status = expand_rows(input.get(), target.get(), action.get(), sink,
                           check || trace ? &record : nullptr);
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
  if (check) report_run(rule_file_path, in_name, input.get(), record);
}
