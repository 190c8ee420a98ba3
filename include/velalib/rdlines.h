// The continued-line reader: one logical line at a time from a stream, with
// comments dropped and lines ending in a backslash joined to the next.
#pragma once

#include <cstdio>

// Reads the next logical line into buf (at most maxlen characters); 0, or -1
// at end of file.
int rdlines(FILE* stream, char* buf, int maxlen);
int first_char(const char* s);  // index of the first non-blank byte
int is_continued(char* s);
