// Saving and restoring the process state around a foreign start-up; see
// startguard.h for what is kept and why.
#include "startguard.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <unordered_set>

extern "C" char** environ;

namespace {

std::string_view name_of(std::string_view entry) {
  return entry.substr(0, entry.find('='));
}

// The value part of "name=value", or null for an entry without '='.
const char* value_of(const std::string& entry) {
  auto eq = entry.find('=');
  return eq == std::string::npos ? nullptr : entry.c_str() + eq + 1;
}

// Only dispositions that differ are set again: the C library marks every
// disposition it sets with the kernel's SA_RESTORER flag, its own bookkeeping
// that no program sets or reads, which is why that flag is left out of the
// comparison. The C library's headers do not name it.
#ifdef __linux__
constexpr int kRestorerFlag = 0x04000000;
#else
constexpr int kRestorerFlag = 0;
#endif

bool same_action(const struct sigaction& a, const struct sigaction& b) {
  if (a.sa_handler != b.sa_handler) return false;
  if ((a.sa_flags & ~kRestorerFlag) != (b.sa_flags & ~kRestorerFlag)) return false;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sigismember(&a.sa_mask, sig) != sigismember(&b.sa_mask, sig)) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> save_environ() {
  std::vector<std::string> entries;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) entries.emplace_back(*e);
  return entries;
}

void restore_environ(const std::vector<std::string>& saved) {
  if (save_environ() == saved) return;

  std::unordered_set<std::string_view> names;
  for (const auto& entry : saved) names.insert(name_of(entry));
  std::vector<std::string> added;
  for (const auto& entry : save_environ()) {
    if (!names.contains(name_of(entry))) added.emplace_back(name_of(entry));
  }
  for (const auto& name : added) unsetenv(name.c_str());

  for (const auto& entry : saved) {
    const char* value = value_of(entry);
    if (value == nullptr) continue;
    std::string name(name_of(entry));
    const char* now = getenv(name.c_str());
    if (now == nullptr || std::string_view(now) != value) setenv(name.c_str(), value, 1);
  }

  // A variable that was removed comes back at the end of the list; only a
  // fresh list gives back the original order.
  if (save_environ() != saved) {
    clearenv();
    for (const auto& entry : saved) {
      if (const char* value = value_of(entry)) {
        setenv(std::string(name_of(entry)).c_str(), value, 1);
      }
    }
  }
}

void StartupGuard::lend_standard_streams() {
  for (int fd = 0; fd < 3; ++fd) {
    fd_flags_[fd] = fcntl(fd, F_GETFD);
    // Above the standard three, and not passed on to a program we run.
    if (fd_flags_[fd] != -1 && fd < 2) {
      own_fd_[fd] = fcntl(fd, F_DUPFD_CLOEXEC, 3);
      // Out of descriptors: nothing may be lent over what cannot be kept.
      if (own_fd_[fd] < 0) ready_ = false;
    }
  }
  if (!ready_) return;
  // Lands on the lowest closed standard descriptor, if any, which is where it
  // is wanted anyway.
  int null = open("/dev/null", O_RDWR);
  if (null < 0) {
    ready_ = false;
    return;
  }
  dup2(null, 0);
  dup2(null, 1);
  if (fd_flags_[2] == -1) dup2(null, 2);
  if (null > 2) close(null);

  FILE** streams[2] = {&stdin, &stdout};
  const char* modes[2] = {"r", "w"};
  for (int fd = 0; fd < 2; ++fd) {
    stand_in_[fd] = fdopen(fd, modes[fd]);
    if (stand_in_[fd] == nullptr) {
      ready_ = false;
      continue;
    }
    own_stream_[fd] = *streams[fd];
    *streams[fd] = stand_in_[fd];
  }
}

void StartupGuard::return_standard_streams() {
  FILE** streams[2] = {&stdin, &stdout};
  for (int fd = 0; fd < 2; ++fd) {
    if (stand_in_[fd] == nullptr) continue;
    *streams[fd] = own_stream_[fd];
    fclose(stand_in_[fd]);
  }
  for (int fd = 0; fd < 3; ++fd) {
    if (own_fd_[fd] >= 0) {
      dup2(own_fd_[fd], fd);
      fcntl(fd, F_SETFD, fd_flags_[fd]);
      close(own_fd_[fd]);
    } else if (fd_flags_[fd] == -1) {
      close(fd);
    }
  }
}

StartupGuard::StartupGuard() : errno_(errno) {
  // Held back before anything else, so that no signal reaches a handler that
  // the start-up installs.
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &mask_);
  for (int sig = 1; sig < NSIG; ++sig) {
    actions_[sig] = {};
    saved_action_[sig] = sigaction(sig, nullptr, &actions_[sig]) == 0;
  }
  fegetenv(&fenv_);
  environ_ = save_environ();

  lend_standard_streams();

  // Leave only when there is a way back: entering the directory we are in
  // proves it (O_PATH needs no read permission, fchdir needs search
  // permission, which may have been taken away since we came).
  cwd_ = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (cwd_ >= 0 && (fchdir(cwd_) != 0 || chdir("/") != 0)) {
    close(cwd_);
    cwd_ = -1;
  }
}

StartupGuard::~StartupGuard() {
  if (cwd_ >= 0) {
    // Cannot fail: the directory was entered the same way before we left.
    [[maybe_unused]] int back = fchdir(cwd_);
    close(cwd_);
  }
  return_standard_streams();
  restore_environ(environ_);
  fesetenv(&fenv_);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (!saved_action_[sig]) continue;
    struct sigaction now = {};
    if (sigaction(sig, nullptr, &now) == 0 && same_action(now, actions_[sig])) continue;
    sigaction(sig, &actions_[sig], nullptr);
  }
  // Last: a signal that came in meanwhile now meets the program's own
  // disposition.
  sigprocmask(SIG_SETMASK, &mask_, nullptr);
  errno = errno_;
}
