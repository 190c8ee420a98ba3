// String routines of the tool set on NUL-terminated byte strings. Blank bytes
// are the load file library's (see lodstring.h).
#pragma once

#include <loadfile/lodstring.h>

void safecopy(char* dst, const char* src, int maxlen);
void safecat(char* dst, const char* src, int maxlen);
char* strclone(const char* s);  // heap copy; the caller releases it with free
char* itoa(int n);              // static buffer, valid until the next call
void strsplit(int sep, char* str, char** fields, int maxfields);
void unquote(char* s);
void breakfname(const char* name, char* dir, char* root, char* ext, int maxlen);
