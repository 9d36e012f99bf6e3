// The one interface between the extension driver and a host's connection:
// the HTTP server writes to a socket through it, a FastCGI host would write
// FastCGI records. The driver calls it from the request's thread only.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace host {

struct ResponseHead {
  int status = 200;
  std::string reason;  // empty: the standard phrase of the status
  // Header fields the extension asked for, validated; never framing fields
  // (Content-Length, Transfer-Encoding, Connection): the host owns the framing.
  std::vector<std::pair<std::string, std::string>> fields;
};

class ResponseChannel {
 public:
  virtual ~ResponseChannel() = default;
  // Sends the status line and header fields; once per response, before any
  // Write. False when the client is gone.
  virtual bool SendHead(const ResponseHead& head) = 0;
  // Sends body bytes and returns once they are on their way (or failed).
  // False when the client is gone or too slow; later writes fail too.
  virtual bool Write(const char* data, std::size_t size) = 0;
  // The response is complete: end its body properly (last chunk) so the
  // connection may serve the next request.
  virtual void Finish() = 0;
  // The response cannot be completed: close the connection so the client sees
  // an incomplete message, never a complete-looking truncated one.
  virtual void Abort() = 0;
};

}  // namespace host
