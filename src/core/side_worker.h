// A second thread for work that splits in two halves of about equal cost (the two halves of a
// large picture): the caller does one half while the side thread does the other. It takes one job
// at a time; a caller that finds it busy (another thread's job) does both halves itself, and so
// does a caller done with its own half before the side thread has begun the other (waking a
// sleeping thread can take longer than a half: a millisecond on a busy virtual machine). A split
// never waits on anything but its own halves.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#include <unistd.h>
#endif

namespace dbx {

class SideWorker {
 public:
  // The process's side thread, started on first use. It is never stopped: it sleeps between jobs
  // and ends with the process (joining it from static destructors could wait on a job).
  static SideWorker& Shared() {
    static SideWorker* worker = new SideWorker();
    return *worker;
  }

  // Runs `mine` on this thread and `theirs` on the side thread (or on this one, when the side
  // thread has not begun it by the time `mine` ends), and returns when both are done. An
  // exception from either half reaches the caller once both have ended.
  void Split(const std::function<void()>& mine, const std::function<void()>& theirs) {
    bool expected = false;
    if (!started_ || !taken_.compare_exchange_strong(expected, true)) {
      mine();
      theirs();
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = &theirs;
      failure_ = nullptr;
      callerCpu_ = CurrentCpu();
      begun_ = false;
      posted_ = true;
    }
    wake_.notify_one();
    std::exception_ptr mineFailed;
    try {
      mine();
    } catch (...) {
      mineFailed = std::current_exception();
    }
    // Takes the other half back if the side thread has not begun it.
    bool reclaimed = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!begun_) {
        job_ = nullptr;
        posted_.store(false, std::memory_order_release);
        reclaimed = true;
      }
    }
    std::exception_ptr theirsFailed;
    if (reclaimed) {
      taken_ = false;  // (the side thread is free for another caller meanwhile)
      try {
        theirs();
      } catch (...) {
        theirsFailed = std::current_exception();
      }
    } else {
      // The halves take about as long: the other one usually ends within moments, and waking
      // from a sleep costs more than that wait (most of all on a virtual machine).
      SpinWhile([&] { return posted_.load(std::memory_order_acquire); }, kSpinCaller);
      {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return !posted_.load(); });
        theirsFailed = failure_;
      }
      taken_ = false;
    }
    if (mineFailed) std::rethrow_exception(mineFailed);
    if (theirsFailed) std::rethrow_exception(theirsFailed);
  }

  // Whether splits run in parallel (false where no thread could be started: they run in turn).
  bool Parallel() const { return started_; }

  // Keeps the side thread from beginning a job while `hold` (for tests of a late side thread).
  void Hold(bool hold) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      held_ = hold;
    }
    wake_.notify_one();
  }

 private:
  SideWorker() {
    try {
      std::thread([this] { Run(); }).detach();
      started_ = true;
    } catch (...) {
      started_ = false;
    }
  }

  static constexpr std::chrono::microseconds kSpinCaller{2000}, kSpinSide{500};

  // Waits while `busy` holds, for at most `limit`, without giving up the processor.
  template <class Busy>
  static void SpinWhile(Busy busy, std::chrono::microseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (int i = 0; busy(); ++i) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
      if (i % 64 == 63 && std::chrono::steady_clock::now() > until) return;
    }
  }

  // The processor this thread runs on (-1 where that is not known).
  static int CurrentCpu() {
#if defined(__linux__)
    return sched_getcpu();
#else
    return -1;
#endif
  }

  // Moves this thread off processor `cpu`, and keeps it off until the next call. Linux wakes a
  // sleeping thread on the processor of the thread that wakes it, where the two would take
  // turns: after a sleep, the side thread began on the caller's processor in nearly every split
  // of a blur a frame, and the split took longer than one thread alone. (Windows wakes a thread
  // on its ideal processor.)
  static void KeepOff(int cpu) {
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (cpu >= CPU_SETSIZE || sched_getaffinity(getpid(), sizeof set, &set) != 0) return;
    CPU_CLR(cpu, &set);
    if (CPU_COUNT(&set) > 0) sched_setaffinity(0, sizeof set, &set);
#else
    (void)cpu;
#endif
  }

  void Run() {
    for (;;) {
      // Jobs come in bursts (the filters of one frame): a while awake catches the next one.
      SpinWhile([&] { return !posted_.load(std::memory_order_acquire); }, kSpinSide);
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return posted_.load() && !held_; });
      const std::function<void()>* job = job_;
      const int callerCpu = callerCpu_;
      begun_ = true;
      lock.unlock();
      if (callerCpu >= 0 && CurrentCpu() == callerCpu) KeepOff(callerCpu);
      std::exception_ptr failed;
      try {
        (*job)();
      } catch (...) {
        failed = std::current_exception();
      }
      lock.lock();
      failure_ = failed;
      job_ = nullptr;
      posted_.store(false, std::memory_order_release);
      lock.unlock();
      done_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  const std::function<void()>* job_ = nullptr;  // the side thread's half, while it runs
  std::exception_ptr failure_;
  std::atomic<bool> posted_{false};  // a job waits for the side thread or runs there
  bool begun_ = false;               // the side thread has begun the job posted
  int callerCpu_ = -1;               // the processor of the thread that posted it
  bool held_ = false;                // Hold: jobs wait for the side thread to be let go
  std::atomic<bool> taken_{false};
  bool started_ = false;
};

}  // namespace dbx
