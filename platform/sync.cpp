#include "platform/sync.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

void CEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = true;
  }
  m_cv.notify_all();
}

void CEvent::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_set = false;
}

void CEvent::Wait() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_cv.wait(lock, [this] { return m_set; });
}

bool CEvent::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_cv.wait_for(lock, timeout, [this] { return m_set; });
}

bool CEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_set;
}

std::thread StartIdleThread(std::function<void()> body) {
  return std::thread([body = std::move(body)] {
#ifdef SCHED_IDLE
    sched_param param{};
    param.sched_priority = 0;
    // Not permitted everywhere (containers); the normal priority serves then.
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
#endif
    body();
  });
}

void Sleep(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::chrono::nanoseconds ThreadCpuTime() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}
