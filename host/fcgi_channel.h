// The extension driver's view of a FastCGI request: a ResponseChannel that
// writes the response head as CGI header lines ("Status: 200", fields, empty
// line) and the body onto the request's output stream. Created on a worker's
// stack by the FastCGI host for one request; used from that thread only.
#pragma once

#include <cstdint>
#include <string>

#include "host/response_channel.h"

struct FCGX_Stream;

namespace host {

class FcgiChannel : public ResponseChannel {
 public:
  explicit FcgiChannel(FCGX_Stream* out) : m_out(out) {}

  bool SendHead(const ResponseHead& head) override;
  // Hands the bytes to libfcgi, which sends them in records as its buffer
  // fills; false once the web server is gone (or took nothing within the
  // connection's write timeout).
  bool Write(const char* data, std::size_t size) override;
  // Sends what is buffered; the end-of-request record follows when the
  // worker finishes the request.
  void Finish() override;
  // Marks the response as cut off: the worker then closes the connection
  // without the end-of-request record, so the web server sees an incomplete
  // response and never passes on a complete-looking truncated one.
  void Abort() override { m_aborted = true; }

  // The host's own answer (431, 413, 400, 403, ...): head and a small page.
  void AnswerError(int status);

  bool Aborted() const { return m_aborted; }
  std::uint64_t BytesSent() const { return m_sent; }

  // "Status: 404 Not Found\r\nContent-type: text/html\r\n\r\n" for a head.
  static std::string HeadText(const ResponseHead& head);

 private:
  FCGX_Stream* m_out;
  bool m_aborted = false;
  bool m_failed = false;
  std::uint64_t m_sent = 0;
};

}  // namespace host
