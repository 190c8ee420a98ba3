// A tool of the set built against the installed libraries: `vela_consumer
// IN.lod OUT.lod` reads a load file with loadfile, writes it again in the
// canonical layout, and says so, or why not, through velalib's reports.
#include <loadfile/loadfile.h>
#include <velalib/task.h>
#include <velalib/velaerror.h>

constexpr int kWroteFile = 9;  // "Wrote file"

void task(int nparam, char** param) {
  if (nparam != 3) vela_error(VELA_WRONG_ARG_COUNT, "%d", nparam - 1);
  TablePtr table(read_loadfile(param[1]));
  if (!table) {
    if (load_failure == LOAD_CANNOT_OPEN) vela_error(VELA_CANNOT_OPEN_FILE, "%s", param[1]);
    vela_error(VELA_CANNOT_PROCESS_LOADFILE, "%s: %s", param[1], lod_error);
  }
  if (write_loadfile(param[2], table.get()) != 0) {
    vela_error(VELA_CANNOT_WRITE_FILE, "%s", param[2]);
  }
  vela_info(kWroteFile, "%s", param[2]);
}
