#include "host/tests/slow_clients.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <future>
#include <thread>

namespace host::test {

namespace {

// The head the slow clients send, a byte at a time; it never ends (no empty
// line), and stays far below any header limit within a test's time.
constexpr char kHead[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";

int Connect(unsigned short port, const std::string& source) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in from{};
  from.sin_family = AF_INET;
  if (!source.empty() && ::inet_pton(AF_INET, source.c_str(), &from.sin_addr) == 1 &&
      ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
    ::close(fd);
    return -1;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

SlowClients::SlowClients(unsigned short port, const std::vector<std::string>& sources, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    int fd = Connect(port, sources.empty() ? std::string() : sources[i % sources.size()]);
    if (fd >= 0 && ::send(fd, kHead, 1, MSG_NOSIGNAL) != 1) {
      ::close(fd);
      fd = -1;
    }
    if (fd < 0) ++m_closed;
    m_fds.push_back(fd);
  }
  m_sent = 1;
}

SlowClients::~SlowClients() {
  for (int fd : m_fds)
    if (fd >= 0) ::close(fd);
}

bool SlowClients::ClosedByServer(std::size_t i) {
  int fd = m_fds[i];
  if (fd < 0) return true;
  char buf[4096];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) continue;  // an error page before the close
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return false;
    ::close(fd);
    m_fds[i] = -1;
    ++m_closed;
    return true;
  }
}

std::size_t SlowClients::CountClosed() {
  for (std::size_t i = 0; i < m_fds.size(); ++i) ClosedByServer(i);
  return m_closed;
}

void SlowClients::Trickle(std::chrono::milliseconds interval, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!m_stop && m_closed < m_fds.size() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(interval);
    char next = m_sent < sizeof kHead - 1 ? kHead[m_sent] : 'x';
    ++m_sent;
    for (std::size_t i = 0; i < m_fds.size(); ++i) {
      if (ClosedByServer(i)) continue;
      if (::send(m_fds[i], &next, 1, MSG_NOSIGNAL) != 1) {
        ::close(m_fds[i]);
        m_fds[i] = -1;
        ++m_closed;
      }
    }
  }
}

namespace {

// One GET with "Connection: close": the status of a response that arrived
// whole (the server closed the connection behind it), 0 when the connection
// was refused, reset or closed before a status line, -1 after the timeout.
int OneRequest(unsigned short port, const std::string& target, std::chrono::milliseconds timeout) {
  int fd = Connect(port, "127.0.0.1");
  if (fd < 0) return 0;
  std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
    ::close(fd);
    return 0;
  }
  std::string response;
  auto end = std::chrono::steady_clock::now() + timeout;
  int status = -1;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) break;
    char buf[65536];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      response.append(buf, std::size_t(n));
      continue;
    }
    // The end: a status line and a clean close make a whole response.
    bool clean = n == 0;
    status = clean && response.rfind("HTTP/1.", 0) == 0 && response.size() > 12 ? std::atoi(response.c_str() + 9) : 0;
    break;
  }
  ::close(fd);
  return status;
}

}  // namespace

RequestTally SendRequests(unsigned short port, const std::string& target, std::size_t clients, std::size_t count,
                          std::chrono::milliseconds timeout) {
  std::vector<std::future<RequestTally>> runs;
  for (std::size_t c = 0; c < clients; ++c)
    runs.push_back(std::async(std::launch::async, [=] {
      RequestTally t;
      for (std::size_t i = 0; i < count; ++i) {
        int status = OneRequest(port, target, timeout);
        ++t.sent;
        if (status >= 200 && status < 400)
          ++t.ok;
        else if (status == 0 || status == 503)
          ++t.refused;
        else if (status < 0)
          ++t.timedOut;
        else
          ++t.other;
      }
      return t;
    }));
  RequestTally total;
  for (auto& run : runs) {
    RequestTally t = run.get();
    total.sent += t.sent;
    total.ok += t.ok;
    total.refused += t.refused;
    total.other += t.other;
    total.timedOut += t.timedOut;
  }
  return total;
}

}  // namespace host::test
