// The trace writer. Lines are gathered in a buffer and written with write(2)
// to the output file's descriptor in large blocks, so a trace costs little
// beside the output it describes; the output file module decides where the
// bytes go and puts the finished file in place. Consecutive output rows
// mostly share their input row and rules, so the part of a line after its
// number is made once and reused while they stay the same.

#include "trace.h"

#include <cstring>
#include <string>
#include <string_view>

#include <loadfile/outputfile.h>
#include "columns.h"

namespace {

constexpr size_t kTraceBlock = 1 << 18;

}  // namespace

// One trace being written. The first failed write marks it failed and
// nothing more is written.
struct TraceWriter {
  OutputBuffer out;
  std::vector<std::string> line_text;  // by rule number: its rule-file line

  // The last line's part after its number, and what it was made from.
  std::string tail;
  int tail_row = -1;
  long long tail_chain = -1;  // the record's chain_changes when it was made
};

namespace {

void emit(TraceWriter* trace, std::string_view text) {
  put_output(trace->out, text);
}

// "<TAB>input row<TAB>rule lines<NEWLINE>" for the row `record` describes.
void make_tail(TraceWriter* trace, const ExpansionRecord& record) {
  std::string& tail = trace->tail;
  tail = '\t';
  tail += std::to_string(record.input_row + 1LL);
  tail += '\t';
  const int nrule = static_cast<int>(trace->line_text.size());
  for (size_t i = 0; i < record.chain.size(); i++) {
    if (i > 0) tail += ' ';
    int rule = record.chain[i];
    // Rules that did not come from a rule file are named by number, from 1.
    tail += rule >= 0 && rule < nrule ? trace->line_text[rule] : std::to_string(rule + 1LL);
  }
  tail += '\n';
  trace->tail_row = record.input_row;
  trace->tail_chain = record.chain_changes;
}

}  // namespace

TraceWriter* open_trace(const char* path, const std::vector<int>& rule_lines) {
  TraceWriterPtr trace(new TraceWriter);
  if (!open_output_buffer(trace->out, open_output_file(path), kTraceBlock)) return nullptr;
  trace->line_text.reserve(rule_lines.size());
  for (int line : rule_lines) trace->line_text.push_back(std::to_string(line));
  emit(trace.get(), col_expansion_number);
  emit(trace.get(), "\tINPUT_ROW\tRULE_LINES\n");
  return trace.release();
}

int put_trace_row(TraceWriter* trace, const ExpansionRecord& record, std::string_view number) {
  if (record.input_row != trace->tail_row || record.chain_changes != trace->tail_chain) {
    make_tail(trace, record);
  }
  OutputBuffer& out = trace->out;
  const size_t size = number.size() + trace->tail.size();
  if (char* at = output_room(out, size)) {
    // The common case: straight into the buffer.
    std::memcpy(at, number.data(), number.size());
    std::memcpy(at + number.size(), trace->tail.data(), trace->tail.size());
    out.used += size;
  } else {
    emit(trace, number);
    emit(trace, trace->tail);
  }
  return trace->out.failed ? -1 : 0;
}

int finish_trace(TraceWriter* trace) {
  return finish_output_buffer(trace->out) ? 0 : -1;
}

OutputFile* trace_file(TraceWriter* trace) {
  return trace->out.output.get();
}

int close_trace(TraceWriter* trace) {
  TraceWriterPtr owned(trace);
  return close_output_buffer(trace->out);
}

void discard_trace(TraceWriter* trace) {
  // The output file removes what was written as it goes.
  delete trace;
}
