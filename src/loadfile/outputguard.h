// What becomes of an output being written when a signal ends the process:
// every catchable signal whose default action ends the process first removes
// the temporary names the output files have armed, then ends the process by
// the same signal, as it would have without us. A signal the process was
// left to ignore stays ignored. A file-size limit does not end the process:
// the write that passes it fails instead, and the writer reports that.
//
// Every call may come from any thread; the guard's state is kept under its
// own lock, and the masks are those of the calling thread (pthread_sigmask).
#pragma once

#include <signal.h>

// Installs the handlers while at least one output is open; each call is
// matched by one release_output_signals.
void hold_output_signals();
void release_output_signals();

// Arms the removal of `name` in the directory `dir` on a signal; returns a
// slot for disarm_output_name, or -1 when every slot is taken (the name is
// then not removed on a signal). Call with the signals held back
// (SignalsHeld), so that no signal finds the name armed but not yet made.
int arm_output_name(int dir, const char* name);
void disarm_output_name(int slot);

// What SignalsHeld holds back.
enum class HeldSignals {
  // Every guarded signal but the faults (SIGSEGV and the like), which the
  // code itself may raise: holding those back would not stop them.
  caught,
  // Every signal that can be blocked and whose default ends the process,
  // the faults too, for a step that must not be cut short by any signal
  // another process sends. A fault the step itself raised still ends the
  // process: the kernel does not let it wait.
  all,
};

// Holds signals back on the calling thread for its lifetime, so a step runs
// whole: one that arrives meanwhile takes effect when the step is over.
class SignalsHeld {
 public:
  explicit SignalsHeld(HeldSignals which = HeldSignals::caught);
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t saved_;  // the mask to go back to
};
