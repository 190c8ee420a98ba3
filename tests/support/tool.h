// The built tool, run from the end-to-end tests: in a directory of the
// test's own, without a shell (so wildcards reach the tool as typed), with
// its standard output, standard error and exit status captured.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/process.h"

namespace vela_test {

// The tool as built.
const fs::path& tool_path();

enum class RunAs {
  caller,  // the test's own user
  nobody,  // the unprivileged user, when the tests run as root
};

// Runs the tool in `dir` with `args`. `started` runs in the test while the
// tool runs.
Outcome run_tool(const fs::path& dir, const std::vector<std::string>& args,
                 RunAs who = RunAs::caller, const std::function<void(pid_t)>& started = {});

}  // namespace vela_test
