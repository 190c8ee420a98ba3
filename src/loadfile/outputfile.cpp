// The output file: choosing the route (see outputfile.h), staging, and
// putting the finished output in place.
//
// The promise: a run leaves either the complete new output or everything as
// it was, and never destroys what the user did not ask it to replace, nor
// lets anyone reach what they could not. So the output is written into a
// stage first wherever it replaces or creates a file, and the step that
// puts it in place runs with the signals held back, whole. Only a COPY's
// copy can fail half way (no room was reserved on the file system, or the
// disk failed); it is then reported. Nothing is forced to disk: a crash of
// the system may lose what it had not yet written.

#include <loadfile/outputfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string_view>
#include <tuple>
#include <utility>

#include "outputaccess.h"
#include "outputguard.h"
#include "outputplace.h"
#include "outputstage.h"

bool output_unnamed_staging = true;
void (*output_copy_hook)() = nullptr;

namespace {

// True when the directory or its file system lacks unnamed files, as
// opposed to refusing any new file.
bool lacks_unnamed_files(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// A stage beside `out->name` in `out->dir`: unnamed where it can be, else
// under an armed temporary name. -1 with errno set.
int stage_beside(OutputFile* out, mode_t mode) {
  if (output_unnamed_staging) {
    int fd = open_unnamed_stage(out->dir, mode);
    if (fd >= 0 || !lacks_unnamed_files(errno)) return fd;
  }
  SignalsHeld held;
  int fd = open_named_stage(out->dir, out->name, mode, out->temp);
  if (fd >= 0) {
    out->armed = arm_output_name(out->dir, out->temp.c_str());
  } else {
    out->temp.clear();
  }
  return fd;
}

// Takes the stage's temporary name away, so it serves as a stage that is
// copied from and never put in place.
void unname_stage(OutputFile* out) {
  if (out->temp.empty()) return;
  SignalsHeld held;
  unlinkat(out->dir, out->temp.c_str(), 0);
  disarm_output_name(out->armed);
  out->armed = -1;
  out->temp.clear();
}

// A stage for a COPY, which is never put in place by name: in the target's
// own directory if the run may write there, else in /tmp.
int stage_apart(OutputFile* out) {
  FdOwner tmp(open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC));
  const int dirs[] = {out->dir, tmp.get()};
  int fd = -1;
  for (int dir : dirs) {
    if (fd < 0 && dir >= 0 && output_unnamed_staging) fd = open_unnamed_stage(dir, 0600);
  }
  for (int dir : dirs) {
    if (fd >= 0 || dir < 0) continue;
    SignalsHeld held;
    std::string temp;
    fd = open_named_stage(dir, out->name.empty() ? "output" : out->name, 0600, temp);
    if (fd >= 0) unlinkat(dir, temp.c_str(), 0);
  }
  return fd;
}

// The directory the file behind descriptor `fd` was opened in, as a place
// to stage its output on the same file system; -1 when it is not known.
int directory_behind(int fd) {
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  std::string path(PATH_MAX, '\0');
  ssize_t length = readlink(self, path.data(), path.size());
  if (length <= 0 || path[0] != '/') return -1;
  path.resize(static_cast<size_t>(length));
  path.resize(path.rfind('/') + 1);
  return open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

bool open_descriptor(OutputFile* out, int fd) {
  int flags = fcntl(fd, F_GETFL);
  struct stat st {};
  if (flags < 0 || (flags & O_PATH) || (flags & O_ACCMODE) == O_RDONLY || fstat(fd, &st) != 0)
    return false;
  // What the caller has buffered for its standard output comes first.
  if (fd == STDOUT_FILENO) std::fflush(stdout);
  out->borrowed = true;
  if (!S_ISREG(st.st_mode)) {
    out->route = OUTPUT_STREAM;
    out->fd = fd;
    return true;
  }
  out->route = OUTPUT_COPY;
  out->target = fd;
  out->dir = directory_behind(fd);
  out->fd = stage_apart(out);
  return out->fd >= 0;
}

// In a sticky directory only the file's owner, the directory's owner or
// the superuser may rename over a file.
bool sticky_refuses(const struct stat& dir, const struct stat& file) {
  uid_t me = geteuid();
  return (dir.st_mode & S_ISVTX) && me != 0 && me != file.st_uid && me != dir.st_uid;
}

bool open_existing(OutputFile* out, const OutputPlace& place) {
  // The tool set has always opened the output for writing: what the user
  // may not write is refused, and what the user may write is written.
  out->target = openat(out->dir, out->name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (out->target < 0 || fstat(out->target, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_ino != place.st.st_ino || st.st_dev != place.st.st_dev)
    return false;
  if (st.st_nlink == 1 && !sticky_refuses(place.dir_st, st)) {
    out->fd = stage_beside(out, 0600);
    if (out->fd >= 0 && give_access(out->fd, out->target, st)) {
      out->route = OUTPUT_RENAME;
      return true;
    }
    unname_stage(out);
  }
  out->route = OUTPUT_COPY;
  if (out->fd < 0) out->fd = stage_apart(out);
  return out->fd >= 0;
}

// Gives the unnamed stage a fresh temporary name in `out->dir`.
bool name_stage(OutputFile* out) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = temp_name(out->name);
    if (link_stage(out->fd, out->dir, temp.c_str())) {
      out->temp = std::move(temp);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Renames the stage, which has a name, over `out->name`.
bool rename_stage(OutputFile* out) {
  if (renameat(out->dir, out->temp.c_str(), out->dir, out->name.c_str()) != 0) return false;
  disarm_output_name(out->armed);
  out->armed = -1;
  out->temp.clear();
  return true;
}

// Waits for the lock of a COPY's file, so that no two runs copy into one
// file at once: the later one copies only when the earlier is done, and the
// file ends as one complete output. An open-file-description lock, which
// the file's other users' whole-file locks (flock) do not meet. Taken while
// signals still reach the run, so a run left waiting can be stopped; a file
// system without locks is copied into all the same.
void lock_target(int target) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;  // the whole file, however long it grows
  while (fcntl(target, F_OFD_SETLKW, &lock) != 0 && errno == EINTR) {
  }
}

void unlock_target(int target) {
  struct flock lock {};
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  fcntl(target, F_OFD_SETLK, &lock);
}

// Copies the complete output into a COPY's file. Runs with every signal
// held back that can be, and the file locked.
bool copy_in(OutputFile* out) {
  if (output_copy_hook != nullptr) output_copy_hook();
  return copy_stage(out->fd, out->target, !out->borrowed);
}

// The output is complete: put it in place. Runs with the signals held.
bool put_in_place(OutputFile* out) {
  switch (out->route) {
    case OUTPUT_STREAM:
      return true;
    case OUTPUT_COPY:
      return copy_in(out);
    case OUTPUT_NEW:
      if (out->temp.empty() && link_stage(out->fd, out->dir, out->name.c_str())) return true;
      // The name was taken meanwhile: replaced, as a rename replaces.
      break;
    case OUTPUT_RENAME:
      break;
  }
  if (out->temp.empty() && !name_stage(out)) return false;
  if (rename_stage(out)) return true;
  // The directory refused the rename after all: the file is written into.
  if (out->route != OUTPUT_RENAME) return false;
  unname_stage(out);
  lock_target(out->target);
  bool copied = copy_stage(out->fd, out->target, true);
  unlock_target(out->target);
  return copied;
}

// How a placement is taken back.
enum class Undo {
  none,
  unlink,    // the output took a name not taken before: the name goes
  exchange,  // the output and the file it replaced swapped names (`temp`)
};

bool undoable_route(const OutputFile* out) {
  return out->route == OUTPUT_NEW || out->route == OUTPUT_RENAME;
}

// Puts `out`, a NEW or RENAME, in place so that it can be taken back:
// a new name by linking, a file replaced by exchanging names with it, so
// that the replaced file stays under the stage's temporary name until the
// placement is kept. Undo::none when it failed (`unsupported` when only the
// exchange was refused, by a file system that lacks it: the output can
// then only be put in place for good).
Undo place_undoably(OutputFile* out, bool& unsupported) {
  unsupported = false;
  if (out->route == OUTPUT_NEW) {
    const char* name = out->name.c_str();
    bool linked = out->temp.empty() ? link_stage(out->fd, out->dir, name)
                                    : linkat(out->dir, out->temp.c_str(), out->dir, name, 0) == 0;
    if (linked) {
      unname_stage(out);
      return Undo::unlink;
    }
    if (errno != EEXIST) return Undo::none;
    // The name was taken meanwhile: replaced, as a rename replaces.
  }
  if (out->temp.empty() && !name_stage(out)) return Undo::none;
  if (renameat2(out->dir, out->temp.c_str(), out->dir, out->name.c_str(), RENAME_EXCHANGE) == 0)
    return Undo::exchange;
  unsupported = errno == EINVAL || errno == ENOSYS;
  return Undo::none;
}

void take_back(OutputFile* out, Undo undo) {
  if (undo == Undo::unlink) unlinkat(out->dir, out->name.c_str(), 0);
  if (undo == Undo::exchange)
    renameat2(out->dir, out->temp.c_str(), out->dir, out->name.c_str(), RENAME_EXCHANGE);
  // The stage, under its temporary name again, goes when `out` is discarded.
}

void keep(OutputFile* out, Undo undo) {
  // The replaced file, now under the temporary name, goes.
  if (undo == Undo::exchange) unname_stage(out);
}

// Both outputs complete: puts them in place as one. Runs with the signals
// held.
OutputFile* place_as_one(OutputFile* a, OutputFile* b) {
  if (!undoable_route(a) && undoable_route(b)) std::swap(a, b);
  bool unsupported = false;
  Undo undo = undoable_route(a) ? place_undoably(a, unsupported) : Undo::none;
  if (undo == Undo::none && undoable_route(a) && !unsupported) return a;
  if (undo == Undo::none) {
    // `a` can only be put in place for good: `b` first, if it can be
    // taken back.
    if (undoable_route(b)) {
      undo = place_undoably(b, unsupported);
      if (undo == Undo::none && !unsupported) return b;
      if (undo != Undo::none) {
        if (!put_in_place(a)) {
          take_back(b, undo);
          return a;
        }
        keep(b, undo);
        return nullptr;
      }
    }
    // Neither can be taken back.
    if (!put_in_place(a)) return a;
    return put_in_place(b) ? nullptr : b;
  }
  if (!put_in_place(b)) {
    take_back(a, undo);
    return b;
  }
  keep(a, undo);
  return nullptr;
}

}  // namespace

OutputFile* open_output_file(const char* path) {
  OutputFilePtr out(new OutputFile);
  hold_output_signals();
  out->holds_signals = true;
  OutputPlace place;
  if (!find_output_place(path, place)) return nullptr;
  if (place.descriptor >= 0)
    return open_descriptor(out.get(), place.descriptor) ? out.release() : nullptr;
  out->dir = place.dir;
  out->name = place.name;
  if (!place.exists) {
    out->route = OUTPUT_NEW;
    out->fd = stage_beside(out.get(), 0666);
    return out->fd >= 0 ? out.release() : nullptr;
  }
  if (S_ISDIR(place.st.st_mode)) return nullptr;
  if (S_ISREG(place.st.st_mode)) return open_existing(out.get(), place) ? out.release() : nullptr;
  // A FIFO, a device: written as it goes, as it always was.
  out->route = OUTPUT_STREAM;
  out->fd = openat(out->dir, out->name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  return out->fd >= 0 ? out.release() : nullptr;
}

bool write_output(OutputFile* out, const char* bytes, size_t size) {
  while (size > 0) {
    ssize_t done = write(out->fd, bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

OutputFile* place_output_files(OutputFile* first, OutputFile* second) {
  if (first == nullptr || first->placed) std::swap(first, second);
  if (second != nullptr && second->placed) second = nullptr;
  if (first == nullptr) return nullptr;
  // The locks in one order, the files' own, so that two runs that copy
  // into the same two files never wait for each other.
  OutputFile* copies[2] = {first->route == OUTPUT_COPY ? first : nullptr,
                           second != nullptr && second->route == OUTPUT_COPY ? second : nullptr};
  auto identity = [](const OutputFile* out) {
    struct stat st {};
    fstat(out->target, &st);
    return std::make_tuple(st.st_dev, st.st_ino);
  };
  if (copies[0] != nullptr && copies[1] != nullptr && identity(copies[1]) < identity(copies[0]))
    std::swap(copies[0], copies[1]);
  for (OutputFile* out : copies) {
    if (out != nullptr) lock_target(out->target);
  }
  OutputFile* failed = nullptr;
  {
    SignalsHeld held(HeldSignals::all);
    if (second == nullptr) {
      failed = put_in_place(first) ? nullptr : first;
    } else {
      failed = place_as_one(first, second);
    }
    for (OutputFile* out : copies) {
      if (out != nullptr) unlock_target(out->target);
    }
  }
  if (failed == nullptr) {
    first->placed = true;
    if (second != nullptr) second->placed = true;
  }
  return failed;
}

int close_output_file(OutputFile* out) {
  OutputFilePtr owned(out);
  if (!out->placed && place_output_files(out, nullptr) != nullptr) return -1;
  if (out->route == OUTPUT_STREAM && !out->borrowed) {
    int fd = out->fd;
    out->fd = -1;
    if (close(fd) != 0) return -1;
  }
  if (out->route == OUTPUT_COPY && !out->borrowed) {
    int target = out->target;
    out->target = -1;
    if (close(target) != 0) return -1;
  }
  return 0;
}

void discard_output_file(OutputFile* out) {
  if (out == nullptr) return;
  unname_stage(out);
  bool stream_borrowed = out->borrowed && out->route == OUTPUT_STREAM;
  if (out->fd >= 0 && !stream_borrowed) close(out->fd);
  if (out->target >= 0 && !out->borrowed) close(out->target);
  if (out->dir >= 0) close(out->dir);
  if (out->holds_signals) release_output_signals();
  delete out;
}
