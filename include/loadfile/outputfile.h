// The output file: where a run's bytes go and how the finished output takes
// the place of the file named. A caller asks for an output by name, writes to
// its descriptor `fd`, and either closes it, which puts the complete output
// in place, or discards it, which leaves everything as it was. Until then the
// module owns whatever it made on the way, and removes it also when a signal
// ends the process. Neither call prints; each tells failure by its result.
//
// The route the output takes, by what the name is once links are followed:
// - a descriptor of the process (/dev/stdout, /dev/stderr, /dev/stdin,
//   /dev/fd/N, /proc/self/fd/N): written through that descriptor as it was
//   set up (appending stays appending), never by replacing the file behind
//   it; a pipe, terminal or device as it goes (STREAM), a regular file once
//   the output is complete (COPY);
// - a pipe, device or other file that is not a regular file: STREAM;
// - a name not yet taken, also the target of a dangling link: NEW;
// - a regular file with one link whose owner, group, mode, access lists and
//   other extended attributes the run can all give its stage, in a
//   directory where the run may rename it: RENAME;
// - any other regular file the user may write (another owner's, several
//   links, an unwritable or sticky directory, attributes the run cannot
//   set): COPY, which keeps its inode, owner, mode, attributes and links.
//   The copy waits for the file's lock (an open-file-description lock), so
//   two runs never copy into one file at once, and runs with every signal
//   that can be held back held back.
// A link, on the way to the directory as much as the last one, is followed
// only where the kernel's rule against links in sticky world-writable
// directories would let an ordinary open follow it.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

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

// Null when the output cannot be written there.
OutputFile* open_output_file(const char* path);
// Writes all of `bytes` to the output, going on after an interrupted write;
// false when the output takes no more (a full device, a file-size limit).
bool write_output(OutputFile* out, const char* bytes, size_t size);
// Puts the complete output in place and releases `out`, whatever the result:
// 0, or -1 when it could not be finished. Only a failure during a COPY's copy
// leaves the file changed; every other failure leaves it as it was.
int close_output_file(OutputFile* out);
// Removes whatever was written and releases `out`. Safe at any moment, also
// from an exit handler, and on null.
void discard_output_file(OutputFile* out);
// Puts two complete outputs in place as one (`second` may be null); each
// is then closed with close_output_file, which only lets go of it. No
// signal that can be held back is taken from the first placement to the
// end of the second: one that arrives ends the process once both are in
// place. The one whose placement can be taken back (a new name, or a rename
// where the file system can exchange two names) goes first, and the one
// whose cannot (a COPY) last; where both can, a failure leaves both as they
// were. Null, or the output that could not be put in place.
OutputFile* place_output_files(OutputFile* first, OutputFile* second);

// Whether two output names lead to one file, followed as open_output_file
// follows them: the same text; the same existing file however it is named
// (through links, by another hard link, as /dev/fd/N of a descriptor open
// on it); or, for a file not there yet, the same name in the same directory.
bool same_output_file(const char* a, const char* b);
// Whether an output name leads to the existing file `file` describes (its
// device and inode): a file the run reads, or standard output.
bool output_names_file(const char* path, const struct stat& file);

struct OutputFileDiscard {
  void operator()(OutputFile* out) const { discard_output_file(out); }
};
using OutputFilePtr = std::unique_ptr<OutputFile, OutputFileDiscard>;

// An output written through a buffer, so each write carries many lines. The
// first failed write marks it failed, and nothing more is written after.
// A staged output's full blocks are written by a second thread while the
// next one fills (module outputbuffer); a stream's are written at once. A
// failed write shows in `failed` at a later pass or flush.
struct OutputFlusher;
struct OutputFlusherStop {
  void operator()(OutputFlusher* flusher) const;  // waits for its last write
};

struct OutputBuffer {
  OutputFilePtr output;
  std::unique_ptr<char[]> data;
  size_t capacity = 0;
  size_t used = 0;
  bool failed = false;
  // Declared after `output`, so that it stops before the output goes.
  std::unique_ptr<OutputFlusher, OutputFlusherStop> flusher;
};

// Takes `out` (false, and nothing taken, when it is null) and a buffer of
// `capacity` bytes.
bool open_output_buffer(OutputBuffer& buf, OutputFile* out, size_t capacity);
// Hands what the buffer holds on to be written, and empties it.
void pass_output_buffer(OutputBuffer& buf);
// Writes what the buffer holds and waits until every byte handed on is
// written; false once the output has failed.
bool flush_output_buffer(OutputBuffer& buf);
// Flushes and stops the second thread, so that only putting the output in
// place is left; false once the output has failed.
bool finish_output_buffer(OutputBuffer& buf);
// Flushes and puts the complete output in place; 0, or -1 as close_output_file.
int close_output_buffer(OutputBuffer& buf);
// A text longer than the room left: passes the buffer on, then buffers the
// text or writes it.
void put_output_long(OutputBuffer& buf, std::string_view text);

// Room for `size` more bytes at the end of what the buffer holds, flushing
// it first when they would not fit; null when `size` exceeds the whole
// buffer. The caller fills at most `size` bytes and adds what it kept to
// `used`. A failed output still gives room; what is put there goes nowhere.
inline char* output_room(OutputBuffer& buf, size_t size) {
  if (size > buf.capacity - buf.used) {
    if (size > buf.capacity) return nullptr;
    pass_output_buffer(buf);
  }
  return buf.data.get() + buf.used;
}

inline void put_output(OutputBuffer& buf, std::string_view text) {
  // An empty text may be a view with no storage at all; memcpy must not be
  // handed its null pointer.
  if (text.empty()) return;
  if (text.size() > buf.capacity - buf.used) return put_output_long(buf, text);
  std::memcpy(buf.data.get() + buf.used, text.data(), text.size());
  buf.used += text.size();
}
