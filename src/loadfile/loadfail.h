// How the reader and the writer fail: `lod_error` pointed at the message,
// and `load_failure` telling which it was.
#pragma once

#include <loadfile/loadfile.h>

void fail_load(LoadFailure failure);
