// String routines of the load file library, with which names and values are
// cleaned, and the two byte rules of the load file format that they and the
// reader share.
#pragma once

// The blank byte rule: a byte is blank when its value, read as a signed
// 8-bit number, is 32 or less: the control characters, the space and every
// byte from 128 up. Every other byte is a printing byte. The reader (also
// its vector path), strclean and the shared library's splitters all take
// blank bytes from here.
constexpr bool is_blank_byte(char c) {
  return static_cast<signed char>(c) <= 32;
}

// The upper-casing rule: the letters a-z become A-Z and every other byte
// stays as it is, whatever the locale. Names in load files and values in
// rule files are upper-cased by it.
constexpr char upper_byte(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Drops blank bytes at both ends of `s` and makes every inner run of them
// one space, in place.
void strclean(char* s);
// Lower-case and upper-case `s` in place; both return `s`.
char* strlcase(char* s);
char* strucase(char* s);
