// The signal side of the output file: removing armed temporary names before
// a signal ends the process.
//
// The handler does only what is safe in a signal handler: unlinkat on the
// armed names, then the signal's earlier action is put back and the signal
// raised again, so the process ends as it would have (a shell sees 143 for
// SIGTERM, 141 for SIGPIPE) or the earlier handler (a sanitizer's, say) runs.
//
// The state is process-wide because a signal handler can reach nothing
// else: the armed names, read by the handler through atomics, and the saved
// actions, the count of holders and which handlers are installed, changed
// only under `guard_lock` by whichever thread opens or closes an output.

#include "outputguard.h"

#include <fcntl.h>
#include <unistd.h>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

// Signals whose default action ends the process, apart from the real-time
// ones, which all do and are added at run time.
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
    SIGFPE,    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
    SIGXCPU,   SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// Raised by the code that runs into them; holding them back would not stop
// them, and the kernel ends a process that faults with them blocked.
constexpr int kFaultSignals[] = {SIGILL, SIGTRAP, SIGBUS, SIGFPE, SIGSEGV, SIGSYS};

constexpr int kMaxSignal = 65;
constexpr int kSlots = 8;
constexpr int kNameMax = 256;

constexpr int kFree = -1;     // a slot no name holds
constexpr int kFilling = -2;  // taken, its name being written

struct ArmedName {
  std::atomic<int> dir{kFree};  // the directory of `name` once it is armed
  char name[kNameMax];
};

ArmedName armed[kSlots];
std::mutex guard_lock;  // over the three below
struct sigaction saved_actions[kMaxSignal];
bool installed[kMaxSignal];
int holders = 0;

// Every signal the guard handles, in one set.
sigset_t guarded_set(bool with_faults) {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kEndingSignals) sigaddset(&set, signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX && signal < kMaxSignal; ++signal)
    sigaddset(&set, signal);
  if (!with_faults) {
    for (int signal : kFaultSignals) sigdelset(&set, signal);
  }
  return set;
}

bool is_file_size_limit(int signal, const siginfo_t* info) {
  // The kernel sends the signal for a file-size limit as if the process had
  // sent it to itself; another process's SIGXFSZ ends the run as any other.
  return signal == SIGXFSZ && info != nullptr && info->si_code == SI_USER &&
         info->si_pid == getpid();
}

bool is_refault(int signal, const siginfo_t* info) {
  bool refaults = signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL;
  return refaults && info != nullptr && info->si_code > 0;
}

extern "C" void remove_armed_and_end(int signal, siginfo_t* info, void*) {
  if (is_file_size_limit(signal, info)) return;  // the write fails with EFBIG
  int saved_errno = errno;
  for (ArmedName& slot : armed) {
    int dir = slot.dir.load();
    if (dir >= 0) unlinkat(dir, slot.name, 0);
  }
  sigaction(signal, &saved_actions[signal], nullptr);
  // A fault raised by an instruction comes again when the instruction runs
  // again on return, under the action just put back, which then sees the
  // real fault. Any other signal is raised again; blocked while this handler
  // runs, it takes effect on its return.
  if (!is_refault(signal, info)) raise(signal);
  errno = saved_errno;
}

void install_handlers() {
  sigset_t set = guarded_set(true);
  for (int signal = 1; signal < kMaxSignal; ++signal) {
    if (!sigismember(&set, signal)) continue;
    installed[signal] = false;
    if (sigaction(signal, nullptr, &saved_actions[signal]) != 0) continue;
    if (saved_actions[signal].sa_handler == SIG_IGN) continue;  // stays ignored
    struct sigaction action {};
    action.sa_sigaction = remove_armed_and_end;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    installed[signal] = sigaction(signal, &action, nullptr) == 0;
  }
}

void restore_handlers() {
  for (int signal = 1; signal < kMaxSignal; ++signal) {
    if (installed[signal]) sigaction(signal, &saved_actions[signal], nullptr);
    installed[signal] = false;
  }
}

}  // namespace

void hold_output_signals() {
  SignalsHeld held;
  std::lock_guard<std::mutex> guard(guard_lock);
  if (holders++ == 0) install_handlers();
}

void release_output_signals() {
  SignalsHeld held;
  std::lock_guard<std::mutex> guard(guard_lock);
  if (holders > 0 && --holders == 0) restore_handlers();
}

int arm_output_name(int dir, const char* name) {
  size_t length = std::strlen(name);
  if (length >= static_cast<size_t>(kNameMax) || dir < 0) return -1;
  for (int i = 0; i < kSlots; ++i) {
    // Taken first, so no other thread writes the same slot's name.
    int expected = kFree;
    if (!armed[i].dir.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(armed[i].name, name, length + 1);
    armed[i].dir.store(dir);
    return i;
  }
  return -1;
}

void disarm_output_name(int slot) {
  if (slot >= 0 && slot < kSlots) armed[slot].dir.store(kFree);
}

SignalsHeld::SignalsHeld(HeldSignals which) {
  sigset_t set = guarded_set(which == HeldSignals::all);
  pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

SignalsHeld::~SignalsHeld() {
  pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}
