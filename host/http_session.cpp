#include "host/http_session.h"

#include <ctime>
#include <future>
#include <utility>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "host/extension_request.h"
#include "host/url_map_filter.h"

namespace host {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

// The URL name under which browsers reach the extension.
constexpr std::string_view kExtensionName = "portico.dll";
constexpr std::size_t kReadPiece = 4096;
// What GracefulClose reads from a client that keeps sending, at most.
constexpr std::size_t kDrainLimit = 4 * 1024 * 1024;
constexpr std::chrono::milliseconds kDrainTime{2000};

std::string_view Sv(beast::string_view s) { return {s.data(), s.size()}; }

std::string HttpDate(std::time_t t) {
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return text;
}

template <class Message>
void SetServerFields(Message& m) {
  m.set(http::field::server, "vamuserver");
  m.set(http::field::date, HttpDate(std::time(nullptr)));
}

struct Route {
  bool extension = false;
  std::string url;       // decoded path
  std::string pathInfo;  // behind the extension's name
  std::string query;     // raw
};

// Splits a request target into the decoded path and the raw query; nothing
// for a target that is not a path (or an absolute URL) or does not decode.
std::optional<Route> ParseTarget(std::string_view target) {
  for (std::string_view scheme : {"http://", "https://"}) {
    if (target.size() >= scheme.size() && EqualsNoCase(target.substr(0, scheme.size()), scheme)) {
      std::size_t slash = target.find('/', scheme.size());
      target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
  }
  Route route;
  std::size_t q = target.find('?');
  if (q != std::string_view::npos) route.query = std::string(target.substr(q + 1));
  std::optional<std::string> path = DecodeUrlPath(target.substr(0, q));
  if (!path) return std::nullopt;
  route.url = *path;
  std::size_t end = route.url.find('/', 1);
  std::string_view first = std::string_view(route.url).substr(1, end == std::string::npos ? std::string::npos : end - 1);
  if (EqualsNoCase(first, kExtensionName)) {
    route.extension = true;
    if (end != std::string::npos) route.pathInfo = route.url.substr(end);
  }
  return route;
}

bool IsHttpError(const beast::error_code& ec) {
  return ec.category() == make_error_code(http::error::bad_target).category();
}

const char* StandardReason(int status) {
  return http::obsolete_reason(static_cast<http::status>(status)).data();
}

// A small HTML page for the server's own answers. HEAD gets the length, no body.
std::shared_ptr<http::response<http::string_body>> ErrorResponse(int status, unsigned version, bool keepAlive,
                                                                 bool head, const char* allow = nullptr) {
  auto res = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(status), version);
  SetServerFields(*res);
  res->set(http::field::content_type, "text/html");
  std::string title = std::to_string(status) + " " + StandardReason(status);
  std::string body = "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD><BODY><H1>" + title + "</H1></BODY></HTML>";
  res->keep_alive(keepAlive);
  if (head) {
    res->content_length(body.size());
  } else {
    res->body() = std::move(body);
    res->prepare_payload();
  }
  if (allow) res->set(http::field::allow, allow);
  return res;
}

}  // namespace

// The connection as the extension driver sees it. Lives on the worker's
// stack; each call runs the write on the I/O thread and waits for it (the
// stream's timeout ends a write to a client that does not read).
class StreamChannel : public ResponseChannel {
 public:
  explicit StreamChannel(std::shared_ptr<HttpSession> session) : m_session(std::move(session)) {}

  bool SendHead(const ResponseHead& head) override {
    return RunOnIoThread([&](HttpSession::Done done) { m_session->StartHead(head, std::move(done)); });
  }
  bool Write(const char* data, std::size_t size) override {
    return RunOnIoThread([&](HttpSession::Done done) { m_session->StartChunk(data, size, std::move(done)); });
  }
  void Finish() override { m_end = End::Finish; }
  void Abort() override { m_end = End::Abort; }

  // Hands the connection back to the I/O thread; the channel is done after it.
  void Complete() {
    auto session = m_session;
    if (m_end == End::Finish)
      net::post(session->m_stream.get_executor(), [session] { session->FinishStream(); });
    else
      net::post(session->m_stream.get_executor(), [session] { session->Close(); });
  }
  std::uint64_t BytesSent() const { return m_sent; }

 private:
  template <class Start>
  bool RunOnIoThread(Start start) {
    std::promise<std::pair<bool, std::size_t>> result;
    auto future = result.get_future();
    net::post(m_session->m_stream.get_executor(), [&] {
      start([&result](bool ok, std::size_t sent) { result.set_value({ok, sent}); });
    });
    auto [ok, sent] = future.get();
    m_sent += sent;
    return ok;
  }

  enum class End { None, Finish, Abort };
  std::shared_ptr<HttpSession> m_session;
  std::uint64_t m_sent = 0;
  End m_end = End::None;
};

HttpSession::HttpSession(tcp::socket socket, ServerContext& server)
    : m_server(server), m_stream(std::move(socket)), m_buffer(server.options.maxHeaderBytes + 16 * 1024) {
  ++m_server.connections;
}

HttpSession::~HttpSession() { --m_server.connections; }

