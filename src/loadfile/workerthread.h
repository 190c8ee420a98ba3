// Worker threads of the load file library: the reader's second half and the
// output's flusher. A worker takes no signal. Every signal is blocked before
// the thread is made, so it starts with all of them blocked (blocking them
// from its own first line would leave a moment in which one could land on
// it), and the handlers run on the thread that started it, the main thread.
// Private to the load file library.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <system_error>
#include <thread>
#include <utility>

// Blocks every signal of the calling thread for its lifetime.
class AllSignalsBlocked {
 public:
  AllSignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved_);
  }
  ~AllSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  AllSignalsBlocked(const AllSignalsBlocked&) = delete;
  AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

// Starts `thread` running f(args...) with every signal blocked; false when
// the system has no thread to give. Running out of memory while making it
// is the caller's (out_of_memory, or std::bad_alloc).
template <typename F, typename... Args>
bool start_worker(std::thread& thread, F&& f, Args&&... args) {
  AllSignalsBlocked blocked;
  try {
    thread = std::thread(std::forward<F>(f), std::forward<Args>(args)...);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}
