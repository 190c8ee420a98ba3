// The process entry: start-up, command line, the task, and the exit status.

#include <cstdlib>
#include <new>

#include <loadfile/buffer.h>
#include <velalib/irafstart.h>
#include <velalib/option.h>
#include <velalib/param.h>
#include <velalib/task.h>
#include <velalib/velaerror.h>

int main(int argc, char** argv) {
  c_irafinit();
  // Containers of the tool that cannot grow end the run like the table store.
  std::set_new_handler([] { out_of_memory(); });
  init_option();
  expand_param(argc, argv);
  // The tool's say on where messages go comes before the first of them.
  if (task_start != nullptr) task_start(nparam, param);
  print_ver();
  // Handlers run in reverse order: the argument vector is freed first, the
  // option store second, on every path that ends the process.
  std::atexit(free_option);
  std::atexit(free_param);
  task(nparam, param);
  return vela_errorflag ? 1 : 0;
}
