// A small program that starts the IRAF runtime the way the tool does and then
// shows what a program can see of its process. Built twice, with and without
// the start-up (IRAF_PROBE_PLAIN), so that a test can require the two to
// behave the same.
//
//   iraf_probe state        dumps the process state to descriptor 3
//   iraf_probe info|warn|error
//                           reports through vela_info, vela_warn or vela_error
//                           and ends as the tool does
//   iraf_probe wait         says "ready" and waits for a signal
//   iraf_probe flood        writes to standard output until that fails
//
// Every mode first leaves a line in the standard output buffer and registers
// an exit handler, as the tool's main does before its task.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <velalib/irafstart.h>
#include <velalib/velaerror.h>
#include "support/process_state.h"

extern "C" char** environ;

namespace {

void at_exit() {
  std::puts("exit handler");
}

// One line per item; equal dumps mean equal states as far as the tool could
// ever tell.
void dump_state(int saved_errno) {
  std::string out;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e)
    out += std::string("env ") + *e + "\n";
  for (int sig = 1; sig < NSIG; ++sig) {
    auto action = vela_test::disposition(sig);
    if (!action) continue;
    const char* how = action->handler == SIG_DFL   ? "default"
                      : action->handler == SIG_IGN ? "ignore"
                                                   : "handler";
    out += "signal " + std::to_string(sig) + " " + how + " flags " + std::to_string(action->flags) +
           "\n";
  }
  out += "blocked";
  for (int sig : vela_test::blocked_signals()) out += " " + std::to_string(sig);
  out += "\n";
  for (int fd = 0; fd < 3; ++fd) {
    struct stat st;
    out += "fd " + std::to_string(fd) +
           (fstat(fd, &st) == 0 ? " mode " + std::to_string(st.st_mode) : std::string(" closed")) +
           "\n";
  }
  char cwd[4096];
  out += std::string("cwd ") + (getcwd(cwd, sizeof cwd) ? cwd : "?") + "\n";
  mode_t mask_bits = umask(0);
  umask(mask_bits);
  out += "umask " + std::to_string(mask_bits) + "\n";
  out += "fpe " + std::to_string(fetestexcept(FE_ALL_EXCEPT)) + "\n";
  out += "errno " + std::to_string(saved_errno) + "\n";
  // The descriptor the next open would get tells of one left open.
  int next = open("/dev/null", O_RDONLY);
  out += "next fd " + std::to_string(next) + "\n";
  if (next >= 0) close(next);
  if (write(3, out.data(), out.size()) != static_cast<ssize_t>(out.size())) std::exit(98);
}

}  // namespace

int main(int argc, char** argv) {
  std::fputs("before start-up\n", stdout);
  errno = 0;
#ifndef IRAF_PROBE_PLAIN
  c_irafinit();
#endif
  int saved_errno = errno;
  std::atexit(at_exit);
  std::string mode = argc > 1 ? argv[1] : "";

  if (mode == "state") {
    dump_state(saved_errno);
  } else if (mode == "info") {
    vela_info(9, "%s", "out.lod");
  } else if (mode == "warn") {
    vela_warn(44, "%s", "x");
  } else if (mode == "error") {
    vela_error(1, "%s", "missing.lod");
  } else if (mode == "wait") {
    std::puts("ready");
    std::fflush(stdout);
    for (;;) pause();
  } else if (mode == "flood") {
    std::string line(1000, 'x');
    line += '\n';
    for (;;) {
      if (std::fputs(line.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "write failed: %s\n", std::strerror(errno));
        return 3;
      }
    }
  } else {
    std::fprintf(stderr, "usage: iraf_probe state|info|warn|error|wait|flood\n");
    return 2;
  }
  std::puts("after");
  return vela_errorflag ? 1 : 0;
}
