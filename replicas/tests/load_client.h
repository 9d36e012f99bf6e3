// A bounded load for the replica test: a fixed number of connections, each a
// thread inside a machine's network that sends the requests of a mix in turn
// over one kept connection to the balancer (a fresh connection after a
// failure), until stopped. Every answer is recorded - when it was sent, how
// long it took, whether it came whole and right - so that the test can count
// failures and latency percentiles for any stretch of the run.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "replicas/tests/netns_lab.h"

namespace replicas::test {

using Clock = std::chrono::steady_clock;

struct Probe {
  std::string target;  // e.g. "/portico.dll?Topic&D97483D09946"
  std::string marker;  // text a right answer holds
};

struct Sample {
  Clock::time_point sent;
  double ms = 0;     // until the whole answer was read (or the failure)
  bool ok = false;   // status 200, the whole body, the probe's marker in it
  bool cut = false;  // the answer began, but its connection ended before the answer did
  std::string why;   // what was wrong, for a failure

  Clock::time_point Done() const {
    return sent + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
  }
};

class LoadClient {
 public:
  LoadClient(const NetnsLab& lab, const std::string& machine, unsigned short port, std::vector<Probe> mix,
             int connections);
  LoadClient(const LoadClient&) = delete;
  ~LoadClient();  // stops

  void Stop();
  // Every answer so far, in no particular order.
  std::vector<Sample> Samples() const;
  // False when a thread could not join the machine's network.
  bool Joined() const { return m_joinFailures == 0; }

 private:
  void Run(const NetnsLab& lab, const std::string& machine, int first);

  unsigned short m_port;
  std::vector<Probe> m_mix;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_joinFailures{0};
  mutable std::mutex m_mutex;
  std::vector<Sample> m_samples;
  std::vector<std::thread> m_threads;
};

// The figures of the answers to requests sent in [from, to).
struct Figures {
  std::size_t sent = 0;
  std::size_t failed = 0;
  double p50 = 0;  // milliseconds, nearest rank
  double p99 = 0;
  double max = 0;
};
Figures FiguresOf(const std::vector<Sample>& samples, Clock::time_point from, Clock::time_point to);

}  // namespace replicas::test
