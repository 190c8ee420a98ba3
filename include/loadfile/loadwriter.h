// The load file writer: a Table, or rows as they are produced, written in
// the canonical layout. It prints nothing and never ends the process:
// failures return -1 (or null) with `lod_error` set.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <loadfile/table.h>

// Writes the whole Table; 0, or -1 with `lod_error` set. A failed write
// leaves any earlier file of that name untouched (see outputfile.h for where
// the bytes go).
int write_loadfile(const char* path, Table* table);

// The writer in streaming form, so rows can be written as they are produced.
// open_load_writer writes the header of `layout` (its keywords) and takes its
// column names as the layout of every row; put_load_row takes one cell per
// column in the layout's column order. close_load_writer finishes the file and
// puts it in place; discard_load_writer removes what was written. Every call
// returns 0 or -1 with `lod_error` set (open: null).
// close_load_writer and discard_load_writer both release the writer, whatever
// the result; discard_load_writer(nullptr) does nothing. So an owner that lets
// go of the writer once it is closed may leave discarding a half-written file
// to its LoadWriterPtr, also at process exit.
struct LoadWriter;
LoadWriter* open_load_writer(const char* path, Table* layout);
int put_load_row(LoadWriter* writer, const std::string_view* cells);
int close_load_writer(LoadWriter* writer);
// For putting the file in place together with another (place_output_files
// in outputfile.h): finish_load_writer writes the end of the file and
// everything buffered, so that only putting it in place is left;
// load_writer_file is the writer's output file, still the writer's own.
// close_load_writer then lets go of a file already in place.
struct OutputFile;
int finish_load_writer(LoadWriter* writer);
OutputFile* load_writer_file(LoadWriter* writer);
void discard_load_writer(LoadWriter* writer);

// Lines written past the reader's limit of 78 bytes, where a value fits no
// layout: how many, and where the first stands. The file is written whole
// all the same, but will not read back. Valid until the writer is released.
struct LoadOverlong {
  long count = 0;
  long line = 0;     // line number of the first, from 1
  std::string name;  // its keyword or column name
};
const LoadOverlong& load_writer_overlong(const LoadWriter* writer);

struct LoadWriterDiscard {
  void operator()(LoadWriter* writer) const { discard_load_writer(writer); }
};
using LoadWriterPtr = std::unique_ptr<LoadWriter, LoadWriterDiscard>;
