// Heap storage for the table store. The load file library never reports an
// allocation failure to its callers: no caller could go on without the memory,
// so running out ends the process with one line on standard output.
#pragma once

#include <atomic>
#include <cstddef>

#include <loadfile/buffer.h>

// realloc that never returns null.
void* grow_storage(void* p, std::size_t bytes);

// Running out of memory cannot end the process from a worker thread: exit
// would run the exit handlers, which remove the half-written output, while
// the main thread goes on. Nor can it end work that may simply be dropped,
// such as the second half of a read, which the first half can do alone.
// While an OutOfMemoryThrows lives, out_of_memory on its thread throws
// std::bad_alloc instead; the code that made it catches that, and either
// drops the work or hands the failure to the main thread, which then runs
// out of memory exactly as it would have itself.
class OutOfMemoryThrows {
 public:
  OutOfMemoryThrows();
  ~OutOfMemoryThrows();
  OutOfMemoryThrows(const OutOfMemoryThrows&) = delete;
  OutOfMemoryThrows& operator=(const OutOfMemoryThrows&) = delete;

 private:
  bool saved_;
};

// Test switch: when not negative, the storage grown where out_of_memory
// throws fails once that many growths there have succeeded, as if memory
// had run out.
extern std::atomic<int> storage_throwing_growths_left;
