// Cleaning of names and values: blank bytes (is_blank_byte) dropped at
// either end and every inner run of them made one space, letters of a name
// upper-cased (upper_byte) in the same pass. One implementation serves
// strclean and the reader; the reader also has a vector path for short
// values, which finds what to do with the same rule. Private to the load
// file library.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <loadfile/lodstring.h>

// The vector path tells blank bytes by one signed comparison: a byte is
// blank exactly when it is below kBlankBound. The bound is worked out from
// is_blank_byte; when that rule is no such bound, kNoBlankBound, and the
// vector path is left out, so the plain path serves alone.
inline constexpr int kNoBlankBound = INT_MIN;

constexpr int find_blank_bound() {
  int bound = SCHAR_MIN;
  while (bound <= SCHAR_MAX && is_blank_byte(static_cast<char>(bound))) ++bound;
  if (bound == SCHAR_MIN || bound > SCHAR_MAX) return kNoBlankBound;
  for (int c = SCHAR_MIN; c <= SCHAR_MAX; ++c) {
    if (is_blank_byte(static_cast<char>(c)) != (c < bound)) return kNoBlankBound;
  }
  return bound;
}

inline constexpr int kBlankBound = find_blank_bound();

// The plain path: text[0, length) cleaned byte by byte.
std::string_view clean_load_whole(char* text, std::size_t length, bool upper);
// The cleaning of [in, end), from a text clean from `first` up to `in`;
// `first` and end[-1] are printing bytes.
std::string_view clean_load_from(char* first, char* in, char* end);

// Cleans text[0, length) in place, as strclean does on a string. With
// `upper`, letters are upper-cased in the same pass, as strucase does.
// Returns the cleaned text, which lies within text[0, length). Up to 64
// bytes past the text may be read.
//
// A value of at most 64 bytes, nearly every one, is cleaned inline from
// where its blank bytes and spaces stand, found 16 bytes at a time: they
// tell where it starts and ends and whether anything has to move.
inline std::string_view clean_load_text(char* text, int length, bool upper) {
#if defined(__SSE2__)
  if constexpr (kBlankBound != kNoBlankBound) {
    if (!upper && length <= 64) {
      const __m128i blank_below = _mm_set1_epi8(static_cast<char>(kBlankBound));
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
  }
#endif
  return clean_load_whole(text, static_cast<std::size_t>(length), upper);
}
