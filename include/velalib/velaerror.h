// Numbered messages of the tool set. A caller names a message by its code in
// `error_msg` and adds a printf-style detail; every report is one line on
// standard output (standard error once vela_messages_to_stderr is called):
// the text, a blank, the detail in parentheses.
#pragma once

#include <cstddef>
#include <string_view>

constexpr int VELA_NMSG = 60;
extern const char* const error_msg[VELA_NMSG];

// The codes the tools of the set report by, named after their text in
// `error_msg`. The numbers are the set's and never change.
enum VelaCode : int {
  VELA_CANNOT_OPEN_FILE = 1,          // "Cannot open file"
  VELA_CANNOT_PROCESS_LOADFILE = 14,  // "Cannot process load file"
  VELA_CANNOT_WRITE_FILE = 15,        // "Cannot write to file"
  VELA_STRING_TOO_LONG = 21,          // "String too long for internal buffer"
  VELA_WRONG_ARG_COUNT = 23,          // "Wrong number of arguments to task"
  VELA_RULE_SYNTAX = 29,              // "Rule file syntax error"
  VELA_ALREADY_EXPANDED = 37,         // "File has already been expanded"
  VELA_INSTALL_DATE = 42,             // "VELA task installation date"
  VELA_OPTION_UNKNOWN = 43,           // "Option name not recognized"
  VELA_OPTION_UNPARSED = 44,          // "Could not parse option"
};

// Set to 1 by every warning; the program turns it into its exit status.
extern int vela_errorflag;
// When set, receives every composed line instead of standard output.
extern void (*vela_errhandler)(int level, char* text);

// How a report ends the process: std::exit by default. A test harness that
// must go on after an error may point it at a function that leaves by other
// means (it must not return); the tool itself never changes it.
extern void (*vela_exit)(int status);

// Level 2: prints and ends the process with status 1.
[[noreturn]] void vela_error(int code, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Level 1: prints, sets vela_errorflag and returns.
void vela_warn(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Level 0: only prints.
void vela_info(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Delivers a composed line and applies its level. A line that holds control
// bytes or passes 511 characters is delivered as vela_fit_detail shows it.
void vela_message(int level, char* text);

// Sends every message from now on, and the line of a run out of memory, to
// standard error instead of standard output: for a run whose standard
// output carries its data (an output file written there), so that no
// message lands inside the data. Call it before the first message.
void vela_messages_to_stderr();

// Writes `text` into `out` as a message shows it: control bytes other than
// the tab as escapes (\n, \r, \x1b), so it stays on one line and cannot drive
// the terminal, and, when that is longer than `width` characters, with its
// middle replaced by "..." so that both ends survive. `out` holds width + 1
// bytes; returns the characters written.
size_t vela_fit_detail(char* out, size_t width, std::string_view text);
