// The buffer in front of an output file. Where the output is staged in a
// file of our own, a full block is written by a second thread while the
// next one fills, so that copying the bytes into the file system costs the
// run no time of its own; a stream (a pipe, a terminal, a device) is
// written as it fills, so that it keeps its pace and its errors. The second
// thread starts with the first full block: a small output never has one.

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

#include <loadfile/outputfile.h>
#include "storage.h"
#include "workerthread.h"

// The second thread and the block it writes. `busy` while it writes
// `block`; the block is free again once `busy` is cleared.
struct OutputFlusher {
  OutputFile* out = nullptr;
  std::unique_ptr<char[]> block;
  size_t size = 0;
  bool busy = false;
  bool stop = false;
  bool failed = false;         // a write has failed
  bool out_of_memory = false;  // the thread ran out of memory and has ended
  std::mutex lock;
  std::condition_variable changed;
  WorkerThread thread;
};

namespace {

// The flusher takes no signal (WorkerThread): they go to the main thread,
// which holds them back while it puts the output in place. It only writes
// the blocks it is handed and allocates nothing; should it ever run out of
// memory, it ends and hands that to the main thread, which runs out of
// memory at its next pass or flush exactly as if it had itself.
void run_flusher(void* arg) {
  auto* f = static_cast<OutputFlusher*>(arg);
  OutOfMemoryThrows handed_back;
  std::unique_lock<std::mutex> guard(f->lock);
  try {
    for (;;) {
      f->changed.wait(guard, [f] { return f->busy || f->stop; });
      if (!f->busy) return;
      guard.unlock();
      bool written = write_output(f->out, f->block.get(), f->size);
      guard.lock();
      if (!written) f->failed = true;
      f->busy = false;
      f->changed.notify_all();
    }
  } catch (const std::bad_alloc&) {
    if (!guard.owns_lock()) guard.lock();
    f->out_of_memory = true;
    f->busy = false;
    f->changed.notify_all();
  }
}

// Ends the run on the main thread when the flusher ran out of memory; the
// flusher's lock is given up first, as the exit handlers stop the flusher.
void take_flusher_failure(OutputFlusher* f, std::unique_lock<std::mutex>& guard) {
  if (!f->out_of_memory) return;
  guard.unlock();
  out_of_memory();
}

// Waits, holding `guard` on the flusher's lock, until the block handed over
// last is written.
void wait_idle(OutputFlusher* f, std::unique_lock<std::mutex>& guard) {
  f->changed.wait(guard, [f] { return !f->busy; });
}

// Waits until the block handed over last is written; false if any write
// has failed.
bool wait_flusher(OutputFlusher* f) {
  std::unique_lock<std::mutex> guard(f->lock);
  wait_idle(f, guard);
  take_flusher_failure(f, guard);
  return !f->failed;
}

// A second thread for a staged output, or null: for a stream, or when no
// thread can be had (the output is then written as it fills).
OutputFlusher* start_flusher(OutputBuffer& buf) {
  if (buf.output->route == OUTPUT_STREAM) return nullptr;
  auto* f = new (std::nothrow) OutputFlusher;
  if (f == nullptr) return nullptr;
  f->out = buf.output.get();
  f->block.reset(new (std::nothrow) char[buf.capacity]);
  if (f->block && f->thread.start(run_flusher, f)) return f;
  delete f;
  return nullptr;
}

void write_now(OutputBuffer& buf, const char* bytes, size_t size) {
  if (!buf.failed && !write_output(buf.output.get(), bytes, size)) buf.failed = true;
}

}  // namespace

void OutputFlusherStop::operator()(OutputFlusher* f) const {
  {
    std::unique_lock<std::mutex> guard(f->lock);
    wait_idle(f, guard);
    f->stop = true;
    f->changed.notify_all();
  }
  f->thread.join();
  delete f;
}

bool open_output_buffer(OutputBuffer& buf, OutputFile* out, size_t capacity) {
  if (out == nullptr) return false;
  buf.output.reset(out);
  buf.data.reset(new char[capacity]);
  buf.capacity = capacity;
  return true;
}

void pass_output_buffer(OutputBuffer& buf) {
  if (!buf.flusher && buf.used > 0 && !buf.failed) buf.flusher.reset(start_flusher(buf));
  OutputFlusher* f = buf.flusher.get();
  if (f == nullptr) {
    write_now(buf, buf.data.get(), buf.used);
    buf.used = 0;
    return;
  }
  std::unique_lock<std::mutex> guard(f->lock);
  wait_idle(f, guard);
  take_flusher_failure(f, guard);
  if (f->failed) buf.failed = true;
  if (!buf.failed && buf.used > 0) {
    // The full block goes to the flusher; its free one is filled next.
    std::swap(buf.data, f->block);
    f->size = buf.used;
    f->busy = true;
    f->changed.notify_all();
  }
  buf.used = 0;
}

bool flush_output_buffer(OutputBuffer& buf) {
  pass_output_buffer(buf);
  if (buf.flusher && !wait_flusher(buf.flusher.get())) buf.failed = true;
  return !buf.failed;
}

bool finish_output_buffer(OutputBuffer& buf) {
  bool flushed = flush_output_buffer(buf);
  buf.flusher.reset();  // no write may run while the output is put in place
  return flushed;
}

int close_output_buffer(OutputBuffer& buf) {
  if (!finish_output_buffer(buf)) return -1;
  return close_output_file(buf.output.release()) == 0 ? 0 : -1;
}

void put_output_long(OutputBuffer& buf, std::string_view text) {
  if (text.size() < buf.capacity) {
    pass_output_buffer(buf);
    std::memcpy(buf.data.get(), text.data(), text.size());
    buf.used = text.size();
    return;
  }
  // Too long for a block: written where it stands, after all before it.
  if (flush_output_buffer(buf)) write_now(buf, text.data(), text.size());
}
