// Locks, events and threads.
//
// `CMutex` may be taken again by the thread that holds it (both container
// mutexes rely on that). `CEvent` is a manual-reset event: once set it stays
// set until Reset, and every waiter passes. `StartIdleThread` runs a function
// on a detached-at-end thread at the lowest scheduling priority.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

using CMutex = std::recursive_mutex;
using CSingleLock = std::unique_lock<std::recursive_mutex>;

class CEvent {
 public:
  explicit CEvent(bool initiallySet = false) : m_set(initiallySet) {}
  void Set();
  void Reset();
  // Waits until the event is set.
  void Wait();
  // Waits at most `timeout`; true when the event is set.
  bool WaitFor(std::chrono::milliseconds timeout);
  bool IsSet() const;

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_set;
};

// Starts `body` on a new thread with idle priority (SCHED_IDLE where the
// system permits it, else the normal priority). The caller joins it.
std::thread StartIdleThread(std::function<void()> body);

// Sleeps the calling thread.
void Sleep(unsigned milliseconds);

// CPU time the calling thread has used so far (not the time it waited): the
// measure of what a piece of work cost on a machine that others share.
std::chrono::nanoseconds ThreadCpuTime();
