// The one task of rowfan: read the input load file, lay out the output, parse
// the rules, expand every row and write the output load file; on request
// also report what the rules did (check+) and trace every output row to its
// input row and rules (trace=FILE).

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include <loadfile/loadfile.h>
#include <loadfile/loadline.h>
#include <loadfile/loadwriter.h>
#include <loadfile/outputfile.h>
#include <velalib/option.h>
#include <velalib/param.h>
#include <velalib/task.h>
#include <velalib/usage.h>
#include <velalib/velaerror.h>
#include "check.h"
#include "columns.h"
#include "expand.h"
#include "rules.h"
#include "tablecopy.h"
#include "trace.h"

namespace {

const char* const rowfan_options[] = {
    "v+          print the installation-date line",
    "check+      also report what the rules did, as FILE:LINE: text lines",
    "trace=FILE  also write FILE: each output row's input row and rule lines",
    "help+       print this text (with no file name)",
    nullptr,
};
constexpr ToolUsage rowfan_usage = {"rowfan", "IN.lod OUT.lod RULES [v+] [check+] [trace=FILE]",
                                    rowfan_options, ROWFAN_VERSION};

// check+ (check=yes) or check- (check=no); any other value asks for what
// cannot be done, and is warned of.
bool check_option() {
  const char* value = get_option("check");
  if (std::strcmp(value, "yes") == 0) return true;
  if (std::strcmp(value, "no") != 0) {
    vela_warn(VELA_OPTION_UNPARSED, "%s", get_option_item("check"));
  }
  return false;
}

// The trace file's name, empty for none. trace=FILE names it; trace- asks
// for none, and trace+ names no file and is warned of.
const char* trace_option() {
  const char* value = get_option("trace");
  const char* item = get_option_item("trace");
  std::string_view typed = item;
  if (typed.find('=') != std::string_view::npos) return value;
  if (typed.ends_with('+')) vela_warn(VELA_OPTION_UNPARSED, "%s", item);
  return "";
}

// The trace file named (trace=FILE), or empty; as trace_option, but before
// any message may be given.
const char* trace_named() {
  const char* value = get_option("trace");
  std::string_view typed = get_option_item("trace");
  return typed.find('=') != std::string_view::npos ? value : "";
}

// The files the run writes, until they are in place.
struct RunOutputs {
  TraceWriterPtr trace;
  LoadWriterPtr writer;
};

// An error report ends the process with exit, which runs no destructor of a
// local: the outputs of the run under way are discarded by an exit handler
// instead, which finds them here. A signal handler or exit handler can
// reach nothing but a global.
RunOutputs* outputs_to_discard = nullptr;

void discard_run_outputs() {
  if (outputs_to_discard == nullptr) return;
  outputs_to_discard->writer.reset();
  outputs_to_discard->trace.reset();
  outputs_to_discard = nullptr;
}

// Until disarmed, whatever `outputs` holds is discarded when the process
// exits.
void arm_output_discard(RunOutputs* outputs) {
  static const bool registered = std::atexit(discard_run_outputs) == 0;
  if (registered) outputs_to_discard = outputs;
}

void disarm_output_discard() {
  outputs_to_discard = nullptr;
}

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
void refuse_writing_over_rules(const RuleFile& rules, const char* trace_name,
                               const char* out_name) {
  if (*trace_name != '\0' && writes_over(trace_name, rules.path.c_str()))
    vela_error(VELA_CANNOT_WRITE_FILE, "%s", trace_name);
  if (writes_over(out_name, rules.path.c_str())) vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);
}

// Before the first message: when the output or the trace is the file behind
// standard output, every message goes to standard error, so none lands in
// the data.
void route_messages(int nparam, char** param) {
  if (nparam != 4) return;
  struct stat out;
  if (fstat(STDOUT_FILENO, &out) != 0) return;
  def_option("check=no,trace=");
  const char* trace_name = trace_named();
  if (output_names_file(param[2], out) ||
      (*trace_name != '\0' && output_names_file(trace_name, out))) {
    vela_messages_to_stderr();
  }
}

// Given to the shared entry before it starts.
[[maybe_unused]] const bool messages_routed = (task_start = route_messages, true);

}  // namespace

