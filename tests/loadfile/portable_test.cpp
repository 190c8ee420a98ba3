// The reader's plain line search and byte comparison, the ones built where
// there is no SSE2. They are compiled here on every machine, in a namespace
// of their own so that they stand beside the library's vector ones.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include <loadfile/loadfile.h>
#include <loadfile/loadline.h>

#undef __SSE2__
namespace plain_path {
#include "loadblock.h"
}  // namespace plain_path

namespace {

// Bytes with newlines at irregular places, and slack to read past them.
std::string sample_bytes() {
  std::string bytes(64 + 2 * plain_path::kLoadSlack, 'x');
  for (std::size_t i = 0; i < bytes.size(); i += 1 + i % 7) bytes[i] = '\n';
  return bytes;
}

TEST(PlainPath, FindsEveryNewline) {
  const std::string bytes = sample_bytes();
  for (int from = 0; from < 64; ++from) {
    std::uint64_t expected = 0;
    for (int i = 0; i < 64; ++i)
      if (bytes[static_cast<std::size_t>(from + i)] == '\n') expected |= std::uint64_t{1} << i;
    EXPECT_EQ(plain_path::load_newline_bits(bytes.data() + from), expected) << from;
    for (int reach = 0; reach <= 64; ++reach) {
      std::size_t found =
          std::string_view(bytes.data() + from, static_cast<std::size_t>(reach)).find('\n');
      int at = found == std::string_view::npos ? -1 : static_cast<int>(found);
      EXPECT_EQ(plain_path::find_load_newline(bytes.data() + from, reach), at) << from;
    }
  }
}

TEST(PlainPath, ComparesNamesByteForByte) {
  const std::string a = sample_bytes();
  for (int n = 0; n <= 64; ++n) {
    std::string b = a;
    EXPECT_TRUE(plain_path::same_load_bytes(a.data(), b.data(), n)) << n;
    if (n == 0) continue;
    b[static_cast<std::size_t>(n - 1)] = 'y';
    EXPECT_FALSE(plain_path::same_load_bytes(a.data(), b.data(), n)) << n;
  }
}

}  // namespace
