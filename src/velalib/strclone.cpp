// Heap copy of a string, released by its owner with free.
#include <cstdlib>
#include <cstring>

#include <loadfile/buffer.h>
#include <velalib/velastring.h>

char* strclone(const char* s) {
  std::size_t size = std::strlen(s) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy == nullptr) {
    // No caller can go on without its copy; stop before a null is stored.
    out_of_memory();
  }
  std::memcpy(copy, s, size);
  return copy;
}
