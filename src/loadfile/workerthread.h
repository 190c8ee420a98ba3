// Worker threads of the load file library: the reader's second half and the
// output's flusher. A worker takes no signal. Every signal is blocked before
// the thread is made, so it starts with all of them blocked (blocking them
// from its own first line would leave a moment in which one could land on
// it), and the handlers run on the thread that started it, the main thread.
// Private to the load file library.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <cstddef>

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

// One worker thread, joined at the latest when it goes. Its stack is small:
// a worker's calls are shallow, and the usual stack of megabytes would be
// taken from the memory that the work itself needs where memory is
// limited.
class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() { join(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs run(arg) on a thread of its own that starts with every signal
  // blocked; false when the system has no thread to give.
  bool start(void (*run)(void*), void* arg) {
    run_ = run;
    arg_ = arg;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_attr_setstacksize(&attr, kStackSize);
    {
      AllSignalsBlocked blocked;
      started_ = pthread_create(&id_, &attr, &WorkerThread::enter, this) == 0;
    }
    pthread_attr_destroy(&attr);
    return started_;
  }
  bool joinable() const { return started_; }
  void join() {
    if (!started_) return;
    pthread_join(id_, nullptr);
    started_ = false;
  }

 private:
  static constexpr std::size_t kStackSize = std::size_t{512} << 10;

  static void* enter(void* self) {
    auto* worker = static_cast<WorkerThread*>(self);
    worker->run_(worker->arg_);
    return nullptr;
  }

  pthread_t id_{};
  bool started_ = false;
  void (*run_)(void*) = nullptr;
  void* arg_ = nullptr;
};
