#include "host/tests/fcgi_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host::test {

std::string FcgiRecord(int type, std::uint16_t id, const std::string& content) {
  std::size_t padding = (8 - content.size() % 8) % 8;
  std::string r;
  r += char(1);
  r += char(type);
  r += char(id >> 8);
  r += char(id & 0xff);
  r += char(content.size() >> 8);
  r += char(content.size() & 0xff);
  r += char(padding);
  r += char(0);
  r += content;
  r.append(padding, '\0');
  return r;
}

namespace {

std::string Length(std::size_t n) {
  if (n < 128) return std::string(1, char(n));
  std::string s(4, '\0');
  s[0] = char(((n >> 24) & 0x7f) | 0x80);
  s[1] = char(n >> 16);
  s[2] = char(n >> 8);
  s[3] = char(n);
  return s;
}

}  // namespace

std::string FcgiPairs(const Params& params) {
  std::string s;
  for (const auto& [name, value] : params) s += Length(name.size()) + Length(value.size()) + name + value;
  return s;
}

Params GetParams(const std::string& query, const std::string& pathInfo) {
  return {{"REQUEST_METHOD", "GET"},
          {"QUERY_STRING", query},
          {"REQUEST_URI", "/portico.dll" + pathInfo + (query.empty() ? "" : "?" + query)},
          {"SCRIPT_NAME", "/portico.dll"},
          {"PATH_INFO", pathInfo},
          {"SERVER_PROTOCOL", "HTTP/1.1"},
          {"REMOTE_ADDR", "127.0.0.1"},
          {"CONTENT_LENGTH", ""},
          {"HTTP_USER_AGENT", "vamu-test"}};
}

int FcgiResponse::Status() const {
  std::string status = Header("Status");
  return status.empty() ? 200 : std::atoi(status.c_str());
}

std::string FcgiResponse::Header(const std::string& name) const {
  // Only a complete head is read: a response cut off before its blank line has no fields.
  const std::size_t end = out.find("\r\n\r\n");
  if (end == std::string::npos) return "";
  std::size_t pos = 0;
  while (pos < end) {
    std::size_t eol = out.find("\r\n", pos);
    std::string line = out.substr(pos, eol - pos);
    std::size_t colon = line.find(':');
    if (colon != std::string::npos && strcasecmp(line.substr(0, colon).c_str(), name.c_str()) == 0) {
      std::size_t v = line.find_first_not_of(' ', colon + 1);
      return v == std::string::npos ? "" : line.substr(v);
    }
    pos = eol + 2;
  }
  return "";
}

std::string FcgiResponse::Body() const {
  std::size_t end = out.find("\r\n\r\n");
  return end == std::string::npos ? "" : out.substr(end + 4);
}

FcgiClient::FcgiClient(const std::string& socketPath) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

FcgiClient::FcgiClient(unsigned short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

FcgiClient::~FcgiClient() {
  if (m_fd >= 0) ::close(m_fd);
}

bool FcgiClient::SendRaw(const std::string& bytes) {
  std::size_t done = 0;
  while (m_fd >= 0 && done < bytes.size()) {
    ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return m_fd >= 0;
}

bool FcgiClient::Send(const Params& params, const std::string& body, bool keep, std::uint16_t id, int role) {
  std::string begin(8, '\0');
  begin[1] = char(role);
  begin[2] = keep ? 1 : 0;
  std::string bytes = FcgiRecord(1, id, begin);
  std::string pairs = FcgiPairs(params);
  for (std::size_t at = 0; at < pairs.size(); at += 65535) bytes += FcgiRecord(4, id, pairs.substr(at, 65535));
  bytes += FcgiRecord(4, id, "");
  for (std::size_t at = 0; at < body.size(); at += 65535) bytes += FcgiRecord(5, id, body.substr(at, 65535));
  bytes += FcgiRecord(5, id, "");
  return SendRaw(bytes);
}

bool FcgiClient::ReadExactly(char* buffer, std::size_t size, std::chrono::steady_clock::time_point deadline,
                             bool* timedOut) {
  std::size_t done = 0;
  while (done < size) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{m_fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) {
      *timedOut = true;
      return false;
    }
    ssize_t n = ::recv(m_fd, buffer + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

FcgiResponse FcgiClient::Read(std::chrono::milliseconds timeout) {
  FcgiResponse response;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (m_fd >= 0) {
    unsigned char header[8];
    if (!ReadExactly(reinterpret_cast<char*>(header), 8, deadline, &response.timedOut)) {
      response.closed = !response.timedOut;
      return response;
    }
    std::size_t length = (std::size_t(header[4]) << 8) | header[5];
    std::string content(length + header[6], '\0');
    if (!ReadExactly(content.data(), content.size(), deadline, &response.timedOut)) {
      response.closed = !response.timedOut;
      return response;
    }
    content.resize(length);
    if (header[1] == 6) response.out += content;
    if (header[1] == 7) response.err += content;
    if (header[1] == 3) {
      response.ended = true;
      return response;
    }
  }
  response.closed = true;
  return response;
}

FcgiResponse FcgiClient::Request(const Params& params, const std::string& body, bool keep) {
  if (!Send(params, body, keep)) {
    FcgiResponse failed;
    failed.closed = true;
    return failed;
  }
  return Read();
}

bool FcgiClient::AwaitOutput(std::chrono::milliseconds timeout) {
  pollfd p{m_fd, POLLIN, 0};
  return m_fd >= 0 && ::poll(&p, 1, int(timeout.count())) == 1;
}

bool FcgiClient::ClosedByHost(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, int(left.count())) <= 0) return false;
    char buf[65536];
    ssize_t n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
  }
}

void FcgiClient::Abandon() {
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
}

}  // namespace host::test
