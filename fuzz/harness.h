// What every harness shares: a report that would end the process unwinds to
// LLVMFuzzerTestOneInput instead, messages are kept quiet, and inputs reach
// the code under test as files, which is how the tool takes them.
#pragma once

#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include <velalib/velaerror.h>

// Thrown by the harness's vela_exit. The tool never throws; only a harness
// process unwinds, and only through code that a report interrupted.
struct HarnessExit {
  int status;
};

// Reports go nowhere and end by unwinding. The scanner's fatal failures take
// the same way out (status 2).
inline void quiet_reports() {
  vela_errhandler = [](int, char*) {};
  vela_exit = [](int status) { throw HarnessExit{status}; };
}

// A file that holds `bytes`, named by a path the code under test opens like
// any other. The memory file is reused for every input.
class InputFile {
 public:
  InputFile() : fd_(memfd_create("fuzz-input", 0)) {
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  const char* fill(std::string_view bytes) {
    if (ftruncate(fd_, 0) != 0) abort();
    for (size_t done = 0; done < bytes.size();) {
      ssize_t n = pwrite(fd_, bytes.data() + done, bytes.size() - done, done);
      if (n <= 0) abort();
      done += static_cast<size_t>(n);
    }
    return path_.c_str();
  }
  const char* path() const { return path_.c_str(); }

 private:
  int fd_;
  std::string path_;
};

// A directory of our own for files that are written and renamed into place,
// removed with what is in it when the process ends.
inline const std::string& scratch_dir() {
  static const std::string dir = [] {
    std::string pattern = "/dev/shm/rowfan-fuzz-XXXXXX";
    if (access("/dev/shm", W_OK) != 0) pattern = "/tmp/rowfan-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) abort();
    return pattern;
  }();
  static const struct Remover {
    ~Remover() { std::filesystem::remove_all(dir); }
  } remover;
  return dir;
}

// Fails the run loudly: libFuzzer records the input that got here.
#define FUZZ_CHECK(cond, what)                                              \
  do {                                                                      \
    if (!(cond)) {                                                          \
      std::fprintf(stderr, "harness check failed: %s (%s)\n", what, #cond); \
      abort();                                                              \
    }                                                                       \
  } while (0)
