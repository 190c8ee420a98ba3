// The argument vector: entry 0 the invocation name, then the file names after
// options are separated out and wildcards expanded; null-terminated.
#pragma once

constexpr int MAXPARAM = 512;
extern char* param[MAXPARAM];
extern int nparam;
extern int ngiven;  // file arguments given, also those that did not fit

void expand_param(int argc, char** argv);
// The entries of `param` are heap copies owned by the vector: free_param,
// registered at exit by the entry, releases them.
void free_param();
