// The output file: where a run's bytes go and how the finished output takes
// the place of the file named. A caller asks for an output by name, writes to
// its descriptor, and either closes it, which puts the complete output in
// place, or discards it, which leaves everything as it was. Until then the
// module owns any temporary file it made, and removes it also when a signal
// ends the process. Neither call prints; each tells failure by its result.
#pragma once

#include <memory>
#include <string>

struct OutputFile {
  int fd = -1;         // where the output's bytes are written
  std::string target;  // the file the finished output becomes
  std::string temp;    // the name it is written under until then; empty when none
};

// Null when the output cannot be written there.
OutputFile* open_output_file(const char* path);
// Puts the complete output in place and releases `out`, whatever the result:
// 0, or -1 when it could not be finished (nothing written is then left).
int close_output_file(OutputFile* out);
// Removes whatever was written and releases `out`. Safe at any moment, also
// from an exit handler, and on null.
void discard_output_file(OutputFile* out);

struct OutputFileDiscard {
  void operator()(OutputFile* out) const { discard_output_file(out); }
};
using OutputFilePtr = std::unique_ptr<OutputFile, OutputFileDiscard>;
