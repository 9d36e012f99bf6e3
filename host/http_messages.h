// The HTTP pieces the server's session needs apart from the connection: how a
// request target splits into path, extension path info and query, and the
// server's own responses and fields. Used by http_session*.cpp.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <boost/beast/http.hpp>

namespace host {

// The URL name under which browsers reach the extension ("/portico.dll?..."),
// compared without regard to case as on the server the site was made for.
inline constexpr std::string_view kExtensionName = "portico.dll";

inline std::string_view Sv(boost::beast::string_view s) { return {s.data(), s.size()}; }

struct Route {
  bool extension = false;
  bool readerAddress = false;  // handed to the extension whole (see IsReaderAddress)
  std::string url;             // decoded path
  std::string pathInfo;        // behind the extension's name
  std::string query;           // raw
};

// The reader addresses that the extension serves beside "/portico.dll"
// (ReaderAddressFamily, request_info.h). The host hands such a request to the
// extension with the whole path as its script name and no path info, as a
// FastCGI server does for a location mapped to it; the extension tells them
// from its own requests by the URL.
bool IsReaderAddress(std::string_view path);

// Splits a request target into the decoded path and the raw query; nothing
// for a target that is not a path (or an absolute URL) or does not decode.
std::optional<Route> ParseTarget(std::string_view target);

// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::time_t t);

template <class Message>
void SetServerFields(Message& m) {
  m.set(boost::beast::http::field::server, "vamuserver");
  m.set(boost::beast::http::field::date, HttpDate(std::time(nullptr)));
}

// A small HTML page for the server's own answers (404, 500, ...). A HEAD
// request gets the length and no body; `allow` lists the methods of a 405.
std::shared_ptr<boost::beast::http::response<boost::beast::http::string_body>> ErrorResponse(
    int status, unsigned version, bool keepAlive, bool head, const char* allow = nullptr);

}  // namespace host
