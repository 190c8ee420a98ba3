// The tool set's reports, caught in the test process: the lines the message
// routines deliver, and the end of the run that an error asks for.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <velalib/velaerror.h>
#include "support/process.h"

namespace vela_test {

// Collects the lines that the message routines deliver, so a test can check
// them by their exact text. Installing it also clears the failure flag.
struct MessageLog {
  static inline std::vector<std::string> lines;

  MessageLog() {
    lines.clear();
    vela_errorflag = 0;
    vela_errhandler = [](int, char* text) { lines.emplace_back(text); };
  }
  ~MessageLog() {
    vela_errhandler = nullptr;
    vela_errorflag = 0;
  }
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;
};

// Thrown by the test's vela_exit in place of ending the process.
struct ReportExit {
  int status;
};

// Runs `body` in this process with its reports collected; an error that
// would end the process unwinds out of `body` instead. Gives the lines
// reported as `out` and the status the run would have ended with (-1: `body`
// returned). Only for code that holds nothing outside RAII owners when it
// reports, or the unwinding leaks it.
inline Outcome catch_report(const std::function<void()>& body) {
  static std::string reported;
  struct Hooks {
    decltype(vela_errhandler) handler = vela_errhandler;
    decltype(vela_exit) exit = vela_exit;
    ~Hooks() {
      vela_errhandler = handler;
      vela_exit = exit;
    }
  } saved;
  reported.clear();
  vela_errhandler = [](int, char* text) { reported += text; };
  vela_exit = [](int status) { throw ReportExit{status}; };
  Outcome run;
  try {
    body();
  } catch (const ReportExit& end) {
    run.status = end.status;
  }
  run.out = reported;
  return run;
}

}  // namespace vela_test

// For death tests: the child's standard output goes to its standard error,
// where EXPECT_EXIT looks for the message.
#define STDOUT_TO_STDERR() (std::fflush(stdout), dup2(2, 1))
