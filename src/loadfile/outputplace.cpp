// Following an output name to the place the output goes.
//
// Names that stand for a descriptor of the process (/dev/stdout, /dev/fd/N
// and the like) are recognised as such, so the output is written through
// the descriptor as the shell set it up instead of replacing the file
// behind it. Links are followed one at a time, each from the directory it
// lies in, and only where the kernel's rule against links planted in sticky
// world-writable directories would let an ordinary open follow it, whether
// or not the machine has that rule turned on: a link that stands for a
// directory on the way as much as the last one.

#include "outputplace.h"

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <string_view>
#include <utility>

#include "outputstage.h"

namespace {

constexpr int kMaxLinks = 40;  // as many as the kernel follows in one name
constexpr long kProcMagic = 0x9fa0;

bool parse_number(std::string_view text, int& number) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size();
}

// The descriptor that `path` names by its spelling, or -1.
int descriptor_named(std::string_view path) {
  if (path == "/dev/stdin") return 0;
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  std::string_view dir = path.substr(0, path.rfind('/') + 1);
  std::string_view rest = path.substr(dir.size());
  if (dir != "/dev/fd/" && dir != "/proc/self/fd/" && dir != "/proc/thread-self/fd/") {
    int pid = 0;
    if (!dir.starts_with("/proc/") || !dir.ends_with("/fd/") ||
        !parse_number(dir.substr(6, dir.size() - 10), pid) || pid != getpid())
      return -1;
  }
  int fd = -1;
  return parse_number(rest, fd) ? fd : -1;
}

// The kernel's rule for following a link: always when the link is not in a
// sticky world-writable directory, else only when its owner is the one who
// follows it or the directory's owner.
bool may_follow(const struct stat& dir, const struct stat& link) {
  if (link.st_uid == geteuid()) return true;
  if ((dir.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH)) return true;
  return dir.st_uid == link.st_uid;
}

bool on_proc(int dir) {
  struct statfs fs {};
  return fstatfs(dir, &fs) == 0 && fs.f_type == kProcMagic;
}

// True when `dir` is the process's own descriptor directory.
bool is_own_fd_dir(const struct stat& dir) {
  struct stat own {};
  return stat("/proc/self/fd", &own) == 0 && own.st_dev == dir.st_dev && own.st_ino == dir.st_ino;
}

std::string read_link(int dir, const std::string& name) {
  std::string target(PATH_MAX, '\0');
  ssize_t length = readlinkat(dir, name.c_str(), target.data(), target.size());
  target.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return target;
}

// Where the walk of a name is: the directory reached so far, owned, and
// what is known of it.
struct WalkDir {
  FdOwner fd;
  struct stat st {};
};

// Enters the directory `name` from `dir`; false when it is none. A link is
// never entered here: the caller follows it by its text.
bool enter(WalkDir& dir, const char* name) {
  FdOwner next(openat(dir.fd.get(), name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!next || fstat(next.get(), &dir.st) != 0) return false;
  dir.fd = std::move(next);
  return true;
}

}  // namespace

bool find_output_place(const char* path, OutputPlace& place) {
  std::string name = path;  // what is left to follow
  FdOwner base;             // where a relative `name` starts: a link's directory, or else "."
  int links = 0;
  for (;;) {
    place.descriptor = descriptor_named(name);
    if (place.descriptor >= 0) return true;
    if (name.empty() || name.back() == '/') return false;
    // The directory part is walked one directory at a time, so that every
    // link on the way, not only the last, meets the rule for following it.
    WalkDir dir;
    size_t at = 0;
    if (name.front() == '/') {
      dir.fd.reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
      at = 1;
    } else {
      dir.fd.reset(openat(base ? base.get() : AT_FDCWD, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (!dir.fd || fstat(dir.fd.get(), &dir.st) != 0) return false;
    const size_t last_slash = name.rfind('/');
    bool relinked = false;
    while (last_slash != std::string::npos && at <= last_slash) {
      size_t end = name.find('/', at);
      std::string part = name.substr(at, end - at);
      at = end + 1;
      if (part.empty() || part == ".") continue;
      struct stat st {};
      if (part != ".." && fstatat(dir.fd.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
      if (part == ".." || !S_ISLNK(st.st_mode)) {
        if (!enter(dir, part.c_str())) return false;
        continue;
      }
      if (!may_follow(dir.st, st) || ++links > kMaxLinks) return false;
      std::string target = read_link(dir.fd.get(), part);
      if (target.empty()) return false;
      name = target + "/" + name.substr(at);
      base = std::move(dir.fd);
      relinked = true;
      break;
    }
    if (relinked) continue;

    place.name = name.substr(last_slash == std::string::npos ? 0 : last_slash + 1);
    place.dir_st = dir.st;
    struct stat st {};
    if (fstatat(dir.fd.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return false;
      place.exists = false;  // a new file, or the target of a dangling link
      place.dir = dir.fd.release();
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      place.exists = true;
      place.st = st;
      place.dir = dir.fd.release();
      return true;
    }
    if (!may_follow(dir.st, st) || ++links > kMaxLinks) return false;
    if (on_proc(dir.fd.get())) {
      // A descriptor's own link: the process's descriptor is written
      // through; any other process's is not ours to follow.
      int fd = -1;
      if (is_own_fd_dir(dir.st) && parse_number(place.name, fd)) place.descriptor = fd;
      return place.descriptor >= 0;
    }
    name = read_link(dir.fd.get(), place.name);
    base = std::move(dir.fd);
  }
}
