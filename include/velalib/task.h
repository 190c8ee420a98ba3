// The one task of a tool of the set. Each tool defines it; the set's main
// calls it once with the argument vector, after options and wildcards.
#pragma once

void task(int nparam, char** param);
