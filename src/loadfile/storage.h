// Heap storage for the table store. The load file library never reports an
// allocation failure to its callers: no caller could go on without the memory,
// so running out ends the process with one line on standard output.
#pragma once

#include <cstddef>

#include <loadfile/buffer.h>

// realloc that never returns null.
void* grow_storage(void* p, std::size_t bytes);
