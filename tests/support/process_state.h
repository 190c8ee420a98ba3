// What a program can see of its signal dispositions and mask, for the tests
// and the probe program that require a start-up to leave them as they were.
#pragma once

#include <csignal>
#include <optional>
#include <vector>

namespace vela_test {

// One signal's disposition.
struct Disposition {
  void (*handler)(int);
  int flags;  // less SA_RESTORER, the C library's mark on every disposition it sets
  std::vector<int> mask;
  bool operator==(const Disposition&) const = default;
};

// The signals in `set`, in order.
inline std::vector<int> members(const sigset_t& set) {
  std::vector<int> sigs;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sigismember(&set, sig) == 1) sigs.push_back(sig);
  }
  return sigs;
}

// The disposition of `sig`; none for a signal the C library keeps to itself.
inline std::optional<Disposition> disposition(int sig) {
  struct sigaction sa = {};
  if (sigaction(sig, nullptr, &sa) != 0) return std::nullopt;
  return Disposition{sa.sa_handler, sa.sa_flags & ~0x04000000, members(sa.sa_mask)};
}

// The signals this thread has blocked.
inline std::vector<int> blocked_signals() {
  sigset_t mask;
  sigprocmask(SIG_SETMASK, nullptr, &mask);
  return members(mask);
}

}  // namespace vela_test
