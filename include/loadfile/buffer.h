// Growable arrays under every TextList. Storage only grows; strings in a
// CharBuf are found by offset, never by address, since growth may move `data`.
#pragma once

#include <cstdlib>

// A growable array of T. Owns `data`. Counts are in elements; `capacity`
// grows by the fixed `increment`.
template <typename T>
struct GrowBuf {
  T* data = nullptr;
  int used = 0;
  int capacity = 0;
  int increment = 0;
  long long allocated = 0;  // elements really reserved; may run ahead of `capacity`

  GrowBuf() = default;
  GrowBuf(const GrowBuf&) = delete;
  GrowBuf& operator=(const GrowBuf&) = delete;
  ~GrowBuf() { std::free(data); }
};

// A growable byte array: strings are stored one after another, each with its
// NUL.
using CharBuf = GrowBuf<char>;
// A growable array of signed 32-bit integers.
using IntBuf = GrowBuf<int>;

// Running out of memory ends the process with the one line "Cannot allocate
// memory" on standard output and status 1: no caller could go on without
// the memory. Every allocation of the tool ends up here when it fails.
[[noreturn]] void out_of_memory();
// The line goes to standard error instead, for a run whose standard output
// carries its data (set with the other messages, vela_messages_to_stderr).
extern bool out_of_memory_on_stderr;

void init_char_buf(CharBuf& buf, int n);
void init_int_buf(IntBuf& buf, int n);
// Appends the bytes of s and a NUL; returns the offset of its first byte.
// s must not point into buf's own storage.
int put_char_buf(CharBuf& buf, const char* s, int len);
int put_char_buf(CharBuf& buf, const char* s);
int put_int_buf(IntBuf& buf, int value);
// Counts n more elements as used, their values the caller's to set; returns
// the offset of the first, or -1 (the buffer as it was) past INT_MAX.
int extend_char_buf(CharBuf& buf, int n);
int extend_int_buf(IntBuf& buf, int n);
// Offset of the NUL of the string at `offset` when that string is the last
// one in the buffer, else -1.
int top_char_buf(const CharBuf& buf, int offset);
void free_char_buf(CharBuf& buf);
void free_int_buf(IntBuf& buf);
