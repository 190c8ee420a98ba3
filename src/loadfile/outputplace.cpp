// Following an output name to the place the output goes.
//
// Names that stand for a descriptor of the process (/dev/stdout, /dev/fd/N
// and the like) are recognised as such, so the output is written through
// the descriptor as the shell set it up instead of replacing the file
// behind it. Links are followed one at a time, each from the directory it
// lies in, and only where the kernel's rule against links planted in sticky
// world-writable directories would let an ordinary open follow it, whether
// or not the machine has that rule turned on.

#include "outputplace.h"

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <string_view>

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

}  // namespace

bool find_output_place(const char* path, OutputPlace& place) {
  std::string name = path;
  int base = AT_FDCWD;  // where a relative name starts: the last link's directory
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    place.descriptor = descriptor_named(name);
    if (place.descriptor >= 0) break;
    if (name.empty() || name.back() == '/') break;
    size_t slash = name.rfind('/');
    std::string dir_name = slash == std::string::npos ? "."
                           : slash == 0               ? "/"
                                                      : name.substr(0, slash);
    int dir = openat(base, dir_name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (base != AT_FDCWD) close(base);
    base = AT_FDCWD;
    if (dir < 0) break;
    place.dir = dir;
    place.name = name.substr(slash == std::string::npos ? 0 : slash + 1);
    if (fstat(dir, &place.dir_st) != 0) break;
    struct stat st {};
    if (fstatat(dir, place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) break;
      place.exists = false;  // a new file, or the target of a dangling link
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      place.exists = true;
      place.st = st;
      return true;
    }
    if (!may_follow(place.dir_st, st)) break;
    if (on_proc(dir)) {
      // A descriptor's own link: the process's descriptor is written
      // through; any other process's is not ours to follow.
      int fd = -1;
      if (is_own_fd_dir(place.dir_st) && parse_number(place.name, fd)) place.descriptor = fd;
      break;
    }
    name = read_link(dir, place.name);
    base = dir;
    place.dir = -1;
  }
  if (base != AT_FDCWD) close(base);
  if (place.dir >= 0) {
    close(place.dir);
    place.dir = -1;
  }
  return place.descriptor >= 0;
}
