// Running the built tool from the end-to-end tests: in a directory of the
// test's own, without a shell (so wildcards reach the tool as typed), with
// its standard output, standard error and exit status captured.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace tool {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr unsigned kTimeoutSeconds = 30;

struct Result {
  int status = -1;  // exit status, or 128 + signal
  std::string out;  // standard output
  std::string err;  // standard error
};

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_file(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string drain(int fd) {
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, n);
  close(fd);
  return text;
}

inline bool running_as_root() {
  return geteuid() == 0;
}

// Runs the tool in `dir`, as the unprivileged user when `unprivileged` and
// the tests run as root. `meanwhile` runs in the test while the tool runs.
// A tool that hangs is ended by the alarm it inherits.
inline Result run_tool(const fs::path& dir, const std::vector<std::string>& args,
                       bool unprivileged = false, const std::function<void()>& meanwhile = {}) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    if (unprivileged && running_as_root()) {
      if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
    }
    if (chdir(dir.c_str()) != 0) _exit(127);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    alarm(kTimeoutSeconds);
    std::vector<char*> argv{const_cast<char*>("rowfan")};
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ROWFAN_BIN, argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (meanwhile) meanwhile();
  Result run;
  run.err = drain(err[0]);
  run.out = drain(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// The names in a directory, sorted, so a test can see that nothing was left.
inline std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tool
