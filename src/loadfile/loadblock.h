// The load file reader's input: the file read in large blocks and cut into
// lines in place, and the one-pass cleaning of names and values. Private to
// the load file library; the rules of a line that others share are in
// loadline.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <loadfile/loadline.h>

// The input of one read. Lines are handed out where they stand in `data`,
// so that they can be cut and cleaned in place without a copy; a line stays
// valid until the next one is asked for.
struct LoadBlock {
  int fd = -1;
  std::unique_ptr<char[]> data;
  std::size_t start = 0;  // first byte not yet handed out as a line
  std::size_t end = 0;    // end of the bytes read
  std::size_t nul = 0;    // first NUL byte at or after `start`, or `end` if none
  // The newlines among the 64 bytes from `window`, one bit each, those
  // before `start` or past `end` cleared. Windows follow one another, so
  // that every byte is searched once, not once per line.
  std::uint64_t newlines = 0;
  std::size_t window = 0;
  bool at_end = false;  // no more bytes will come
  bool read_failed = false;
  LoadReason bad = LOAD_NO_REASON;  // why the last LINE_BAD was bad
  // How many more bytes may be read: the input ends there, as at the end of
  // the file, for a read of one part of it. lift_load_limit reads on.
  std::size_t left = SIZE_MAX;
  // Where the next read starts when the block reads at positions of its own
  // (pread), so that it shares the file with another block; -1: the file's
  // own position.
  long long pos = -1;

  LoadBlock() = default;
  LoadBlock(const LoadBlock&) = delete;
  LoadBlock& operator=(const LoadBlock&) = delete;
  ~LoadBlock();
};

enum LoadLineKind {
  LINE_READ,  // a line with its newline, at most kLoadLineMax bytes before it
  LINE_BAD,   // a line too long, holding a NUL, or cut off by the end of the file
  LINE_NONE,  // nothing left: the end of the file, or a failed read
};

// Bytes that may be read past the end of the bytes in the block, or past
// the end of a name given to same_load_bytes: searches look at 16 or 64
// bytes at a time.
constexpr int kLoadSlack = 64;

// Opens `path` for reading; false when it cannot be opened or is a directory.
bool open_load_block(LoadBlock& block, const char* path);

// Reads the file of `block`, from `pos` on, in a block of its own; false
// when the descriptor cannot be had.
bool share_load_block(LoadBlock& block, const LoadBlock& from, long long pos);

// Reads the file open as `fd`, which it takes over, from `pos` on.
void adopt_load_block(LoadBlock& block, int fd, long long pos);

// Lets a block that stopped at its limit read on to the end of the file.
void lift_load_limit(LoadBlock& block);

// Bytes of a line with its newline at most: what one read takes.
constexpr int kLoadLineRead = static_cast<int>(kLoadLineMax) + 1;

// Where the first newline stands in from[0, reach), or -1; from[0, reach +
// kLoadSlack) must be readable.
inline int find_load_newline(const char* from, int reach) {
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  for (int i = 0; i < reach; i += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline)));
    if (reach - i < 16) hits &= (1u << (reach - i)) - 1;
    if (hits != 0) return i + __builtin_ctz(hits);
  }
  return -1;
#else
  const void* found = std::memchr(from, '\n', static_cast<std::size_t>(reach));
  return found != nullptr ? static_cast<int>(static_cast<const char*>(found) - from) : -1;
#endif
}

// The newlines among the 64 bytes from `from`, one bit each.
inline std::uint64_t load_newline_bits(const char* from) {
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; i += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline)));
    bits |= static_cast<std::uint64_t>(hits) << i;
  }
  return bits;
#else
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= static_cast<std::uint64_t>(from[i] == '\n') << i;
  return bits;
#endif
}

// next_load_line near the end of the bytes read, or for a long line.
LoadLineKind next_load_line_filling(LoadBlock& block, char** line, int* length);

