// Failure convention of the load file library: a failing operation returns -1
// (or null) and points `lod_error` at the message of the failure. `lod_error`
// starts null and is never reset on success, so it is meaningful only after a
// failure result. Each thread has its own: a large file's second half is
// read on a thread of its own, and its failures are not the caller's.
#pragma once

// The library defines it constinit: a compiler that knows that needs no
// thread-local wrapper between it and its users. A tool built to an earlier
// standard reaches it through the wrapper, which does nothing.
#if defined(__cpp_constinit)
extern thread_local constinit const char* lod_error;
#else
extern thread_local const char* lod_error;
#endif
