// Failure convention of the load file library: a failing operation returns -1
// (or null) and points `lod_error` at the message of the failure. `lod_error`
// starts null and is never reset on success, so it is meaningful only after a
// failure result.
#pragma once

extern const char* lod_error;
