// Keeps a foreign library's start-up from changing the process around it.
//
// A StartupGuard saves, when it is made, every signal disposition, the signal
// mask, the environment, the floating-point environment, errno and the working
// directory, and puts them all back when it is destroyed. In between it gives
// the start-up a quiet process:
// - every signal is held back; one that arrives meanwhile is delivered after
//   the restore, to the program's own disposition;
// - standard input and output are /dev/null, both as descriptors 0 and 1 and
//   as the C streams stdin and stdout, so that whatever the start-up does to
//   them (a seek rewinds a shared file offset, a flush or a seek on the C
//   stream moves buffered text) happens to stand-ins; the program's own
//   descriptors and streams come back untouched;
// - standard error stays as it is, so that a start-up that fails can still
//   say why, but is /dev/null too if it was closed;
// - the working directory is the root, so that no file in the user's
//   directory is read as configuration.
#pragma once

#include <cfenv>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

// The environment as "name=value" strings, in order.
std::vector<std::string> save_environ();
// Makes the environment equal to `saved` again: unsets the variables added
// since, resets the changed ones, brings back the removed ones. Entries that
// did not change keep their place and their storage.
void restore_environ(const std::vector<std::string>& saved);

class StartupGuard {
 public:
  StartupGuard();
  ~StartupGuard();
  StartupGuard(const StartupGuard&) = delete;
  StartupGuard& operator=(const StartupGuard&) = delete;

  // False when /dev/null could not be lent as standard input and output; a
  // start-up must then not run.
  bool ready() const { return ready_; }

 private:
  void lend_standard_streams();
  void return_standard_streams();

  struct sigaction actions_[NSIG];
  bool saved_action_[NSIG] = {};
  sigset_t mask_;
  fenv_t fenv_;
  std::vector<std::string> environ_;
  int cwd_ = -1;                    // the directory to come back to, or -1 if we never left
  int fd_flags_[3] = {-1, -1, -1};  // descriptor flags; -1 if closed
  int own_fd_[3] = {-1, -1, -1};    // the program's 0 and 1, kept aside
  FILE* own_stream_[2] = {};        // the program's stdin and stdout
  FILE* stand_in_[2] = {};          // what the start-up sees in their place
  bool ready_ = true;
  int errno_;
};