void task(int nparam, char** param) {
  if (vela_help(rowfan_usage, nparam)) return;
  if (nparam != 4) {
    // Names that did not fit in the argument vector still count.
    vela_wrong_call(rowfan_usage, ngiven > nparam - 1 ? ngiven : nparam - 1);
  }
  const char* in_name = param[1];
  const char* out_name = param[2];
  const char* rule_name = param[3];
  def_option("check=no,trace=");
  const bool check = check_option();
  const char* trace_name = trace_option();
  // Every option the tool reads has been asked for by now.
  if (check) report_unread_options("rowfan");
  refuse_trace_over_files(trace_name, out_name, in_name);

  // The input and output Tables live until the process ends. A checked run
  // notes the columns a row gives twice, which only the reader sees.
  static TablePtr input;
  static TablePtr output;
  std::vector<LoadRepeat> repeats;
  input.reset(check ? read_loadfile_noting(in_name, &repeats) : read_loadfile(in_name));
  if (!input) {
    if (load_failure == LOAD_CANNOT_OPEN) vela_error(VELA_CANNOT_OPEN_FILE, "%s", in_name);
    if (check) explain_load_error(in_name, repeats);
    vela_error(VELA_CANNOT_PROCESS_LOADFILE, "%s: %s", in_name, lod_error);
  }
  if (check) report_load_repeats(in_name, repeats);
  if (get_tab_colnum(input.get(), col_expansion_number) >= 0)
    vela_error(VELA_ALREADY_EXPANDED, "%s", in_name);

  output.reset(create_table());
  copy_layout(input.get(), output.get(), col_expansion_number);
  copy_header(input.get(), output.get());

  const RuleFile rules = parse_rules(rule_name, input.get(), {.explain_errors = check});
  refuse_writing_over_rules(rules, trace_name, out_name);
  // Before the run, which may yet fail.
  if (check) report_dropped_rules(rules, input.get());

  // Rows are written as they are produced, so the output never has to be
  // held in memory whole. Until both files are in place, what was written
  // is discarded when the run ends early.
  RunOutputs outputs;
  arm_output_discard(&outputs);
  if (*trace_name != '\0') {
    outputs.trace.reset(open_trace(trace_name, rules.rule_line));
    if (!outputs.trace) vela_error(VELA_CANNOT_WRITE_FILE, "%s", trace_name);
  }
  outputs.writer.reset(open_load_writer(out_name, output.get()));
  if (!outputs.writer) vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);

  LoadWriter* writer = outputs.writer.get();
  TraceWriter* trace = outputs.trace.get();
  ExpansionRecord record;
  const char* failed = out_name;
  const int ncol = input->ncol;  // the row's EXPANSION_NUMBER follows its cells
  RowSink sink = [writer](const std::string_view* cells) { return put_load_row(writer, cells); };
  if (trace) {
    sink = [&](const std::string_view* cells) {
      if (put_load_row(writer, cells) < 0) return -1;
      if (put_trace_row(trace, record, cells[ncol]) < 0) {
        failed = trace_name;
        return -1;
      }
      return 0;
    };
  }
  int status = expand_rows(input.get(), rules, sink, check || trace ? &record : nullptr);
  if (status < 0) vela_error(VELA_CANNOT_WRITE_FILE, "%s", failed);
  // Both files are written out before either is put in place, and then put
  // in place as one, so that the trace always describes the output beside
  // it: a failure leaves neither.
  if (finish_load_writer(writer) < 0) vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);
  if (trace && finish_trace(trace) < 0) vela_error(VELA_CANNOT_WRITE_FILE, "%s", trace_name);
  OutputFile* out_file = load_writer_file(writer);
  OutputFile* unplaced = place_output_files(out_file, trace ? trace_file(trace) : nullptr);
  if (unplaced != nullptr)
    vela_error(VELA_CANNOT_WRITE_FILE, "%s", unplaced == out_file ? out_name : trace_name);
  disarm_output_discard();
  // Read before closing, which releases the writer.
  LoadOverlong overlong = load_writer_overlong(writer);
  if (close_load_writer(outputs.writer.release()) < 0)
    vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);
  if (trace && close_trace(outputs.trace.release()) < 0)
    vela_error(VELA_CANNOT_WRITE_FILE, "%s", trace_name);
  // Written whole, but the file will not read back: the run has failed.
  if (overlong.count > 0) {
    vela_warn(VELA_STRING_TOO_LONG, "%s: line %ld, column %s, %ld %s over %zu bytes", out_name,
              overlong.line, overlong.name.c_str(), overlong.count,
              overlong.count == 1 ? "line" : "lines", kLoadLineMax);
  }
  if (check) report_run(rules, in_name, input.get(), record);
}
