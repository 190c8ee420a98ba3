// What a tool of the set says of its own use: for help+, and after the
// report of a call with the wrong number of file names. Each tool hands its
// own text from its task; the set's main knows nothing of it.
#pragma once

struct ToolUsage {
  const char* name;            // the tool, also the name of its manual page
  const char* arguments;       // what follows the name on the usage line
  const char* const* options;  // one line per option, null-terminated
  const char* version;
};

// help+ with no file name (nparam 1): prints the usage line, the options and
// the version on standard output and returns true; the task is then done.
// Otherwise false: with file names, help+ is stored without effect.
bool vela_help(const ToolUsage& usage, int nparam);

// Reports error 23 with `count` file names, which ends the process. When
// standard error is a terminal, the usage line and a pointer to the manual
// follow the report there; a script that merges the streams sees the report
// alone.
[[noreturn]] void vela_wrong_call(const ToolUsage& usage, int count);
