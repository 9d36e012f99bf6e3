#include "host/http_session.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
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
using tcp = net::ip::tcp;

namespace {

constexpr std::size_t kReadPiece = 4096;
// What GracefulClose reads from a client that keeps sending, at most.
constexpr std::size_t kDrainLimit = 4 * 1024 * 1024;
constexpr std::chrono::milliseconds kDrainTime{2000};

bool IsHttpError(const beast::error_code& ec) {
  return ec.category() == make_error_code(http::error::bad_target).category();
}

}  // namespace

std::size_t AddressCounts::Add(const std::string& address) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return ++m_counts[address];
}

void AddressCounts::Remove(const std::string& address) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_counts.find(address);
  if (it != m_counts.end() && --it->second == 0) m_counts.erase(it);
}

HttpSession::HttpSession(tcp::socket socket, ServerContext& server)
    : m_server(server), m_stream(std::move(socket)), m_buffer(server.options.maxHeaderBytes + 16 * 1024) {
  beast::error_code ec;
  tcp::endpoint remote = m_stream.socket().remote_endpoint(ec);
  if (!ec) m_remote = remote.address().to_string();
  ++m_server.connections;
  m_fromAddress = m_server.addresses.Add(m_remote);
  m_accepted = m_idleSince = std::chrono::steady_clock::now();
}

HttpSession::~HttpSession() { Uncount(); }

void HttpSession::Uncount() {
  if (!m_counted) return;
  m_counted = false;
  --m_server.connections;
  m_server.addresses.Remove(m_remote);
}

void HttpSession::Start(bool overloaded) {
  beast::error_code ec;
  tcp::endpoint local = m_stream.socket().local_endpoint(ec);
  if (!ec) {
    m_localAddress = local.address().to_string();
    m_localPort = local.port();
  }
  // Responses go out in several writes; do not let them wait for acknowledgements.
  m_stream.socket().set_option(tcp::no_delay(true), ec);
  if (overloaded) {
    m_requestStarted = std::chrono::steady_clock::now();
    RejectRequest(503);
    return;
  }
  WaitForRequest();
}

void HttpSession::CloseIfIdle() {
  if (!m_busy) Close();
}

void HttpSession::Evict() {
  if (!Idle()) return;
  // Logged like a request that timed out: a silent connection is not.
  if (m_buffer.size() > 0) LogRequest(PartialJob(), 408, 0, {});
  Close();
}

bool HttpSession::ForgetIfClientGone() {
  // An idle connection reads the end of its client itself (or is evicted).
  if (!m_counted || m_closed || !m_busy) return false;
  char byte;
  const ssize_t n = ::recv(m_stream.socket().native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))) return false;
  Uncount();
  return true;
}

void HttpSession::WaitForRequest() {
  m_busy = false;
  if (m_closed) return;
  if (!m_firstRequest) m_idleSince = std::chrono::steady_clock::now();
  if (m_server.stopping) {
    GracefulClose();
    return;
  }
  if (m_buffer.size() > 0) {  // the client sent its next request already
    ReadHeader();
    return;
  }
  // Waiting for the first byte of a request: the idle timeout, and for the
  // first request of a connection the header timeout from the connection on
  // (a client that connects and says nothing is no better than a slow one).
  // From the first byte on the head must arrive within the header timeout
  // and the whole request within the read timeout.
  if (m_firstRequest)
    m_stream.expires_at(m_accepted + std::min(m_server.options.idleTimeout, m_server.options.headerTimeout));
  else
    m_stream.expires_after(m_server.options.idleTimeout);
  m_stream.async_read_some(m_buffer.prepare(kReadPiece), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
    self->m_buffer.commit(n);
    if (ec)
      self->Close();
    else
      self->ReadHeader();
  });
}

void HttpSession::ReadHeader() {
  m_requestStarted = std::chrono::steady_clock::now();
  m_isHead = false;
  m_version = 11;
  m_parser.emplace();
  m_parser->header_limit(static_cast<std::uint32_t>(m_server.options.maxHeaderBytes));
  m_parser->body_limit(m_server.options.maxBodyBytes);
  m_headerScanned = 0;
  // A client that sends its head a byte at a time holds a connection only
  // for the header timeout, however steadily it sends.
  auto headStart = m_firstRequest ? m_accepted : m_requestStarted;
  m_stream.expires_at(std::min(headStart + m_server.options.headerTimeout,
                               m_requestStarted + m_server.options.readTimeout));
  ScanHeader();
}

