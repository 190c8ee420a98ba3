// Wildcard expansion of file-name arguments and the one wildcard matcher.
#pragma once

// Appends to list[*count] on, up to `limit` entries, the names the argument
// stands for, each a heap copy (strclone) owned by the caller, who releases
// it with free. Returns how many names the argument stood for, also those
// that did not fit.
int wild_expand(const char* argument, int limit, int* count, char** list);
int patmatch(const char* pattern, const char* text);
