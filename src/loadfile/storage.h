// Heap storage for the table store. The load file library never reports an
// allocation failure to its callers: no caller could go on without the memory,
// so running out ends the process with one line on standard output.
#pragma once

#include <cstddef>

// Prints "Cannot allocate memory" on standard output and exits with status 1.
[[noreturn]] void out_of_memory();

// realloc that never returns null.
void* grow_storage(void* p, std::size_t bytes);
