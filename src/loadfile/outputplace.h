// Where an output name leads: a descriptor of the process, or a name in a
// directory once the links on the way are followed.
#pragma once

#include <sys/stat.h>

#include <string>

struct OutputPlace {
  int descriptor = -1;  // the process's own descriptor the name stands for, or -1
  int dir = -1;         // the directory that holds `name` (an O_PATH descriptor we own)
  std::string name;     // the last part of the name, never a link
  bool exists = false;  // `name` is there; `st` then describes it
  struct stat st {};
  struct stat dir_st {};
};

// False when the output cannot go there: a directory on the way is missing,
// a link would not be followed, the name is empty or ends in a slash.
bool find_output_place(const char* path, OutputPlace& place);
