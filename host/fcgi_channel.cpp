#include "host/fcgi_channel.h"

#include <fcgiapp.h>

#include <algorithm>
#include <climits>

namespace host {

namespace {

// libfcgi counts in int: large writes go in pieces.
constexpr std::size_t kPiece = 1 << 20;

const char* ReasonOf(int status) {
  switch (status) {
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 413: return "Content Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

}  // namespace

std::string FcgiChannel::HeadText(const ResponseHead& head) {
  // Without a reason of its own the web server adds the standard phrase.
  std::string text = "Status: " + std::to_string(head.status);
  if (!head.reason.empty()) text += " " + head.reason;
  text += "\r\n";
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
