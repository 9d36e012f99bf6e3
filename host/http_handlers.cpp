// HttpSession, worker side: answers a complete request, through the
// extension or from the installation directory, and logs it.
#include <ctime>
#include <exception>

#include <boost/asio/post.hpp>

#include "host/extension_service.h"
#include "host/http_messages.h"
#include "host/http_session.h"
#include "host/http_stream.h"
#include "host/url_map_filter.h"

namespace host {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

void HttpSession::Handle(Job& job) {
  if (m_server.stopping) {
    PostWhole(ErrorResponse(503, job.version, false, job.head));
    LogRequest(job, 503, 0, {});
    return;
  }
  if (job.extension)
    HandleExtension(job);
  else if (!HandleStatusPage(job))
    HandleStatic(job);
}

bool HttpSession::HandleStatusPage(Job& job) {
  std::optional<HostStatus::Answer> answer =
      m_server.status.Respond(job.info.method, job.info.url, m_remote, m_server.connections);
  if (!answer) return false;
  job.command = HostStatus::kStatusPage;
  auto res = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(answer->status), job.version);
  SetServerFields(*res);
  res->set(http::field::content_type, answer->contentType);
  res->set(http::field::cache_control, "no-store");
  res->keep_alive(job.keepAlive);
  std::uint64_t bytes = job.head ? 0 : answer->body.size();
  if (job.head) {
    res->content_length(answer->body.size());
  } else {
    res->body() = std::move(answer->body);
    res->prepare_payload();
  }
  PostWhole(res);
  LogRequest(job, answer->status, bytes, {});
  return true;
}

void HttpSession::HandleExtension(Job& job) {
  StreamChannel channel(shared_from_this());
  ExtensionOutcome outcome = ServeExtensionRequest(m_server.module, m_server.files, job.info, channel);
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
  m_server.status.Record(job.command, status, bytes, record.elapsed);  // counted once logged
  m_server.log.Write(record);
}

template <class Body>
void HttpSession::PostWhole(std::shared_ptr<http::response<Body>> response) {
  net::post(m_stream.get_executor(), [self = shared_from_this(), response] {
    self->WriteWhole(response, std::make_shared<http::response_serializer<Body>>(*response));
  });
}

}  // namespace host
