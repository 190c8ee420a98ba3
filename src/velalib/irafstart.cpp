// Start-up of the IRAF runtime as a host-level task.
//
// c_irafinit does what IRAF's own process main does for a process run from the
// host: it starts the host kernel, tells it the process type, and runs the IRAF
// Main, which starts the virtual operating system (memory, error restart,
// environment, file I/O) and then asks its onentry callback whether to enter
// the command interpreter. Ours answers PR_EXIT, so the Main shuts down and
// returns without reading a command.
//
// That start-up is written for a process that IRAF owns: it puts its own
// handler on eleven signals (ignored ones included), adds its variables to the
// environment, reads a zzsetenv.def from the working directory in place of its
// own, and panics when standard input or output is closed. A StartupGuard
// gives it the process it expects and takes everything back afterwards, so the
// tool behaves exactly as it does when built without IRAF.
#include <velalib/irafstart.h>

#if ROWFAN_WITH_IRAF

#include <cerrno>  // program_invocation_short_name
#include <cstring>
#include <new>
#include <type_traits>

#include <loadfile/buffer.h>
#include "startguard.h"

namespace {

// IRAF's types on this platform (hlib/libc/spp.h, kernel.h): integers are as
// wide as a pointer, characters are 16 bits, and a procedure is passed as a
// pointer to a function returning an integer.
using XINT = std::conditional_t<sizeof(void*) == sizeof(long), long, int>;
using XCHAR = short;
using PFI = XINT (*)();
static_assert(sizeof(XINT) == sizeof(void*), "IRAF supports only LP64 and ILP32");

constexpr int PR_HOST = 3;          // process type: run from the host
constexpr XINT PR_EXIT = 1;         // onentry result: skip the interpreter
constexpr XINT TEXT_FILE_DEV = 11;  // device type of the standard channels
constexpr XINT ERR = -1;

// The kernel keeps the process name in a 256-byte buffer and copies it there
// unchecked.
constexpr std::size_t SZ_PROCESS_NAME = 255;

}  // namespace

// The kernel and VOS entry points, by their link names; IRAF's own headers
// redefine the C library's stdio names, so they are not included here.
extern "C" {
int zzstrt_();
int zzsetk_(char* ospn, char* osbfn, int prtype, int isatty, int in, int out);
int zlocpr_(PFI proc, XINT* epa);
int zgetty_(XINT* fd, XCHAR* buf, XINT* maxch, XINT* status);
int irafmn_(XCHAR* cmd, XINT* inchan, XINT* outchan, XINT* errchan, XINT* driver, XINT* devtype,
            XINT* prtype, XCHAR* bkgfile, XINT* jobcode, PFI sys_runtask, PFI onentry);
}

namespace {

// The tool has no IRAF tasks: any task the Main were asked to run is unknown.
XINT refuse_task(XCHAR* /*task*/, XCHAR* /*cmd*/, XINT* /*argoff*/, XINT* /*interactive*/) {
  return ERR;
}

// Called by the Main once the VOS is up; the start-up is all we want of it.
XINT leave_at_entry(XINT* /*prtype*/, XCHAR* /*bkgfile*/, XCHAR* /*cmd*/) {
  return PR_EXIT;
}

// IRAF takes procedures untyped; going through void(*)() says the cast is
// meant.
template <typename F>
PFI as_pfi(F* f) {
  return reinterpret_cast<PFI>(reinterpret_cast<void (*)()>(f));
}

void start_iraf() try {
  char name[SZ_PROCESS_NAME + 1] = {};
  std::strncpy(name, program_invocation_short_name, SZ_PROCESS_NAME);
  char no_bkgfile[] = "";

  zzstrt_();
  zzsetk_(name, no_bkgfile, PR_HOST, 0, 0, 0);
  XINT driver = 0;
  zlocpr_(as_pfi(zgetty_), &driver);

  XCHAR cmd[1] = {0};
  XCHAR bkgfile[1] = {0};
  XINT in = 0, out = 1, err = 2;
  XINT devtype = TEXT_FILE_DEV, prtype = PR_HOST, jobcode = 0;
  irafmn_(cmd, &in, &out, &err, &driver, &devtype, &prtype, bkgfile, &jobcode, as_pfi(refuse_task),
          as_pfi(leave_at_entry));
} catch (const std::bad_alloc&) {
  out_of_memory();
}

}  // namespace

void c_irafinit() {
  // The Main is not made to run twice in one process.
  static bool started = false;
  if (started) return;
  started = true;

  // Without /dev/null to lend as standard input and output, or without a free
  // descriptor to keep the program's own aside, the start-up could panic and
  // end the process, or disturb what it cannot give back; the tool relies on
  // nothing from IRAF, so it goes on without.
  // IRAF is not called again afterwards: the stand-in streams it was given
  // are gone by then.
  StartupGuard guard;
  if (guard.ready()) start_iraf();
}

#else

// Built without IRAF: there is nothing to start.
void c_irafinit() {}

#endif
