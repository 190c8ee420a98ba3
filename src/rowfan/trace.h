// The trace of a run: for every output row its EXPANSION_NUMBER, the input
// row it comes from and the rule-file lines of the rules that produced it,
// as tab-separated text. Written like the output: through the output file
// module, complete or not at all.
//
//   EXPANSION_NUMBER<TAB>INPUT_ROW<TAB>RULE_LINES
//   1<TAB>1<TAB>2 3
//   5<TAB>2<TAB>
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "expand.h"

struct TraceWriter;

// Opens the trace and writes its header line; null when it cannot be written
// there. `rule_lines` gives the rule-file line of each rule, by number.
TraceWriter* open_trace(const char* path, const std::vector<int>& rule_lines);
// One line for the row `record` describes, whose EXPANSION_NUMBER is
// `number`; 0, or -1 once a write has failed.
int put_trace_row(TraceWriter* trace, const ExpansionRecord& record, std::string_view number);
// Writes out everything buffered, so that only putting the file in place is
// left; 0 or -1.
int finish_trace(TraceWriter* trace);
// The trace's output file, for putting it in place together with the
// output (place_output_files); still the trace's own.
struct OutputFile;
OutputFile* trace_file(TraceWriter* trace);
// Puts the finished trace in place, unless it is already, and releases it,
// whatever the result: 0, or -1 when it could not be (nothing written is
// then left).
int close_trace(TraceWriter* trace);
// Removes whatever was written and releases `trace`. Safe at any moment, also
// from an exit handler, and on null.
void discard_trace(TraceWriter* trace);

struct TraceDiscard {
  void operator()(TraceWriter* trace) const { discard_trace(trace); }
};
using TraceWriterPtr = std::unique_ptr<TraceWriter, TraceDiscard>;