// The header is collected whole before the parser sees it: the parser's own
// limit applies to each piece it parses, not to the header as a whole.
void HttpSession::ScanHeader() {
  // Blank lines before a request are allowed (old browsers send one after a POST body).
  while (m_buffer.size() > 0) {
    char c = *static_cast<const char*>(m_buffer.data().data());
    if (c != '\r' && c != '\n') break;
    m_buffer.consume(1);
    m_headerScanned = 0;
  }
  std::string_view data(static_cast<const char*>(m_buffer.data().data()), m_buffer.size());
  const std::size_t limit = m_server.options.maxHeaderBytes;
  std::size_t end = data.find("\r\n\r\n", m_headerScanned > 3 ? m_headerScanned - 3 : 0);
  if (end != std::string_view::npos && end + 4 <= limit) {
    ParseHeader(end + 4);
    return;
  }
  if (end != std::string_view::npos || data.size() >= limit) {
    // Without a line end the request line alone was too long.
    RejectRequest(data.substr(0, limit).find('\n') == std::string_view::npos ? 414 : 431);
    return;
  }
  m_headerScanned = data.size();
  m_stream.async_read_some(m_buffer.prepare(kReadPiece), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
    self->m_buffer.commit(n);
    if (ec)
      self->OnReadError(ec);
    else
      self->ScanHeader();
  });
}

void HttpSession::ParseHeader(std::size_t size) {
  beast::error_code ec;
  std::size_t used = m_parser->put(net::const_buffer(m_buffer.data().data(), size), ec);
  m_buffer.consume(used);
  if (!ec && !m_parser->is_header_done()) ec = http::error::bad_line_ending;
  if (ec)
    OnReadError(ec);
  else
    OnHeader();
}

void HttpSession::OnHeader() {
  m_busy = true;  // from here on the connection answers this request
  m_firstRequest = false;
  // The body has the rest of the read timeout.
  m_stream.expires_at(m_requestStarted + m_server.options.readTimeout);
  const auto& req = m_parser->get();
  m_isHead = req.method() == http::verb::head;
  m_version = req.version() == 10 ? 10 : 11;
  m_clientKeepAlive = req.keep_alive();

  std::optional<Route> route = ParseTarget(Sv(req.target()));
  if (!route) {
    RejectRequest(400);
    return;
  }
  http::verb method = req.method();
  bool allowed = method == http::verb::get || method == http::verb::head ||
                 (route->extension && method == http::verb::post);
  if (!allowed) {
    RejectRequest(405, route->extension ? "GET, HEAD, POST" : "GET, HEAD");
    return;
  }
  if (m_parser->is_done()) {
    Dispatch();
    return;
  }
  if (EqualsNoCase(Sv(req[http::field::expect]), "100-continue")) {
    auto interim = std::make_shared<http::response<http::empty_body>>(http::status::continue_, req.version());
    http::async_write(m_stream, *interim, [self = shared_from_this(), interim](beast::error_code ec, std::size_t) {
      if (ec)
        self->Close();
      else
        self->ReadBody();
    });
    return;
  }
  ReadBody();
}

void HttpSession::ReadBody() {
  // The deadline set in OnHeader runs: head and body share the read timeout.
  http::async_read(m_stream, m_buffer, *m_parser, [self = shared_from_this()](beast::error_code ec, std::size_t) {
    if (ec)
      self->OnReadError(ec);
    else
      self->Dispatch();
  });
}

void HttpSession::OnReadError(beast::error_code ec) {
  m_busy = true;
  if (ec == http::error::header_limit) {
    RejectRequest(431);
  } else if (ec == http::error::body_limit || ec == http::error::buffer_overflow) {
    RejectRequest(413);
  } else if (ec == beast::error::timeout) {
    // The stream has closed the socket; a slow request is logged, a silent one not.
    if (m_buffer.size() > 0 || (m_parser && m_parser->got_some())) LogRequest(PartialJob(), 408, 0, {});
    Close();
  } else if (IsHttpError(ec) && ec != http::error::end_of_stream && ec != http::error::partial_message) {
    RejectRequest(400);
  } else {
    Close();
  }
}

void HttpSession::Dispatch() {
  m_stream.expires_never();
  http::request<http::string_body> req = m_parser->release();
  m_parser.reset();
  std::optional<Route> route = ParseTarget(Sv(req.target()));  // checked in OnHeader

  auto job = std::make_shared<Job>();
  job->target = std::string(Sv(req.target()));
  job->extension = route->extension;
  job->command = route->extension ? m_server.status.CommandOf(route->url, route->query) : HostStatus::kStatic;
  job->head = m_isHead;
  job->version = m_version;
  job->keepAlive = m_clientKeepAlive;
  job->started = m_requestStarted;
  RequestInfo& info = job->info;
  info.method = std::string(Sv(req.method_string()));
  info.url = route->url;
  info.queryString = std::move(route->query);
  if (route->readerAddress) {
    info.scriptName = route->url;
  } else if (route->extension) {
    info.scriptName = "/" + std::string(kExtensionName);
    info.pathInfo = route->pathInfo;
  }
  info.protocol = m_version == 10 ? "HTTP/1.0" : "HTTP/1.1";
  info.remoteAddress = m_remote;
  info.serverPort = std::to_string(m_localPort);
  info.serverName = m_localAddress;
  for (const auto& field : req) info.headers.emplace_back(std::string(Sv(field.name_string())), std::string(Sv(field.value())));
  if (std::optional<std::string_view> host = info.Header("Host"); host && !host->empty()) {
    std::string_view name = *host;
    std::size_t colon = name.front() == '[' ? name.find("]:") : name.rfind(':');
    if (colon != std::string_view::npos) name = name.substr(0, name.front() == '[' ? colon + 1 : colon);
    info.serverName = std::string(name);
  }
  info.body = std::move(req.body());

  m_server.pool.Post([self = shared_from_this(), job] {
    try {
      self->Handle(*job);
    } catch (const std::exception& e) {  // the server's own failure (memory), not the extension's
      LogError(std::string("request failed: ") + e.what() + "; " + job->target);
      net::post(self->m_stream.get_executor(), [self] { self->Close(); });
    }
  });
}

