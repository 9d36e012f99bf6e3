#include "host/fcgi_request.h"

#include <fcgiapp.h>

#include <cstring>
#include <string_view>

#include "host/option_parser.h"

namespace host {

namespace {

constexpr std::size_t kBodyPiece = 64 * 1024;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

}  // namespace

std::string FieldNameOf(const std::string& tail) {
  std::string name;
  bool start = true;
  for (char c : tail) {
    if (c == '_') {
      name += '-';
      start = true;
    } else {
      name += start ? c : AsciiLower(c);
      start = false;
    }
  }
  return name;
}

int RequestFromParams(const char* const* params, std::size_t maxBytes, FcgiRequest* request) {
  RequestInfo& info = request->info;
  std::size_t total = 0;
  bool responder = false;
  std::string contentLength;
  bool hasContentLength = false;
  for (const char* const* p = params; p && *p; ++p) {
    std::string_view entry(*p);
    total += entry.size() + 1;
    if (total > maxBytes) return 431;
    std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    std::string_view name = entry.substr(0, eq);
    std::string value(entry.substr(eq + 1));
    struct Fixed {
      const char* name;
      std::string* field;
    };
    const Fixed fixed[] = {
        {"REQUEST_METHOD", &info.method},       {"QUERY_STRING", &info.queryString},
        {"SCRIPT_NAME", &info.scriptName},      {"PATH_INFO", &info.pathInfo},
        {"PATH_TRANSLATED", &info.pathTranslated}, {"SERVER_PROTOCOL", &info.protocol},
        {"REMOTE_ADDR", &info.remoteAddress},   {"SERVER_NAME", &info.serverName},
        {"SERVER_PORT", &info.serverPort},      {"REQUEST_URI", &request->target},
    };
    bool known = false;
    for (const Fixed& f : fixed) {
      if (name == f.name) {
        *f.field = std::move(value);
        known = true;
        break;
      }
    }
    if (known) continue;
    if (name == "FCGI_ROLE") {
      responder = value == "RESPONDER";
    } else if (name == "CONTENT_TYPE") {
      if (!value.empty()) info.headers.emplace_back("Content-Type", std::move(value));
    } else if (name == "CONTENT_LENGTH") {
      hasContentLength = !value.empty();
      contentLength = std::move(value);
    } else if (name.size() > 5 && name.substr(0, 5) == "HTTP_") {
      info.headers.emplace_back(FieldNameOf(std::string(name.substr(5))), std::move(value));
    }
  }
  if (!responder) return 403;
  if (hasContentLength) {
    unsigned long long n = 0;
    if (!ParseCount(contentLength, 0, ~0ull >> 1, &n)) return 400;
    request->contentLength = n;
  }
  info.url = info.scriptName + info.pathInfo;
  if (request->target.empty()) request->target = info.url + (info.queryString.empty() ? "" : "?" + info.queryString);
  return 0;
}

int ReadRequestBody(FCGX_Stream* in, std::size_t maxBytes, FcgiRequest* request) {
  std::string& body = request->info.body;
  if (request->contentLength && *request->contentLength > maxBytes) return 413;
  std::size_t want = request->contentLength ? std::size_t(*request->contentLength) : maxBytes + 1;
  while (body.size() < want) {
    std::size_t piece = std::min(kBodyPiece, want - body.size());
    std::size_t had = body.size();
    body.resize(had + piece);
    int got = FCGX_GetStr(body.data() + had, int(piece), in);
    body.resize(had + std::size_t(got > 0 ? got : 0));
    if (FCGX_GetError(in) != 0) return 400;
    if (std::size_t(got) < piece) break;  // end of the input
  }
  if (body.size() > maxBytes) {
    body.resize(maxBytes);
    return 413;
  }
  if (request->contentLength && body.size() != *request->contentLength) return 400;
  return 0;
}

}  // namespace host