// Cuts the next line. For LINE_READ, *line points at its first byte and
// *length counts its bytes with the newline, which is (*line)[*length - 1].
inline LoadLineKind next_load_line(LoadBlock& block, char** line, int* length) {
  char* data = block.data.get();
  if (block.newlines == 0) {
    // Every newline of the window is taken: the next 64 bytes, or those
    // from `start` when a long line ended past the window.
    std::size_t next = block.window + 64;
    if (next < block.start) next = block.start;
    if (next + 64 > block.end) return next_load_line_filling(block, line, length);
    block.window = next;
    block.newlines = load_newline_bits(data + next);
    if (block.newlines == 0) return next_load_line_filling(block, line, length);
  }
  std::size_t newline = block.window + static_cast<std::size_t>(__builtin_ctzll(block.newlines));
  std::size_t take = newline + 1 - block.start;
  if (take > static_cast<std::size_t>(kLoadLineRead)) {
    return next_load_line_filling(block, line, length);  // too long
  }
  block.newlines &= block.newlines - 1;
  char* from = data + block.start;
  block.start = newline + 1;
  if (block.nul < block.start) {  // a NUL ended the line before its newline
    block.bad = LOAD_NUL_BYTE;
    return LINE_BAD;
  }
  *line = from;
  *length = static_cast<int>(take);
  return LINE_READ;
}

// clean_load_text byte by byte, for any length.
std::string_view clean_load_whole(char* text, int length, bool upper);
// The cleaning of [in, end), from a text clean from `first` up to `in`;
// `first` and end[-1] are printing bytes.
std::string_view clean_load_from(char* first, char* in, char* end);

// Cleans text[0, length) in place, as strclean does on a string: blank bytes
// at either end dropped, every inner run of them made one space. With
// `upper`, letters are upper-cased in the same pass, as strucase does.
// Returns the cleaned text, which lies within text[0, length). Up to
// kLoadSlack bytes past the text may be read.
//
// A value of at most 64 bytes, nearly every one, is cleaned inline from
// where its blank bytes and spaces stand, found 16 bytes at a time: they
// tell where it starts and ends and whether anything has to move.
inline std::string_view clean_load_text(char* text, int length, bool upper) {
#if defined(__SSE2__)
  if (!upper && length <= 64) {
    const __m128i blank_below = _mm_set1_epi8(33);  // signed: bytes 128 to 255 too
    const __m128i space = _mm_set1_epi8(' ');
    std::uint64_t blank = 0;
    std::uint64_t spaces = 0;
    for (int i = 0; i < length; i += 16) {
      __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
      auto b = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(bytes, blank_below)));
      auto s = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, space)));
      blank |= static_cast<std::uint64_t>(b) << i;
      spaces |= static_cast<std::uint64_t>(s) << i;
    }
    std::uint64_t valid = length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
    std::uint64_t printing = ~blank & valid;
    if (printing == 0) return {text, 0};
    int first = __builtin_ctzll(printing);
    int last = 63 - __builtin_clzll(printing);
    // Within the value: blanks other than a space, and the second of two
    // blanks, are what has to move.
    std::uint64_t inside = (std::uint64_t{1} << last) - (std::uint64_t{1} << first);
    std::uint64_t unclean = ((blank & ~spaces) | (blank & (blank << 1))) & inside;
    if (unclean == 0) return {text + first, static_cast<std::size_t>(last - first + 1)};
    // The run of blanks may start one byte before; `first` is printing.
    return clean_load_from(text + first, text + __builtin_ctzll(unclean) - 1, text + last + 1);
  }
#endif
  return clean_load_whole(text, length, upper);
}

// Whether a[0, n) and b[0, n) hold the same bytes; both may be read up to
// kLoadSlack bytes further.
inline bool same_load_bytes(const char* a, const char* b, int n) {
#if defined(__SSE2__)
  for (int i = 0; i < n; i += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    unsigned differ = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xFFFF;
    if (n - i < 16) differ &= (1u << (n - i)) - 1;
    if (differ != 0) return false;
  }
  return true;
#else
  return std::memcmp(a, b, static_cast<std::size_t>(n)) == 0;
#endif
}
