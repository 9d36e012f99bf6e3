#include "host/fcgi_channel.h"

#include <fcgiapp.h>

#include <algorithm>
#include <climits>

namespace host {

namespace {

// libfcgi counts in int: large writes go in pieces.
constexpr std::size_t kPiece = 1 << 20;

// The standard phrase of a status. nginx copies a "Status:" value into its
// status line as it is, and "HTTP/1.1 200" without a phrase is not a valid
// status line, so the host always sends one.
const char* ReasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 410: return "Gone";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
  }
  if (status < 300) return "Success";
  if (status < 400) return "Redirection";
  if (status < 500) return "Client Error";
  return "Server Error";
}

}  // namespace

std::string FcgiChannel::HeadText(const ResponseHead& head) {
  std::string text = "Status: " + std::to_string(head.status) + " " +
                     (head.reason.empty() ? std::string(ReasonOf(head.status)) : head.reason) + "\r\n";
  for (const auto& [name, value] : head.fields) text += name + ": " + value + "\r\n";
  text += "\r\n";
  return text;
}

bool FcgiChannel::SendHead(const ResponseHead& head) {
  std::string text = HeadText(head);
  if (m_failed || FCGX_PutStr(text.data(), int(text.size()), m_out) < 0) m_failed = true;
  return !m_failed;
}

bool FcgiChannel::Write(const char* data, std::size_t size) {
  while (size > 0 && !m_failed) {
    std::size_t n = std::min(size, kPiece);
    if (FCGX_PutStr(data, int(n), m_out) < 0) {
      m_failed = true;
      break;
    }
    m_sent += n;
    data += n;
    size -= n;
  }
  return !m_failed;
}

void FcgiChannel::Finish() {
  if (!m_failed && FCGX_FFlush(m_out) < 0) m_failed = true;
}

void FcgiChannel::AnswerError(int status) {
  ResponseHead head;
  head.status = status;
  head.fields.emplace_back("Content-Type", "text/html");
  std::string title = std::to_string(status) + " " + ReasonOf(status);
  std::string page = "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD><BODY><H1>" + title + "</H1></BODY></HTML>";
  if (SendHead(head) && Write(page.data(), page.size())) Finish();
}

}  // namespace host
