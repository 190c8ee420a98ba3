// The argument vector: options go to the option store, every other argument
// is wildcard-expanded into `param`.

#include <velalib/param.h>

#include <cstdlib>

#include <velalib/option.h>
#include <velalib/task.h>
#include <velalib/velastring.h>
#include <velalib/wildexpand.h>

char* param[MAXPARAM];
int nparam = 0;
int ngiven = 0;
// Null before any initializer runs, so a tool's own may set it.
void (*task_start)(int nparam, char** param) = nullptr;

void expand_param(int argc, char** argv) {
  int count = 0;
  ngiven = 0;
  param[count++] = strclone(argc > 0 && argv[0] ? argv[0] : "");
  for (int i = 1; i < argc; i++) {
    if (is_option(argv[i])) {
      put_option(argv[i]);
    } else {
      ngiven += wild_expand(argv[i], MAXPARAM - 1, &count, param);
    }
  }
  param[count] = nullptr;
  nparam = count;
}

void free_param() {
  for (int i = 0; i < nparam; i++) {
    std::free(param[i]);
    param[i] = nullptr;
  }
  nparam = 0;
}
