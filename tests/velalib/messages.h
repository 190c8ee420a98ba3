// Collects the lines that the message routines deliver, so a test can check
// them by their exact text. Installing it also clears the failure flag.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "velaerror.h"

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

// For death tests: the child's standard output goes to its standard error,
// where EXPECT_EXIT looks for the message.
#define STDOUT_TO_STDERR() (std::fflush(stdout), dup2(2, 1))
