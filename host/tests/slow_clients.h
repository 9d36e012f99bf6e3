// A bounded slow-client attack for tests and the slow-client benchmark:
// many connections that each send a request head a byte at a time and never
// finish it, from chosen loopback source addresses, for at most a given
// time. Meanwhile a caller sends well-behaved requests and counts how they
// are answered.
//
//   SlowClients slow(port, {"127.0.0.2"}, 300);
//   slow.Trickle(100ms);          // in a thread of its own, until Stop
//   ... well-behaved requests ...
//   slow.Stop();
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace host::test {

class SlowClients {
 public:
  // Opens `count` connections to 127.0.0.1:port, the i-th from
  // sources[i % sources.size()] (any 127.x.y.z address is local on Linux),
  // and sends each the first bytes of a request head. Connections the
  // server refuses at once count as closed.
  SlowClients(unsigned short port, const std::vector<std::string>& sources, std::size_t count);
  ~SlowClients();
  SlowClients(const SlowClients&) = delete;
  SlowClients& operator=(const SlowClients&) = delete;

  // Sends one more byte of the head on every open connection each
  // `interval`, and notes connections the server closed, until Stop,
  // `limit` has passed or every connection is closed. Blocks; run it on a thread of its own.
  void Trickle(std::chrono::milliseconds interval, std::chrono::milliseconds limit = std::chrono::seconds(60));
  void Stop() { m_stop = true; }

  std::size_t Opened() const { return m_fds.size(); }
  // Connections the server has closed so far (as last seen by Trickle or
  // CountClosed).
  std::size_t Closed() const { return m_closed; }
  // Looks at every connection now; the number the server has closed.
  std::size_t CountClosed();

 private:
  bool ClosedByServer(std::size_t i);

  std::vector<int> m_fds;  // -1 once seen closed
  std::atomic<std::size_t> m_closed{0};
  std::atomic<bool> m_stop{false};
  std::size_t m_sent = 0;
};

// The outcome of well-behaved requests sent beside an attack.
struct RequestTally {
  std::size_t sent = 0;
  std::size_t ok = 0;        // a complete 2xx or 3xx response
  std::size_t refused = 0;   // 503, or the connection closed or refused before a response
  std::size_t other = 0;     // any other status
  std::size_t timedOut = 0;  // no whole response within the timeout
};

// GET `target` on a fresh connection to 127.0.0.1:port from 127.0.0.1,
// `count` times from each of `clients` threads; every request must be
// answered within `timeout`.
RequestTally SendRequests(unsigned short port, const std::string& target, std::size_t clients, std::size_t count,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace host::test
