// The staging file: the output is written into it first, and only the
// complete output is put in place, by giving it a name, renaming it over the
// old file, or copying it into the old file.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>

// Owns one file descriptor, closed when the owner goes; -1 holds none.
class FdOwner {
 public:
  FdOwner() = default;
  explicit FdOwner(int fd) : fd_(fd) {}
  FdOwner(FdOwner&& other) noexcept : fd_(other.release()) {}
  FdOwner& operator=(FdOwner&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~FdOwner() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// An unnamed file in the directory `dir` (O_TMPFILE), so nothing is left in
// the directory if the process dies before the output is complete. -1 with
// errno set when the directory or its file system refuses it, EOPNOTSUPP
// also when the file could not be linked in later (no /proc).
int open_unnamed_stage(int dir, mode_t mode);

// A fresh temporary name for a stage beside `name`: ".NAME.XXXXXX".
std::string temp_name(std::string_view name);

// A new file in `dir` under a temporary name, for file
// systems without unnamed files; `temp` receives the name. -1 with errno set.
// Call with the signals held back, and arm the name before they go.
int open_named_stage(int dir, std::string_view name, mode_t mode, std::string& temp);

// Gives the unnamed file `fd` the name `name` in `dir`. False with errno set
// (EEXIST when the name is taken).
bool link_stage(int fd, int dir, const char* name);

// Copies the whole of `stage` into `to`: over `to` from its start, which is
// then cut to the new length (`over`), or else at `to`'s own position, as a
// write would (a descriptor opened for appending appends). Space and the
// file-size limit are checked before the first byte is written, so a copy
// that could not be complete is not begun; false when it failed.
bool copy_stage(int stage, int to, bool over);
