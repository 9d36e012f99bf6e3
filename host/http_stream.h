// The extension driver's view of an HTTP connection: a ResponseChannel whose
// calls run on the server's I/O thread while the worker waits for them.
// Created on a worker's stack by HttpSession for one extension request.
#pragma once

#include <cstdint>
#include <memory>

#include "host/http_session.h"
#include "host/response_channel.h"

namespace host {

// Each call runs the write on the I/O thread and waits for it; the stream's
// write timeout ends a write to a client that does not read, so the wait ends.
class StreamChannel : public ResponseChannel {
 public:
  explicit StreamChannel(std::shared_ptr<HttpSession> session) : m_session(std::move(session)) {}

  bool SendHead(const ResponseHead& head) override;
  bool Write(const char* data, std::size_t size) override;
  // Both only record how the response ends; Complete carries it out.
  void Finish() override { m_end = End::Finish; }
  void Abort() override { m_end = End::Abort; }

  // Hands the connection back to the I/O thread (last chunk, or close); the
  // channel is done after it.
  void Complete();
  // Body bytes that went out (none for HEAD).
  std::uint64_t BytesSent() const { return m_sent; }

 private:
  template <class Start>
  bool RunOnIoThread(Start start);

  enum class End { None, Finish, Abort };
  std::shared_ptr<HttpSession> m_session;
  std::uint64_t m_sent = 0;
  End m_end = End::None;
};

}  // namespace host
