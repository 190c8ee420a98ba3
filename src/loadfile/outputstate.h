// The output file's record: the route its output takes and what it made
// on the way. Private to the load file library; callers hold an OutputFile
// only through the functions of outputfile.h.
#pragma once

#include <string>

#include <loadfile/outputfile.h>

enum OutputRoute {
  OUTPUT_STREAM,  // written straight to where it goes
  OUTPUT_NEW,     // staged beside the name, linked in when complete
  OUTPUT_RENAME,  // staged beside the file, renamed over it when complete
  OUTPUT_COPY,    // staged, then copied into the file when complete
};

struct OutputFile {
  OutputRoute route = OUTPUT_STREAM;
  int fd = -1;            // where the output's bytes are written: the stream, or the stage
  int dir = -1;           // the directory of `name` (also where a COPY stages, if it can)
  std::string name;       // NEW, RENAME: the name the finished output takes in `dir`
  int target = -1;        // COPY, RENAME: the existing file, open for writing
  bool borrowed = false;  // the stream or the COPY target is the caller's own descriptor
  std::string temp;       // the stage's name in `dir`, while it has one
  int armed = -1;         // the signal guard's slot for `temp`
  bool holds_signals = false;
  bool placed = false;  // put in place; closing only lets go of it
};

// Stages are unnamed files (O_TMPFILE) where the file system has them, so a
// process killed outright leaves nothing behind; else they have a temporary
// name beside the output. Tests turn this off to take the second way.
extern bool output_unnamed_staging;
// Called by a COPY with its lock taken and the signals held, just before
// the copy; tests use it to send signals into the copy. Null otherwise.
extern void (*output_copy_hook)();
