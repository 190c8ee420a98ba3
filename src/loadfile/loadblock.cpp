// The load file reader's input. The file is read in blocks of 128 KiB,
// small enough to stay in the processor's cache while they are parsed, and
// each line is found with one search for its newline; the line is then
// classified, cut and cleaned where it stands. The result is the same as
// reading line by line through a buffer of 80 (at most 79 bytes per read,
// stopping after the newline): a read that ends without a newline, because
// the line is too long, holds a NUL or is the unterminated last one, is a
// bad line, and a bad line always ends the read.

#include "loadblock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include <loadfile/buffer.h>
#include <loadfile/lodstring.h>

namespace {

constexpr std::size_t kBlockSize = 1 << 17;
constexpr std::size_t kLineRead = kLoadLineRead;

// Reads more of the file into the block. What is left unread is a line
// without its newline yet, shorter than kLineRead; it moves to the front
// first. One read per call, so that a pipe hands over what it has.
void fill_load_block(LoadBlock& block) {
  char* data = block.data.get();
  block.newlines = 0;  // no newline was left, and the bytes move
  if (block.start > 0) {
    std::size_t rest = block.end - block.start;
    std::memmove(data, data + block.start, rest);
    block.nul -= block.start;
    block.end = rest;
    block.start = 0;
  }
  std::size_t room = kBlockSize - block.end;
  if (room > block.left) room = block.left;
  if (room == 0) {
    block.at_end = true;  // the limit: the end of this part of the file
    return;
  }
  for (;;) {
    ssize_t got = block.pos < 0 ? read(block.fd, data + block.end, room)
                                : pread(block.fd, data + block.end, room, block.pos);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      // A failed read ends the input as the end of the file does; the reader
      // then takes it for a bad line, so no state accepts a file cut short.
      block.at_end = true;
      block.read_failed = got < 0;
      return;
    }
    std::size_t from = block.end;
    block.end += static_cast<std::size_t>(got);
    block.left -= static_cast<std::size_t>(got);
    if (block.pos >= 0) block.pos += got;
    // A search may run past the bytes read; it then sees bytes of known value.
    std::memset(data + block.end, 0, kLoadSlack);
    // Only the first NUL matters: the line holding it is bad and the last.
    if (block.nul == from) {
      const void* nul = std::memchr(data + from, '\0', static_cast<std::size_t>(got));
      block.nul = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data)
                                 : block.end;
    }
    return;
  }
}

// Cleans [in, end) of text already clean from `first` up to `in`: a lone
// space between printing bytes stays where it stands, and nothing moves
// until a longer run of blanks or another blank byte turns up. `first` and
// end[-1] are printing bytes; kUpper folds letters in the same pass.
template <bool kUpper>
std::string_view clean_from(char* first, char* in, char* end) {
  for (; in < end; ++in) {
    char c = *in;
    if (is_blank_byte(c)) {
      if (c != ' ' || is_blank_byte(in[1])) break;  // in[1] exists: end[-1] is printing
    } else if (kUpper && c >= 'a' && c <= 'z') {
      *in = static_cast<char>(c - 'a' + 'A');
    }
  }
  char* out = in;
  while (in < end) {
    char c = *in++;
    if (is_blank_byte(c)) {
      while (is_blank_byte(*in)) ++in;  // stops at the latest at end[-1]
      c = ' ';
    } else if (kUpper && c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
    *out++ = c;
  }
  return {first, static_cast<std::size_t>(out - first)};
}

template <bool kUpper>
std::string_view clean_text(char* text, int length) {
  char* in = text;
  char* end = text + length;
  while (in < end && is_blank_byte(*in)) ++in;
  while (end > in && is_blank_byte(end[-1])) --end;
  return clean_from<kUpper>(in, in, end);
}

}  // namespace

LoadBlock::~LoadBlock() {
  if (fd >= 0) close(fd);
}

namespace {

void start_load_block(LoadBlock& block, int fd) {
  block.fd = fd;
  block.data.reset(new (std::nothrow) char[kBlockSize + kLoadSlack]);
  if (!block.data) out_of_memory();
  block.start = block.end = block.nul = 0;
  block.at_end = block.read_failed = false;
  std::memset(block.data.get(), 0, kLoadSlack);
}

}  // namespace

bool open_load_block(LoadBlock& block, const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  // A directory opens, but it is no file to read a table from.
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    fd = -1;
  }
  if (fd < 0) return false;
  start_load_block(block, fd);
  return true;
}

bool share_load_block(LoadBlock& block, const LoadBlock& from, long long pos) {
  int fd = fcntl(from.fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return false;
  adopt_load_block(block, fd, pos);
  return true;
}

void adopt_load_block(LoadBlock& block, int fd, long long pos) {
  start_load_block(block, fd);
  block.pos = pos;
}

void lift_load_limit(LoadBlock& block) {
  block.left = SIZE_MAX;
  block.at_end = block.read_failed;
}

LoadLineKind next_load_line_filling(LoadBlock& block, char** line, int* length) {
  for (;;) {
    char* from = block.data.get() + block.start;
    std::size_t avail = block.end - block.start;
    int reach = avail < kLineRead ? static_cast<int>(avail) : static_cast<int>(kLineRead);
    // The newlines of the next 64 bytes, as far as they are read; past them a
    // line may still end within reach.
    block.window = block.start;
    block.newlines = load_newline_bits(from);
    if (reach < 64) block.newlines &= (std::uint64_t{1} << reach) - 1;
    int newline = -1;
    if (block.newlines != 0) {
      newline = __builtin_ctzll(block.newlines);
      block.newlines &= block.newlines - 1;
    } else if (reach > 64) {
      newline = find_load_newline(from + 64, reach - 64);
      if (newline >= 0) newline += 64;
    }
    if (newline >= 0) {
      block.start += static_cast<std::size_t>(newline) + 1;
      if (block.nul < block.start) {  // a NUL ended the line before its newline
        block.bad = LOAD_NUL_BYTE;
        return LINE_BAD;
      }
      *line = from;
      *length = newline + 1;
      return LINE_READ;
    }
    // No newline within reach of one read: too long, or cut off at the end.
    if (avail >= kLineRead || (block.at_end && avail > 0)) {
      block.bad = avail >= kLineRead ? LOAD_LONG_LINE : LOAD_NO_NEWLINE;
      block.start = block.end;
      return LINE_BAD;
    }
    if (block.at_end) return LINE_NONE;
    fill_load_block(block);
  }
}

std::string_view clean_load_whole(char* text, int length, bool upper) {
  return upper ? clean_text<true>(text, length) : clean_text<false>(text, length);
}

std::string_view clean_load_from(char* first, char* in, char* end) {
  return clean_from<false>(first, in, end);
}
