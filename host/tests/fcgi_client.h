// A small FastCGI client for the tests of vamufcgi: builds records by hand
// (so tests can also send what no web server would), sends requests over a
// Unix socket or a loopback port and reads the records that come back, with
// timeouts so a hanging host fails a test instead of hanging it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace host::test {

using Params = std::vector<std::pair<std::string, std::string>>;

// One record: version 1, type, request id, content, padding to 8 bytes.
std::string FcgiRecord(int type, std::uint16_t id, const std::string& content);
// Name-value pairs in the FastCGI length encoding (1 or 4 length bytes).
std::string FcgiPairs(const Params& params);
// Params of a plain GET of portico.dll with this query string, as nginx sends them.
Params GetParams(const std::string& query, const std::string& pathInfo = "");

struct FcgiResponse {
  std::string out;             // FCGI_STDOUT content
  std::string err;             // FCGI_STDERR content
  bool ended = false;          // FCGI_END_REQUEST received
  bool closed = false;         // the host closed the connection before the end
  bool timedOut = false;
  // The CGI response in `out`: the Status line (200 when absent), the fields, the body.
  int Status() const;
  std::string Header(const std::string& name) const;
  std::string Body() const;
};

class FcgiClient {
 public:
  // Connects to a Unix socket path, or to 127.0.0.1:port.
  explicit FcgiClient(const std::string& socketPath);
  explicit FcgiClient(unsigned short port);
  ~FcgiClient();
  FcgiClient(const FcgiClient&) = delete;
  FcgiClient& operator=(const FcgiClient&) = delete;

  bool Connected() const { return m_fd >= 0; }
  bool SendRaw(const std::string& bytes);
  // A whole responder request: begin (keeping the connection when asked),
  // params, empty params, the body as stdin, empty stdin.
  bool Send(const Params& params, const std::string& body = "", bool keep = false, std::uint16_t id = 1,
            int role = 1);
  // Reads records until the request's end, the connection's end or the timeout.
  FcgiResponse Read(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Send and Read.
  FcgiResponse Request(const Params& params, const std::string& body = "", bool keep = false);
  // True when the host has sent something (or closed) within the timeout;
  // nothing is read.
  bool AwaitOutput(std::chrono::milliseconds timeout);
  // True when the host closes the connection within the timeout.
  bool ClosedByHost(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Closes at once, with a reset when unread data remains (a browser gone mid-response).
  void Abandon();

 private:
  bool ReadExactly(char* buffer, std::size_t size, std::chrono::steady_clock::time_point deadline, bool* timedOut);
  int m_fd = -1;
};

}  // namespace host::test
