// A fixed pool of request threads, as a web server keeps for its extension:
// jobs run in arrival order on the first free thread. Hosts post one job per
// request; shutdown waits, with a bound, for the jobs that are running.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace host {

class WorkerPool {
 public:
  explicit WorkerPool(std::size_t threads);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  // Joins the threads; only when WaitIdle has said true (or nothing was posted).
  ~WorkerPool();

  // Queues a job; safe from any thread. A job must not throw. After Close,
  // jobs are dropped (their owners see them destroyed unrun).
  void Post(std::function<void()> job);

  // No more jobs are accepted; queued ones still run.
  void Close();
  // Waits until no job is queued or running, at most until `deadline`.
  bool WaitIdle(std::chrono::steady_clock::time_point deadline);
  // Jobs queued or running now.
  std::size_t Pending() const;

 private:
  void Loop();

  mutable std::mutex m_mutex;
  std::condition_variable m_work;
  std::condition_variable m_idle;
  std::deque<std::function<void()>> m_queue;
  std::size_t m_running = 0;
  bool m_closed = false;
  bool m_stop = false;
  std::vector<std::thread> m_threads;
};

}  // namespace host
