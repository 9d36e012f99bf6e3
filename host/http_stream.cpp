// StreamChannel (worker side) and the HttpSession members it drives on the
// I/O thread: the head, the chunks and the end of a streamed extension response.
#include "host/http_stream.h"

#include <exception>
#include <future>
#include <utility>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "host/error_log.h"
#include "host/http_messages.h"
#include "host/request_info.h"

namespace host {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

template <class Start>
bool StreamChannel::RunOnIoThread(Start start) {
  std::promise<std::pair<bool, std::size_t>> result;
  auto future = result.get_future();
  net::post(m_session->m_stream.get_executor(), [&] {
    start([&result](bool ok, std::size_t sent) { result.set_value({ok, sent}); });
  });
  auto [ok, sent] = future.get();
  m_sent += sent;
  return ok;
}

bool StreamChannel::SendHead(const ResponseHead& head) {
  return RunOnIoThread([&](HttpSession::Done done) { m_session->StartHead(head, std::move(done)); });
}

bool StreamChannel::Write(const char* data, std::size_t size) {
  return RunOnIoThread([&](HttpSession::Done done) { m_session->StartChunk(data, size, std::move(done)); });
}

void StreamChannel::Complete() {
  auto session = m_session;
  if (m_end == End::Finish)
    net::post(session->m_stream.get_executor(), [session] { session->FinishStream(); });
  else
    net::post(session->m_stream.get_executor(), [session] { session->Close(); });
}

void HttpSession::StartHead(const ResponseHead& head, Done done) {
  if (m_closed || m_broken) {
    done(false, 0);
    return;
  }
  try {
    BuildStreamHead(head);
  } catch (const std::exception& e) {  // memory: the worker must hear back all the same
    LogError(std::string("cannot build a response header: ") + e.what());
    m_broken = true;
    done(false, 0);
    return;
  }
  m_stream.expires_after(m_server.options.writeTimeout);
  http::async_write_header(m_stream, *m_headSerializer,
                           [self = shared_from_this(), done = std::move(done)](beast::error_code ec, std::size_t) {
                             if (ec) self->m_broken = true;
                             done(!ec, 0);
                           });
}

void HttpSession::BuildStreamHead(const ResponseHead& head) {
  m_streamHead = {};
  m_streamHead.version(m_version);
  m_streamHead.result(static_cast<unsigned>(head.status));
  if (!head.reason.empty()) m_streamHead.reason(head.reason);
  SetServerFields(m_streamHead);
  for (const auto& [name, value] : head.fields) {
    if (EqualsNoCase(name, "Server") || EqualsNoCase(name, "Date"))
      m_streamHead.set(name, value);
    else
      m_streamHead.insert(name, value);
  }
  m_keepAlive = m_clientKeepAlive && !m_server.stopping;
  if (m_isHead || head.status == 204 || head.status == 304) {
    m_mode = BodyMode::None;
  } else if (m_version == 11) {
    m_mode = BodyMode::Chunked;
    m_streamHead.chunked(true);
  } else {
    // An HTTP/1.0 client cannot read chunks: the body ends with the connection.
    m_mode = BodyMode::UntilClose;
    m_keepAlive = false;
  }
  m_streamHead.keep_alive(m_keepAlive);
  m_headSerializer = std::make_unique<http::response_serializer<http::empty_body>>(m_streamHead);
}

void HttpSession::StartChunk(const char* data, std::size_t size, Done done) {
  if (m_closed || m_broken) {
    done(false, 0);
    return;
  }
  if (m_mode == BodyMode::None) {  // HEAD and bodiless statuses: the bytes are dropped
    done(true, 0);
    return;
  }
  m_stream.expires_after(m_server.options.writeTimeout);
  auto onWritten = [self = shared_from_this(), done = std::move(done), size](beast::error_code ec, std::size_t) {
    if (ec) self->m_broken = true;
    done(!ec, ec ? 0 : size);
  };
  if (m_mode == BodyMode::Chunked)
    net::async_write(m_stream, http::make_chunk(net::const_buffer(data, size)), std::move(onWritten));
  else
    net::async_write(m_stream, net::const_buffer(data, size), std::move(onWritten));
}

void HttpSession::FinishStream() {
  if (m_closed || m_broken) {
    Close();
    return;
  }
  switch (m_mode) {
    case BodyMode::Chunked:
      m_stream.expires_after(m_server.options.writeTimeout);
      net::async_write(m_stream, http::make_chunk_last(), [self = shared_from_this()](beast::error_code ec, std::size_t) {
        if (ec)
          self->Close();
        else
          self->AfterResponse(self->m_keepAlive);
      });
      break;
    case BodyMode::UntilClose:
      GracefulClose();
      break;
    case BodyMode::None:
      AfterResponse(m_keepAlive);
      break;
  }
}

}  // namespace host
