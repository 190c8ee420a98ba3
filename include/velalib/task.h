// The one task of a tool of the set. Each tool defines it; the set's main
// calls it once with the argument vector, after options and wildcards.
#pragma once

void task(int nparam, char** param);

// Optional: what a tool does with its file names and options before the
// first message, the version banner, is printed. A tool whose output may be
// standard output itself points this at a function that says where the
// messages go (vela_messages_to_stderr). The set's main calls it, when set,
// once the command line is read; a tool sets it before main runs, from an
// initializer of its own. Null: nothing is done.
extern void (*task_start)(int nparam, char** param);
