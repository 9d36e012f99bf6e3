#include "host/http_messages.h"

#include "host/request_info.h"
#include "host/static_files.h"

namespace host {

namespace http = boost::beast::http;

namespace {

const char* StandardReason(int status) {
  return http::obsolete_reason(static_cast<http::status>(status)).data();
}

}  // namespace

std::string HttpDate(std::time_t t) {
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return text;
}

bool IsReaderAddress(std::string_view path) { return !ReaderAddressFamily(path).empty(); }

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
  } else if (IsReaderAddress(route.url)) {
    route.extension = true;
    route.readerAddress = true;
  }
  return route;
}

std::shared_ptr<http::response<http::string_body>> ErrorResponse(int status, unsigned version, bool keepAlive,
                                                                 bool head, const char* allow) {
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

}  // namespace host
