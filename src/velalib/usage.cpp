// A tool's usage, from the text the tool hands over.
#include <velalib/usage.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <velalib/option.h>
#include <velalib/velaerror.h>

namespace {

const ToolUsage* hinted = nullptr;

// Runs as the process ends, first of the exit handlers: the report it
// follows is already written.
void write_hint() {
  std::fflush(stdout);
  std::fprintf(stderr, "usage: %s %s\nsee 'man %s'\n", hinted->name, hinted->arguments,
               hinted->name);
}

}  // namespace

bool vela_help(const ToolUsage& usage, int nparam) {
  def_option("help=no");
  if (std::strcmp(get_option("help"), "yes") != 0 || nparam != 1) return false;
  std::printf("usage: %s %s\n", usage.name, usage.arguments);
  for (const char* const* option = usage.options; *option != nullptr; ++option) {
    std::printf("  %s\n", *option);
  }
  std::printf("%s %s\n", usage.name, usage.version);
  if (std::fflush(stdout) != 0) vela_warn(VELA_CANNOT_WRITE_FILE, "%s", "/dev/stdout");
  return true;
}

void vela_wrong_call(const ToolUsage& usage, int count) {
  if (isatty(STDERR_FILENO) != 0) {
    hinted = &usage;
    std::atexit(write_hint);
  }
  vela_error(VELA_WRONG_ARG_COUNT, "%d", count);
}
