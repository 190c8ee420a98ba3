// Child processes for tests: a program started under chosen conditions with
// its output captured, or a piece of the test run in a forked child.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vela_test {

namespace fs = std::filesystem;

// How a child ended and what it wrote.
struct Outcome {
  int status = -1;      // exit status, or 128 + signal as a shell reports it
  std::string out;      // standard output
  std::string err;      // standard error
  std::string state;    // what it wrote on descriptor 3
  int wait_status = 0;  // as waitpid reported it; not compared

  bool operator==(const Outcome& other) const {
    return status == other.status && out == other.out && err == other.err && state == other.state;
  }
};
std::ostream& operator<<(std::ostream& os, const Outcome& o);

// A user other than the caller, to run a program as.
struct User {
  uid_t uid;
  gid_t gid;
};
// The unprivileged user of the system.
User nobody();
bool running_as_root();

// The conditions a program is started under. Everything not named is as a
// shell would set it up: every signal at its default, standard input
// /dev/null, standard output and error pipes to the test, descriptor 3 a
// pipe to the test too, nothing else open.
struct Launch {
  std::vector<std::string> args{};                // after the program's own name
  std::optional<std::vector<std::string>> env{};  // unset: this process's
  std::vector<int> ignored{};                     // set to SIG_IGN before exec
  std::vector<int> blocked{};                     // blocked before exec
  std::vector<int> closed{};                      // standard descriptors closed
  bool reader_gone = false;                       // standard output a pipe nobody reads
  int stdin_fd = -1;                              // standard input, if not /dev/null
  int stdout_fd = -1;                             // standard output, if not a pipe to us
  int stderr_fd = -1;                             // standard error, if not a pipe to us
  std::vector<int> signals{};                     // sent in turn once the program says "ready"
  fs::path dir = fs::temp_directory_path();       // working directory
  // Called once the program runs, before any signal; e.g. to open a FIFO.
  std::function<void(pid_t)> started{};
  // Run as this user (its group, no supplementary groups) when the test runs
  // as root; the program must be reachable by it.
  std::optional<User> user{};
};

// Runs `program` to its end. One that is still running after 30 seconds is
// killed, and shows as status 137.
Outcome launch(const fs::path& program, const Launch& how);

// Runs `program` as `user` when the test runs as root, as the caller
// otherwise. The program, and every file that a sanitizer option of the
// environment names (suppressions=...), are copied first to where `user` can
// reach them: the test's own tree may lie in a directory that only its owner
// can enter.
Outcome launch_as(const User& user, const fs::path& program, Launch how);

// A copy of `file`, with its mode, in a directory that every user can reach.
// One copy per file and process, removed when the process ends.
const fs::path& reachable_copy(const fs::path& file);

// Runs `body` in a forked child of the test and ends that child with status
// 0 after it; a body that ends the process decides the status. Standard
// output is captured. With a `user`, the child becomes that user (its
// group, no supplementary groups) first when the test runs as root; what
// `body` opens must then be reachable by it.
Outcome run_in_child(const std::function<void()>& body, std::optional<User> user = {});

}  // namespace vela_test
