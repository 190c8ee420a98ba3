// Numbered messages of the tool set. Every diagnostic passes through
// vela_message, the one place that decides where a line goes, whether the run
// is marked as failed and whether the process ends.
#include "velaerror.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "velastring.h"

const char* const error_msg[VELA_NMSG] = {
    "Unrecognized error code",
    "Cannot open file",
    "Illegal value",
    "Ambiguous value",
    "Cannot determine reference file type",
    "Unrecognized data file type",
    "Record not in linked list",
    "Unrecognized rule function",
    "Internal error: value not in list",
    "Wrote file",
    "Column not found in catalog",
    "Too many keywords in catalog line",
    "Error in date format",
    "Cannot rename file",
    "Cannot process load file",
    "Cannot write to file",
    "Unrecognized instrument name",
    "Cannot determine iraf directory",
    "Unrecognized reference file type",
    "Query variable not in list",
    "Can't break query at blank",
    "String too long for internal buffer",
    "File renamed",
    "Wrong number of arguments to task",
    "Number of widths does not match columns",
    "No throughput column found in table",
    "Recursive logical name translation",
    "No translation for logical name",
    "Column not found in table",
    "Rule file syntax error",
    "Match not found in throughput catalog",
    "Illegal value in template file field",
    "Unknown extension for reference file",
    "Cannot read file as its supposed type",
    "Could not match keywords in header",
    "Header keyword not found in file",
    "Cannot get number of rows in file",
    "File has already been expanded",
    "Contained file can't be renamed",
    "Can't generate unique file name",
    "Can't modify filenames in file",
    "No rows matched in database table",
    "VELA task installation date",
    "Option name not recognized",
    "Could not parse option",
    "Only one observation may be queried",
    "Cannot pass file name list as an arg",
    "Syntax error in query format",
    "Can't get instrument from file name",
    "Observation mode not found in list",
    "Root name not found in database",
    "Reference file not found in database",
    "Too many arguments on command line",
    "Can't add column to table",
    "Database table column name is ambiguous",
    "No translation for string in dictionary",
    "Closing quote missing from string",
    "Closing dot missing from operator",
    "Too many database tables in query",
    "Database columns not found",
};

int vela_errorflag = 0;
void (*vela_errhandler)(int level, char* text) = nullptr;
void (*vela_exit)(int status) = [](int status) { std::exit(status); };

namespace {

constexpr int kLineMax = 511;  // characters; the buffers hold one more for the NUL

// Composes "text (detail)\n", cut at kLineMax characters, and delivers it.
void report(int level, int code, const char* format, va_list args) {
  // A bad code is itself an error, whatever severity the caller asked for.
  if (code < 0 || code >= VELA_NMSG) vela_error(0, "%d", code);

  // vsnprintf, not vsprintf: a detail of any length is cut, never overrun.
  char detail[kLineMax + 1];
  std::vsnprintf(detail, sizeof detail, format, args);

  char line[kLineMax + 1];
  safecopy(line, error_msg[code], kLineMax);
  safecat(line, " (", kLineMax);
  safecat(line, detail, kLineMax);
  safecat(line, ")\n", kLineMax);
  vela_message(level, line);
}

}  // namespace

void vela_error(int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report(2, code, format, args);
  va_end(args);
  // vela_message ends the process at level 2; this only satisfies [[noreturn]].
  vela_exit(1);
  std::exit(1);
}

void vela_warn(int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report(1, code, format, args);
  va_end(args);
}

void vela_info(int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report(0, code, format, args);
  va_end(args);
}

void vela_message(int level, char* text) {
  if (vela_errhandler != nullptr) {
    vela_errhandler(level, text);
  } else {
    std::fputs(text, stdout);
    // Flushed at once, so message lines keep their place among the scanner's
    // own lines on standard error and survive a process that dies later.
    std::fflush(stdout);
  }
  if (level == 1) vela_errorflag = 1;
  if (level == 2) {
    vela_exit(1);
    std::exit(1);  // in case the replacement returned
  }
}
