#include "host/worker_pool.h"

namespace host {

WorkerPool::WorkerPool(std::size_t threads) {
  m_threads.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i) m_threads.emplace_back([this] { Loop(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_stop = true;
  }
  m_work.notify_all();
  for (std::thread& t : m_threads) t.join();
}

void WorkerPool::Post(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) return;
    m_queue.push_back(std::move(job));
  }
  m_work.notify_one();
}

void WorkerPool::Close() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_closed = true;
}

bool WorkerPool::WaitIdle(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_idle.wait_until(lock, deadline, [this] { return m_queue.empty() && m_running == 0; });
}

std::size_t WorkerPool::Pending() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_queue.size() + m_running;
}

void WorkerPool::Loop() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_work.wait(lock, [this] { return m_stop || !m_queue.empty(); });
    if (m_queue.empty()) return;  // stopping and nothing left
    std::function<void()> job = std::move(m_queue.front());
    m_queue.pop_front();
    ++m_running;
    lock.unlock();
    job();
    job = nullptr;  // release what the job holds before the pool reports idle
    lock.lock();
    --m_running;
    if (m_queue.empty() && m_running == 0) m_idle.notify_all();
  }
}

}  // namespace host
