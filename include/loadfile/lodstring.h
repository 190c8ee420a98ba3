// String routines of the load file library, with which names and values are
// cleaned. A blank byte is one whose value, read as a signed 8-bit number, is
// 32 or less: the control characters, the space and every byte from 128 up.
#pragma once

constexpr bool is_blank_byte(char c) {
  return static_cast<signed char>(c) <= 32;
}

void strclean(char* s);  // drops leading and trailing blank bytes in place
char* strlcase(char* s);
char* strucase(char* s);
