// String routines on NUL-terminated byte strings. A blank byte is one whose
// value, read as a signed 8-bit number, is 32 or less.
#pragma once

constexpr bool is_blank_byte(char c) {
  return static_cast<signed char>(c) <= 32;
}

void safecopy(char* dst, const char* src, int maxlen);
void safecat(char* dst, const char* src, int maxlen);
char* strclone(const char* s);  // heap copy; the caller releases it with free
char* itoa(int n);              // static buffer, valid until the next call
void strsplit(int sep, char* str, char** fields, int maxfields);
void unquote(char* s);
void breakfname(const char* name, char* dir, char* root, char* ext, int maxlen);

// Of the load file library.
void strclean(char* s);
char* strlcase(char* s);
char* strucase(char* s);
