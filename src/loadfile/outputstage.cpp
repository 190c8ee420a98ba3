// Staging files and the three ways the finished output leaves them.

#include "outputstage.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <string>

namespace {

constexpr size_t kCopyBlock = 1 << 20;

// The name under which the process reaches its descriptor `fd`.
std::string self_name(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

// Six characters that make a temporary name hard to guess.
std::string random_suffix() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6];
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    unsigned long long mix = static_cast<unsigned long long>(time(nullptr)) * 2654435761u ^
                             static_cast<unsigned long long>(getpid()) << 20 ^
                             static_cast<unsigned long long>(clock());
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(mix >>= 7);
  }
  std::string suffix;
  for (unsigned char b : bytes) suffix += kChars[b % (sizeof kChars - 1)];
  return suffix;
}

// Where `to` stands after the copy: its own position, or its end when it
// appends.
off_t copy_start(int to, bool over) {
  if (over) return 0;
  int flags = fcntl(to, F_GETFL);
  struct stat st {};
  if (flags >= 0 && (flags & O_APPEND) && fstat(to, &st) == 0) return st.st_size;
  off_t at = lseek(to, 0, SEEK_CUR);
  return at < 0 ? 0 : at;
}

// False when `to` cannot take `size` more bytes from `start` on: past the
// file-size limit, or no room on its file system.
bool room_for(int to, off_t start, off_t size) {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<unsigned long long>(start) + static_cast<unsigned long long>(size) >
          static_cast<unsigned long long>(limit.rlim_cur))
    return false;
  if (size > 0 && fallocate(to, FALLOC_FL_KEEP_SIZE, start, size) != 0) {
    // Only a refusal for want of room counts; a file system that cannot
    // reserve ahead is written all the same.
    if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) return false;
  }
  return true;
}

// Copies by hand where the kernel will not copy between the two files
// (another file system type, a descriptor that appends).
bool copy_by_hand(int stage, off_t& in, off_t size, int to, off_t* out) {
  std::unique_ptr<char[]> block(new char[kCopyBlock]);
  while (in < size) {
    ssize_t got = pread(stage, block.get(), kCopyBlock, in);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    for (ssize_t done = 0; done < got;) {
      ssize_t put = out != nullptr ? pwrite(to, block.get() + done, got - done, *out)
                                   : write(to, block.get() + done, got - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
      if (out != nullptr) *out += put;
    }
    in += got;
  }
  return true;
}

}  // namespace

int open_unnamed_stage(int dir, mode_t mode) {
  int fd = openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
  if (fd >= 0 && access(self_name(fd).c_str(), F_OK) != 0) {
    close(fd);
    errno = EOPNOTSUPP;
    return -1;
  }
  return fd;
}

std::string temp_name(std::string_view name) {
  // Kept within the file name limit.
  std::string temp = ".";
  temp += name.substr(0, 200);
  temp += '.';
  temp += random_suffix();
  return temp;
}

int open_named_stage(int dir, std::string_view name, mode_t mode, std::string& temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = temp_name(name);
    int fd = openat(dir, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool link_stage(int fd, int dir, const char* name) {
  return linkat(AT_FDCWD, self_name(fd).c_str(), dir, name, AT_SYMLINK_FOLLOW) == 0;
}

bool copy_stage(int stage, int to, bool over) {
  struct stat st {};
  if (fstat(stage, &st) != 0) return false;
  off_t size = st.st_size;
  off_t start = copy_start(to, over);
  if (!room_for(to, start, size)) return false;

  off_t in = 0;
  off_t out = 0;
  off_t* at = over ? &out : nullptr;  // else `to`'s own position
  while (in < size) {
    ssize_t done = copy_file_range(stage, &in, to, at, static_cast<size_t>(size - in), 0);
    if (done < 0 && errno == EINTR) continue;
    if (done > 0) continue;
    if (done == 0) return false;  // the stage is shorter than it was
    if (!copy_by_hand(stage, in, size, to, at)) return false;
  }
  return !over || ftruncate(to, size) == 0;
}
