#include <loadfile/buffer.h>

#include <climits>
#include <cstring>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "../../src/loadfile/storage.h"

TEST(CharBuf, CapacityBelowOneIsTakenAsHundred) {
  for (int n : {0, -5}) {
    CharBuf buf;
    init_char_buf(buf, n);
    EXPECT_EQ(buf.capacity, 100);
    EXPECT_EQ(buf.increment, 100);
    EXPECT_EQ(put_char_buf(buf, std::string(100, 'x').c_str()), 0);
    EXPECT_EQ(buf.capacity, 200);
  }
}

// A buffer that was never set up, or was freed, is empty with nothing
// reserved, and grows from the default capacity on the first string.
TEST(CharBuf, UnsetOrFreedBufferGrowsFromTheDefault) {
  CharBuf buf;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(put_char_buf(buf, "ab"), 0);
    EXPECT_EQ(buf.capacity, 100);
    EXPECT_STREQ(buf.data, "ab");
    free_char_buf(buf);
    EXPECT_EQ(buf.data, nullptr);
    EXPECT_EQ(buf.used + buf.capacity + buf.increment + buf.allocated, 0);
  }
}

// Setting up a buffer that has grown starts it afresh: its old storage goes,
// and the new reservation is what growing is measured against.
TEST(Buffers, InitialisingAGrownBufferStartsItAfresh) {
  CharBuf chars;
  init_char_buf(chars, 4);
  put_char_buf(chars, std::string(300, 'a').c_str());
  init_char_buf(chars, 8);
  EXPECT_EQ(chars.used, 0);
  EXPECT_EQ(chars.capacity, 8);
  EXPECT_EQ(chars.allocated, 8);
  const std::string text(40, 'b');
  EXPECT_EQ(put_char_buf(chars, text.c_str()), 0);
  EXPECT_EQ(chars.capacity, 48);
  EXPECT_EQ(std::string(chars.data), text);
  free_char_buf(chars);

  IntBuf ints;
  init_int_buf(ints, 2);
  for (int i = 0; i < 50; ++i) put_int_buf(ints, i);
  init_int_buf(ints, 3);
  EXPECT_EQ(ints.used, 0);
  EXPECT_EQ(ints.allocated, 3);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(put_int_buf(ints, 10 * i), i);
  EXPECT_EQ(ints.capacity, 9);
  EXPECT_EQ(ints.data[6], 60);
  free_int_buf(ints);
}

TEST(CharBuf, GrowsLinearlyByIncrementBeforeEveryByte) {
  CharBuf buf;
  init_char_buf(buf, 10);
  EXPECT_EQ(put_char_buf(buf, "abcdefghijklmnopqrstuvwxy"), 0);  // 25 characters
  EXPECT_EQ(buf.used, 26);
  EXPECT_EQ(buf.capacity, 30);
  EXPECT_GE(buf.allocated, buf.capacity);
  EXPECT_STREQ(buf.data, "abcdefghijklmnopqrstuvwxy");

  // Filling to exactly 30 does not grow; the next byte does.
  EXPECT_EQ(put_char_buf(buf, "abc"), 26);
  EXPECT_EQ(buf.capacity, 30);
  EXPECT_EQ(put_char_buf(buf, ""), 30);  // the empty string is its NUL alone
  EXPECT_EQ(buf.used, 31);
  EXPECT_EQ(buf.capacity, 40);
}

TEST(CharBuf, ReservesGeometricallyUnderLinearCapacity) {
  CharBuf buf;
  init_char_buf(buf, 10);
  int reservations = 0;
  long long last = buf.allocated;
  for (int i = 0; i < 1000000; ++i) {
    put_char_buf(buf, "x");
    if (buf.allocated != last) ++reservations;
    last = buf.allocated;
  }
  EXPECT_EQ(buf.used, 2000000);
  EXPECT_EQ(buf.capacity, 2000000);
  EXPECT_LT(reservations, 60);  // one per increment would be 199,999
}

TEST(CharBuf, CopiesAStringFromItsOwnStorageWhileGrowing) {
  CharBuf buf;
  init_char_buf(buf, 8);
  int first = put_char_buf(buf, "hello");
  int copy = put_char_buf(buf, buf.data + first, 5);
  EXPECT_STREQ(buf.data + copy, "hello");
  EXPECT_EQ(buf.capacity, 16);
}

TEST(CharBuf, TopTellsWhetherAStringIsLast) {
  CharBuf buf;
  init_char_buf(buf, 0);
  put_char_buf(buf, "ab");
  EXPECT_EQ(top_char_buf(buf, 0), 2);
  put_char_buf(buf, "cde");
  EXPECT_EQ(top_char_buf(buf, 0), -1);
  EXPECT_EQ(top_char_buf(buf, 3), 6);
  EXPECT_EQ(top_char_buf(buf, -1), -1);
  EXPECT_EQ(top_char_buf(buf, buf.used), -1);
}

TEST(CharBuf, RefusesToGrowPastThirtyTwoBitOffsets) {
  CharBuf buf;
  init_char_buf(buf, 16);
  // Pretend to be nearly full; the guard must act before any byte is touched.
  buf.used = buf.capacity = INT_MAX - 4;
  EXPECT_EQ(put_char_buf(buf, "abcd"), -1);
  EXPECT_EQ(buf.used, INT_MAX - 4);
  EXPECT_EQ(buf.capacity, INT_MAX - 4);
  buf.used = 0;
  buf.capacity = 16;
}

TEST(IntBuf, AppendsAndGrowsByIncrement) {
  IntBuf buf;
  init_int_buf(buf, 3);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(put_int_buf(buf, 10 * i), i);
  EXPECT_EQ(buf.capacity, 9);
  EXPECT_EQ(buf.data[6], 60);
  buf.used = INT_MAX;  // full: refused, nothing written
  EXPECT_EQ(put_int_buf(buf, 1), -1);
  buf.used = 7;
}

TEST(Buffers, RunningOutOfMemoryEndsTheProcessWithOneLine) {
  // The line goes to standard output; send that to standard error to see it.
  EXPECT_EXIT(
      {
        dup2(2, 1);
        out_of_memory();
      },
      testing::ExitedWithCode(1), "^Cannot allocate memory\n$");
}
