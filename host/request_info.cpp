#include "host/request_info.h"

#include <cerrno>
#include <cstring>

namespace host {

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

// "User-Agent" -> "HTTP_USER_AGENT".
std::string HeaderVariableName(std::string_view field) {
  std::string name = "HTTP_";
  for (char c : field) name += c == '-' ? '_' : AsciiUpper(c);
  return name;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

std::string_view ReaderAddressFamily(std::string_view path) {
  for (std::string_view family : {"/eli", "/api", "/feed"})
    if (path.size() > family.size() && path.substr(0, family.size()) == family && path[family.size()] == '/')
      return family;
  for (std::string_view file : {"/sitemap.xml", "/robots.txt"})
    if (path == file) return file;
  return {};
}

std::optional<std::string_view> RequestInfo::Header(std::string_view name) const {
  for (const auto& [field, value] : headers)
    if (EqualsNoCase(field, name)) return std::string_view(value);
  return std::nullopt;
}

std::optional<std::string> ServerVariable(const RequestInfo& r, std::string_view name) {
  struct Fixed {
    const char* name;
    std::string RequestInfo::*member;
  };
  static const Fixed kFixed[] = {
      {"REQUEST_METHOD", &RequestInfo::method},   {"QUERY_STRING", &RequestInfo::queryString},
      {"PATH_INFO", &RequestInfo::pathInfo},      {"PATH_TRANSLATED", &RequestInfo::pathTranslated},
      {"SCRIPT_NAME", &RequestInfo::scriptName},  {"URL", &RequestInfo::url},
      {"SERVER_PROTOCOL", &RequestInfo::protocol}, {"SERVER_NAME", &RequestInfo::serverName},
      {"SERVER_PORT", &RequestInfo::serverPort},  {"REMOTE_ADDR", &RequestInfo::remoteAddress},
      {"REMOTE_HOST", &RequestInfo::remoteAddress},
  };
  for (const Fixed& f : kFixed)
    if (EqualsNoCase(name, f.name)) return r.*f.member;

  if (EqualsNoCase(name, "SERVER_SOFTWARE")) return std::string("vamuserver");
  if (EqualsNoCase(name, "HTTPS")) return std::string("off");
  if (EqualsNoCase(name, "CONTENT_LENGTH")) return std::to_string(r.body.size());
  if (EqualsNoCase(name, "CONTENT_TYPE")) return std::string(r.Header("Content-Type").value_or(""));
  if (EqualsNoCase(name, "ALL_HTTP")) {
    std::string all;
    for (const auto& [field, value] : r.headers) all += HeaderVariableName(field) + ":" + value + "\n";
    return all;
  }
  if (name.size() > 5 && EqualsNoCase(name.substr(0, 5), "HTTP_")) {
    for (const auto& [field, value] : r.headers)
      if (EqualsNoCase(HeaderVariableName(field), name)) return value;
  }
  return std::nullopt;
}

bool CopyServerVariable(const RequestInfo& request, const char* name, void* buffer, DWORD* size) {
  if (!name || !size) {
    errno = EINVAL;
    return false;
  }
  std::optional<std::string> value = ServerVariable(request, name);
  if (!value) {
    errno = ENOENT;
    return false;
  }
  DWORD needed = DWORD(value->size() + 1);
  if (!buffer || *size < needed) {
    *size = needed;
    errno = ENOBUFS;
    return false;
  }
  std::memcpy(buffer, value->c_str(), needed);
  *size = needed;
  return true;
}

}  // namespace host
