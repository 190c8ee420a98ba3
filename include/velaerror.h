// Numbered messages of the tool set. A caller names a message by its code in
// `error_msg` and adds a printf-style detail; every report is one line on
// standard output: the text, a blank, the detail in parentheses.
#pragma once

constexpr int VELA_NMSG = 60;
extern const char* const error_msg[VELA_NMSG];

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
// Delivers a composed line and applies its level.
void vela_message(int level, char* text);
