// The visit counter of the frameset page (Main): visits are counted in
// memory and added to the registry value "Counter" of the extension's key
// (settings.h) at most once a second, by a thread of the counter's own, and
// when the extension stops - never a write of the registry file per visit.
// The writer adds to the value it finds on disk, under the registry's lock,
// so that several processes (and replicas) sharing one registry file add up.
// A process killed loses the visits of its last second at most. Without the
// registry file or the extension's key nothing is counted, as always.
//
// Threads: Count from any number of request threads (one atomic addition);
// Flush and Stop from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/sync.h"

namespace portico {

class CVisitCounter {
 public:
  static constexpr std::chrono::milliseconds kInterval{1000};
  static constexpr const char* kValueName = "Counter";

  CVisitCounter() = default;
  CVisitCounter(const CVisitCounter&) = delete;
  CVisitCounter& operator=(const CVisitCounter&) = delete;
  // Stops, writing what is counted.
  ~CVisitCounter();

  // One visit. The first starts the writer thread.
  void Count();
  // Adds the visits counted so far to the registry value now. A write that
  // fails keeps them for the next one.
  void Flush();
  // Ends the writer thread and writes what is counted; later visits are
  // written by a Flush only.
  void Stop();

  // Visits counted and not written yet.
  std::uint64_t Pending() const { return m_pending.load(); }

 private:
  void Run();

  std::atomic<std::uint64_t> m_pending{0};
  std::mutex m_flush;    // one writer at a time, so no visit is written twice
  std::mutex m_thread;   // guards the start and the stop of the writer
  std::thread m_writer;
  std::atomic<bool> m_started{false};
  bool m_stopped = false;
  CEvent m_stop;
};

}  // namespace portico
