// Owners of what the C library hands out, so that every such resource of the
// libraries has one owner in sight that lets go of it on every way out.
// Private to the source tree.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

// Memory from malloc (or strclone), given back with free.
struct MallocFree {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using MallocPtr = std::unique_ptr<T, MallocFree>;

// A stream from fopen, closed.
struct FileClose {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

// A directory listing from opendir, closed.
struct DirClose {
  void operator()(DIR* listing) const { closedir(listing); }
};
using DirPtr = std::unique_ptr<DIR, DirClose>;
