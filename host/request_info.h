// What a host knows of one request, in the terms an extension asks about:
// the request line split up, the header fields, the body, the connection.
// Hosts fill it; the extension driver and the filter read it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/windows_types.h"

namespace host {

struct RequestInfo {
  std::string method;          // "GET"
  std::string url;             // decoded path of the request, "/portico.dll/NAME.ATT"
  std::string scriptName;      // the extension's part of it, "/portico.dll"; empty for static files
  std::string queryString;     // raw text behind "?"
  std::string pathInfo;        // decoded path behind the script name, "/NAME.ATT"
  std::string pathTranslated;  // pathInfo mapped into the installation directory
  std::string protocol;        // "HTTP/1.1"
  std::string remoteAddress;
  std::string serverName;
  std::string serverPort;
  std::vector<std::pair<std::string, std::string>> headers;  // as received, in order
  std::string body;

  // The first header field of that name (names compare without case).
  std::optional<std::string_view> Header(std::string_view name) const;
};

// The value of a server variable for this request, or nothing for a variable
// the server does not know (and for HTTP_<NAME> when the request has no such
// header field). Names compare without regard to case. Known: REQUEST_METHOD,
// QUERY_STRING, PATH_INFO, PATH_TRANSLATED, SCRIPT_NAME, URL, SERVER_PROTOCOL,
// SERVER_NAME, SERVER_PORT, SERVER_SOFTWARE, REMOTE_ADDR, REMOTE_HOST,
// CONTENT_TYPE, CONTENT_LENGTH, HTTPS, ALL_HTTP and HTTP_<NAME> for any
// request header field (dashes written as underscores).
std::optional<std::string> ServerVariable(const RequestInfo& request, std::string_view name);

// The server variable protocol of both the extension and the filter callbacks:
// copies the value with its terminating zero into buffer[*size]. A buffer too
// small fails (errno ENOBUFS) with *size set to the size needed; an unknown
// variable fails (errno ENOENT) and leaves *size alone.
bool CopyServerVariable(const RequestInfo& request, const char* name, void* buffer, DWORD* size);

// ASCII case-insensitive equality, for header and variable names.
bool EqualsNoCase(std::string_view a, std::string_view b);

// The reader addresses that the extension serves beside "/portico.dll", by
// family: "/eli" (paths below "/eli/"), "/api" ("/api/..."), "/feed"
// ("/feed/..."), "/sitemap.xml" and "/robots.txt" (decoded path, exact
// case). Empty for any other path. The family, never the path, labels such
// a request in the host's figures.
std::string_view ReaderAddressFamily(std::string_view path);

}  // namespace host
