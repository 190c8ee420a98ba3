// Heap copy of a string, released by its owner with free.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "velastring.h"

char* strclone(const char* s) {
  std::size_t size = std::strlen(s) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy == nullptr) {
    // No caller can go on without its copy; stop before a null is stored.
    std::fputs("Out of memory\n", stderr);
    std::abort();
  }
  std::memcpy(copy, s, size);
  return copy;
}