void HttpSession::Start(bool overloaded) {
  beast::error_code ec;
  tcp::endpoint remote = m_stream.socket().remote_endpoint(ec);
  if (!ec) m_remote = remote.address().to_string();
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

void HttpSession::WaitForRequest() {
  m_busy = false;
  if (m_closed) return;
  if (m_server.stopping) {
    GracefulClose();
    return;
  }
  if (m_buffer.size() > 0) {  // the client sent its next request already
    ReadHeader();
    return;
  }
  // Waiting for the first byte of a request: the idle timeout. From that byte
  // on the request must arrive whole within the read timeout.
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
  m_stream.expires_after(m_server.options.readTimeout);
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
  // The deadline set for the header still runs: header and body share it.
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
  job->head = m_isHead;
  job->version = m_version;
  job->keepAlive = m_clientKeepAlive;
  job->started = m_requestStarted;
  RequestInfo& info = job->info;
  info.method = std::string(Sv(req.method_string()));
  info.url = route->url;
  info.queryString = std::move(route->query);
  if (route->extension) {
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

  m_server.pool.Post([self = shared_from_this(), job] { self->Handle(*job); });
}

void HttpSession::Handle(Job& job) {
  if (m_server.stopping) {
    PostWhole(ErrorResponse(503, job.version, false, job.head));
    LogRequest(job, 503, 0, {});
    return;
  }
  if (job.extension)
    HandleExtension(job);
  else
    HandleStatic(job);
}

void HttpSession::HandleExtension(Job& job) {
  RequestInfo& info = job.info;
  info.pathTranslated = m_server.files.PhysicalPathFor(info.pathInfo.empty() ? "/" : info.pathInfo);
  if (!info.pathInfo.empty() && !MapUrlThroughFilter(m_server.module, info, info.pathInfo, &info.pathTranslated)) {
    PostWhole(ErrorResponse(500, job.version, job.keepAlive, job.head));
    LogRequest(job, 500, 0, {});
    return;
  }
  StreamChannel channel(shared_from_this());
  ExtensionCall call(info, channel);
  ExtensionOutcome outcome = call.Run(m_server.module);
  LogRequest(job, outcome.status, channel.BytesSent(), outcome.logData);
  channel.Complete();
}

void HttpSession::HandleStatic(Job& job) {
  std::string physical = m_server.files.PhysicalPathFor(job.info.url);
  if (!MapUrlThroughFilter(m_server.module, job.info, job.info.url, &physical)) {
    PostWhole(ErrorResponse(500, job.version, job.keepAlive, job.head));
    LogRequest(job, 500, 0, {});
    return;
  }
  StaticFiles::Found found = m_server.files.Resolve(physical);
  beast::error_code ec;
  http::file_body::value_type file;
  if (found.status == 200) {
    file.open(found.path.c_str(), beast::file_mode::scan, ec);
    if (ec) found.status = 403;
  }
  if (found.status != 200) {
    PostWhole(ErrorResponse(found.status, job.version, job.keepAlive, job.head));
    LogRequest(job, found.status, 0, {});
    return;
  }
  std::string modified = HttpDate(static_cast<std::time_t>(found.modified));
  std::optional<std::string_view> since = job.info.Header("If-Modified-Since");
  bool notModified = since && *since == modified;
  std::uint64_t size = file.size();
  auto head = [&](auto& res) {
    SetServerFields(res);
    res.set(http::field::content_type, ContentTypeFor(found.path));
    res.set(http::field::last_modified, modified);
    res.keep_alive(job.keepAlive);
  };
  if (job.head || notModified) {
    auto res = std::make_shared<http::response<http::empty_body>>(
        notModified ? http::status::not_modified : http::status::ok, job.version);
    head(*res);
    if (!notModified) res->content_length(size);
    PostWhole(res);
    LogRequest(job, notModified ? 304 : 200, 0, {});
    return;
  }
  auto res = std::make_shared<http::response<http::file_body>>(http::status::ok, job.version);
  head(*res);
  res->body() = std::move(file);
  res->prepare_payload();
  PostWhole(res);
  LogRequest(job, 200, size, {});
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

void HttpSession::LogRequest(const Job& job, int status, std::uint64_t bytes, const std::string& logData) {
  AccessRecord record;
  record.remoteAddress = m_remote;
  record.method = job.info.method.empty() ? "-" : job.info.method;
  record.target = job.target.empty() ? "-" : job.target;
  record.protocol = job.version == 10 ? "HTTP/1.0" : "HTTP/1.1";
  record.status = status;
  record.bytes = bytes;
  record.logData = logData;
  record.elapsed = std::chrono::steady_clock::now() - job.started;
  m_server.log.Write(record);
}

template <class Body>
void HttpSession::PostWhole(std::shared_ptr<http::response<Body>> response) {
  net::post(m_stream.get_executor(), [self = shared_from_this(), response] {
    self->WriteWhole(response, std::make_shared<http::response_serializer<Body>>(*response));
  });
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

void HttpSession::StartHead(const ResponseHead& head, Done done) {
  if (m_closed || m_broken) {
    done(false, 0);
    return;
  }
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
  m_stream.expires_after(m_server.options.writeTimeout);
  http::async_write_header(m_stream, *m_headSerializer,
                           [self = shared_from_this(), done = std::move(done)](beast::error_code ec, std::size_t) {
                             if (ec) self->m_broken = true;
                             done(!ec, 0);
                           });
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
  beast::error_code ec;
  m_stream.socket().shutdown(tcp::socket::shutdown_both, ec);
  m_stream.socket().close(ec);
}

}  // namespace host