HttpSession::Job HttpSession::PartialJob() const {
  Job job;
  job.head = m_isHead;
  job.version = m_version;
  job.started = m_requestStarted;
  if (m_parser && m_parser->is_header_done()) {
    const auto& req = m_parser->get();
    job.info.method = std::string(Sv(req.method_string()));
    job.target = std::string(Sv(req.target()));
  } else {
    // Not parsed (too long, too slow): what arrived of the request line.
    std::string_view data(static_cast<const char*>(m_buffer.data().data()), m_buffer.size());
    data = data.substr(0, std::min(data.find('\r'), data.find('\n')));
    std::size_t space = data.find(' ');
    job.info.method = std::string(data.substr(0, space));
    if (space != std::string_view::npos) job.target = std::string(data.substr(space + 1, data.find(' ', space + 1) - space - 1));
  }
  return job;
}

void HttpSession::RejectRequest(int status, const char* allow) {
  m_busy = true;
  Job job = PartialJob();
  LogRequest(job, status, 0, {});
  // The rest of a refused request cannot be told from a next one: close.
  auto res = ErrorResponse(status, job.version, false, job.head, allow);
  WriteWhole(res, std::make_shared<http::response_serializer<http::string_body>>(*res));
}

template <class Body>
void HttpSession::WriteWhole(std::shared_ptr<http::response<Body>> response,
                             std::shared_ptr<http::response_serializer<Body>> serializer) {
  if (m_closed) return;
  if (m_server.stopping && response->keep_alive()) response->keep_alive(false);
  // The timeout covers one piece, so a large file to a slow but live client
  // goes through while a client that stops reading is dropped.
  m_stream.expires_after(m_server.options.writeTimeout);
  http::async_write_some(m_stream, *serializer,
                         [self = shared_from_this(), response, serializer](beast::error_code ec, std::size_t) {
                           if (ec)
                             self->Close();
                           else if (serializer->is_done())
                             self->AfterResponse(response->keep_alive());
                           else
                             self->WriteWhole(response, serializer);
                         });
}

// The responses the worker side writes whole (http_handlers.cpp).
template void HttpSession::WriteWhole(std::shared_ptr<http::response<http::string_body>>,
                                      std::shared_ptr<http::response_serializer<http::string_body>>);
template void HttpSession::WriteWhole(std::shared_ptr<http::response<http::empty_body>>,
                                      std::shared_ptr<http::response_serializer<http::empty_body>>);
template void HttpSession::WriteWhole(std::shared_ptr<http::response<http::file_body>>,
                                      std::shared_ptr<http::response_serializer<http::file_body>>);

void HttpSession::AfterResponse(bool keepAlive) {
  m_busy = false;
  m_broken = false;
  m_headSerializer.reset();
  if (keepAlive && !m_server.stopping)
    WaitForRequest();
  else
    GracefulClose();
}

void HttpSession::GracefulClose() {
  if (m_closed) return;
  m_busy = false;
  // A connection on its way out is the first to make room.
  m_idleSince = std::chrono::steady_clock::time_point::min();
  beast::error_code ec;
  m_stream.socket().shutdown(tcp::socket::shutdown_send, ec);
  m_buffer.consume(m_buffer.size());
  m_drained = 0;
  m_stream.expires_after(std::min<std::chrono::milliseconds>(m_server.options.readTimeout, kDrainTime));
  Drain();
}

void HttpSession::Drain() {
  m_stream.async_read_some(m_buffer.prepare(kReadPiece), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
    self->m_buffer.consume(self->m_buffer.size());
    self->m_drained += n;
    if (ec || self->m_drained > kDrainLimit)
      self->Close();
    else
      self->Drain();
  });
}

void HttpSession::Close() {
  if (m_closed) return;
  m_closed = true;
  m_busy = false;
  Uncount();
  beast::error_code ec;
  m_stream.socket().shutdown(tcp::socket::shutdown_both, ec);
  m_stream.socket().close(ec);
}

}  // namespace host
