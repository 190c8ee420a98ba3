// The one task of rowfan: read the input load file, lay out the output, parse
// the rules, expand every row and write the output load file.

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

#include "columns.h"
#include "expand.h"
#include "loadfile.h"
#include "loadline.h"
#include "param.h"
#include "rules.h"
#include "tablecopy.h"
#include "task.h"
#include "velaerror.h"

namespace {

// The output being written, so that an error report, which ends the process,
// removes it instead of leaving a partial file behind.
LoadWriter* open_writer = nullptr;

void discard_open_writer() {
  discard_load_writer(open_writer);
  open_writer = nullptr;
}

// While the output is written under its temporary name, an interrupt
// removes that file before the signal ends the process as it would have,
// so Ctrl-C leaves nothing behind. A signal the caller has us ignore stays
// ignored.
constexpr int kCleanupSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
char temp_name[4096];
struct sigaction saved_actions[std::size(kCleanupSignals)];

extern "C" void remove_temp_and_end(int signal) {
  if (temp_name[0] != '\0') unlink(temp_name);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// The signals stay blocked from before the temporary file is created until
// its removal is armed, so no interrupt can slip in between.
sigset_t block_cleanup_signals() {
  sigset_t set, old;
  sigemptyset(&set);
  for (int signal : kCleanupSignals) sigaddset(&set, signal);
  sigprocmask(SIG_BLOCK, &set, &old);
  return old;
}

void guard_temp(const char* name) {
  if (name == nullptr || std::strlen(name) >= sizeof temp_name) return;
  std::strcpy(temp_name, name);
  for (size_t i = 0; i < std::size(kCleanupSignals); i++) {
    sigaction(kCleanupSignals[i], nullptr, &saved_actions[i]);
    if (saved_actions[i].sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = remove_temp_and_end;
    sigemptyset(&action.sa_mask);
    sigaction(kCleanupSignals[i], &action, nullptr);
  }
}

void unguard_temp() {
  if (temp_name[0] == '\0') return;
  for (size_t i = 0; i < std::size(kCleanupSignals); i++) {
    sigaction(kCleanupSignals[i], &saved_actions[i], nullptr);
  }
  temp_name[0] = '\0';
}

}  // namespace

void task(int nparam, char** param) {
  if (nparam != 4) {
    // Names that did not fit in the argument vector still count.
    vela_error(VELA_WRONG_ARG_COUNT, "%d", ngiven > nparam - 1 ? ngiven : nparam - 1);
  }
  const char* in_name = param[1];
  const char* out_name = param[2];
  const char* rule_name = param[3];

  // The input and output Tables live until the process ends.
  static TablePtr input;
  static TablePtr output;
  input.reset(read_loadfile(in_name));
  if (!input) {
    if (load_failure == LOAD_CANNOT_OPEN) vela_error(VELA_CANNOT_OPEN_FILE, "%s", in_name);
    vela_error(VELA_CANNOT_PROCESS_LOADFILE, "%s: %s", in_name, lod_error);
  }
  if (get_tab_colnum(input.get(), col_expansion_number) >= 0)
    vela_error(VELA_ALREADY_EXPANDED, "%s", in_name);

  output.reset(create_table());
  copy_layout(input.get(), output.get(), col_expansion_number);
  copy_header(input.get(), output.get());

  TablePtr target(create_table());
  TablePtr action(create_table());
  parse_rules(rule_name, input.get(), target.get(), action.get());

  // Rows are written as they are produced, so the output never has to be
  // held in memory whole.
  sigset_t old_mask = block_cleanup_signals();
  open_writer = open_load_writer(out_name, output.get());
  if (open_writer) guard_temp(load_writer_temp(open_writer));
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  if (!open_writer) vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);
  static bool registered = false;
  if (!registered) {
    std::atexit(discard_open_writer);
    registered = true;
  }
  int status =
      expand_rows(input.get(), target.get(), action.get(),
                  [](const std::string_view* cells) { return put_load_row(open_writer, cells); });
  if (status < 0) vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);
  LoadWriter* writer = open_writer;
  open_writer = nullptr;
  // Read before closing, which releases the writer.
  LoadOverlong overlong = load_writer_overlong(writer);
  int closed = close_load_writer(writer);
  unguard_temp();
  if (closed < 0) vela_error(VELA_CANNOT_WRITE_FILE, "%s", out_name);
  // Written whole, but the file will not read back: the run has failed.
  if (overlong.count > 0) {
    vela_warn(VELA_STRING_TOO_LONG, "%s: line %ld, column %s, %ld %s over %zu bytes", out_name,
              overlong.line, overlong.name.c_str(), overlong.count,
              overlong.count == 1 ? "line" : "lines", kLoadLineMax);
  }
}
