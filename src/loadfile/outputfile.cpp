// The output file's replacement. A regular file (or a name not yet taken)
// is written under a temporary name beside it and renamed into place only
// once it is complete and closed, so a failed run leaves any earlier file of
// that name intact; anything else that exists (a device, a FIFO) is written
// directly.
//
// While a temporary name exists, an interrupt removes it before the signal
// ends the process as it would have, so Ctrl-C leaves nothing behind. A
// signal the caller has the process ignore stays ignored. The tool writes
// one output at a time; the guard watches the latest.

#include "outputfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

namespace {

constexpr int kCleanupSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
char guarded_name[4096];
struct sigaction saved_actions[std::size(kCleanupSignals)];

extern "C" void remove_temp_and_end(int signal) {
  if (guarded_name[0] != '\0') unlink(guarded_name);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// The signals stay blocked from before the temporary file is created until
// its removal is armed, so no interrupt can slip in between.
sigset_t block_cleanup_signals() {
  sigset_t set, old;
  sigemptyset(&set);
  for (int signal : kCleanupSignals) sigaddset(&set, signal);
  sigprocmask(SIG_BLOCK, &set, &old);
  return old;
}

void guard_temp(const std::string& name) {
  if (name.size() >= sizeof guarded_name) return;
  std::memcpy(guarded_name, name.c_str(), name.size() + 1);
  for (size_t i = 0; i < std::size(kCleanupSignals); i++) {
    sigaction(kCleanupSignals[i], nullptr, &saved_actions[i]);
    if (saved_actions[i].sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = remove_temp_and_end;
    sigemptyset(&action.sa_mask);
    sigaction(kCleanupSignals[i], &action, nullptr);
  }
}

void unguard_temp() {
  if (guarded_name[0] == '\0') return;
  for (size_t i = 0; i < std::size(kCleanupSignals); i++) {
    sigaction(kCleanupSignals[i], &saved_actions[i], nullptr);
  }
  guarded_name[0] = '\0';
}

// Makes the temporary file beside `out->target`, with `mode`, and arms its
// removal on signals.
bool make_temp(OutputFile* out, mode_t mode, const struct stat* existing) {
  size_t slash = out->target.rfind('/');
  size_t base = slash == std::string::npos ? 0 : slash + 1;
  if (base == out->target.size()) return false;
  // Keep the temporary name within the file name limit.
  std::string_view name = std::string_view(out->target).substr(base, 200);
  std::string temp = out->target.substr(0, base);
  temp += '.';
  temp += name;
  temp += ".XXXXXX";

  sigset_t old_mask = block_cleanup_signals();
  int fd = mkstemp(temp.data());
  if (fd >= 0) {
    out->fd = fd;
    out->temp = std::move(temp);
    guard_temp(out->temp);
  }
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  if (fd < 0) return false;

  fcntl(fd, F_SETFD, FD_CLOEXEC);
  if (existing != nullptr && fchown(fd, existing->st_uid, existing->st_gid) != 0) {
    // Not permitted to give it the old owner: it stays ours, as a new file.
  }
  return fchmod(fd, mode) == 0;
}

// Decides where the file goes and opens it. A regular file (or a name not
// yet taken) gets a temporary file beside it, with the mode that writing in
// place would have given; anything else that exists is written directly.
bool open_target(OutputFile* out, const char* path) {
  out->target = path;
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    // Replace what the link points at, not the link itself.
    if (char* real = realpath(path, nullptr)) {
      out->target = real;
      std::free(real);
    } else {
      out->fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      return out->fd >= 0;
    }
  }
  const char* target = out->target.c_str();

  if (stat(target, &st) == 0) {
    if (S_ISDIR(st.st_mode)) return false;
    if (!S_ISREG(st.st_mode)) {
      out->fd = open(target, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      return out->fd >= 0;
    }
    // A file its owner has made read-only is not silently replaced.
    if (access(target, W_OK) != 0) return false;
    return make_temp(out, st.st_mode & 07777 & ~(S_ISUID | S_ISGID), &st);
  }
  if (errno != ENOENT) return false;
  mode_t mask = umask(0);
  umask(mask);
  return make_temp(out, 0666 & ~mask, nullptr);
}

}  // namespace

OutputFile* open_output_file(const char* path) {
  OutputFilePtr out(new OutputFile);
  if (!open_target(out.get(), path)) return nullptr;
  return out.release();
}

int close_output_file(OutputFile* out) {
  OutputFilePtr owned(out);
  int fd = out->fd;
  out->fd = -1;
  if (close(fd) != 0) return -1;
  if (!out->temp.empty()) {
    if (rename(out->temp.c_str(), out->target.c_str()) != 0) return -1;
    out->temp.clear();
    unguard_temp();
  }
  return 0;
}

void discard_output_file(OutputFile* out) {
  if (out == nullptr) return;
  if (out->fd >= 0) close(out->fd);
  if (!out->temp.empty()) {
    unlink(out->temp.c_str());
    unguard_temp();
  }
  delete out;
}
