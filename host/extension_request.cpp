#include "host/extension_request.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "host/error_log.h"

namespace host {

namespace {

constexpr char kErrorPage[] =
    "<HTML><HEAD><TITLE>500 Internal Server Error</TITLE></HEAD>"
    "<BODY><H1>500 Internal Server Error</H1></BODY></HTML>";

bool IsTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != 0;
}

// Fields whose meaning belongs to the connection, which the host manages.
bool IsFramingField(std::string_view name) {
  for (const char* f : {"Content-Length", "Transfer-Encoding", "Connection", "Keep-Alive", "Upgrade", "TE", "Trailer"})
    if (EqualsNoCase(name, f)) return true;
  return false;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool HasControlChar(std::string_view s) {
  for (unsigned char c : s)
    if ((c < 0x20 && c != '\t') || c == 0x7f) return true;
  return false;
}

}  // namespace

bool ParseStatusText(const char* text, ResponseHead& head) {
  std::string_view s = Trim(text);
  if (s.size() < 3) return false;
  int status = 0;
  for (int i = 0; i < 3; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    status = status * 10 + (s[i] - '0');
  }
  if (status < 200 || status > 599) return false;
  std::string_view reason = s.substr(3);
  if (!reason.empty() && reason.front() != ' ') return false;
  reason = Trim(reason);
  if (HasControlChar(reason)) return false;
  head.status = status;
  head.reason = std::string(reason);
  return true;
}

void ParseHeaderText(const char* text, ResponseHead& head, std::string& body) {
  std::string_view rest = text;
  while (!rest.empty()) {
    std::size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      body.assign(rest);
      return;
    }
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    std::string_view name = line.substr(0, colon);
    std::string_view value = Trim(line.substr(colon + 1));
    bool valid = !HasControlChar(value);
    for (unsigned char c : name) valid = valid && IsTokenChar(c);
    if (!valid || IsFramingField(name)) continue;
    head.fields.emplace_back(std::string(name), std::string(value));
  }
}

ExtensionCall::ExtensionCall(RequestInfo& request, ResponseChannel& channel)
    : m_request(request), m_channel(channel) {
  m_ecb.cbSize = sizeof m_ecb;
  m_ecb.dwVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
  m_ecb.ConnID = this;
  m_ecb.dwHttpStatusCode = 200;
  m_ecb.lpszLogData[0] = '\0';
  m_ecb.lpszMethod = request.method.data();
  m_ecb.lpszQueryString = request.queryString.data();
  m_ecb.lpszPathInfo = request.pathInfo.data();
  m_ecb.lpszPathTranslated = request.pathTranslated.data();
  // Hosts refuse bodies far below 4 GiB, so the size fits the 32-bit fields.
  m_ecb.cbTotalBytes = DWORD(request.body.size());
  m_ecb.cbAvailable = DWORD(request.body.size());
  m_ecb.lpbData = reinterpret_cast<LPBYTE>(request.body.data());
  m_contentType = std::string(request.Header("Content-Type").value_or(""));
  m_ecb.lpszContentType = m_contentType.data();
  m_ecb.GetServerVariable = &GetServerVariableCallback;
  m_ecb.WriteClient = &WriteClientCallback;
  m_ecb.ReadClient = &ReadClientCallback;
  m_ecb.ServerSupportFunction = &ServerSupportCallback;
  m_readOffset = request.body.size();
}

ExtensionCall::~ExtensionCall() { m_magic = 0; }

ExtensionCall* ExtensionCall::FromConn(HCONN conn) {
  auto* call = static_cast<ExtensionCall*>(conn);
  if (!call || call->m_magic != kMagic) {
    errno = EINVAL;
    return nullptr;
  }
  return call;
}

// The callbacks are called from extension code: nothing may be thrown across it.
BOOL ExtensionCall::GetServerVariableCallback(HCONN conn, LPSTR name, LPVOID buffer, LPDWORD size) {
  ExtensionCall* call = FromConn(conn);
  if (!call) return FALSE;
  try {
    return CopyServerVariable(call->m_request, name, buffer, size) ? TRUE : FALSE;
  } catch (...) {
    errno = ENOMEM;
    return FALSE;
  }
}

BOOL ExtensionCall::WriteClientCallback(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD flags) {
  ExtensionCall* call = FromConn(conn);
  if (!call || !bytes || (!buffer && *bytes)) {
    errno = EINVAL;
    return FALSE;
  }
  if (flags & HSE_IO_ASYNC) {
    errno = ENOTSUP;  // no completion callbacks in this server
    return FALSE;
  }
  try {
    return call->WriteClient(static_cast<const char*>(buffer), *bytes);
  } catch (...) {
    call->m_broken = true;
    errno = EIO;
    return FALSE;
  }
}

BOOL ExtensionCall::ReadClientCallback(HCONN conn, LPVOID buffer, LPDWORD size) {
  ExtensionCall* call = FromConn(conn);
  if (!call || !size || (!buffer && *size)) {
    errno = EINVAL;
    return FALSE;
  }
  return call->ReadClient(buffer, size);
}

BOOL ExtensionCall::ServerSupportCallback(HCONN conn, DWORD request, LPVOID buffer, LPDWORD, LPDWORD dataType) {
  ExtensionCall* call = FromConn(conn);
  if (!call) return FALSE;
  try {
    switch (request) {
      case HSE_REQ_SEND_RESPONSE_HEADER:
        return call->SendResponseHeader(static_cast<const char*>(buffer), reinterpret_cast<const char*>(dataType));
      case HSE_REQ_SEND_URL_REDIRECT_RESP:
      case HSE_REQ_SEND_URL:
        return call->Redirect(static_cast<const char*>(buffer));
      case HSE_REQ_DONE_WITH_SESSION:
        return TRUE;
      default:
        errno = EINVAL;
        return FALSE;
    }
  } catch (...) {
    errno = ENOMEM;
    return FALSE;
  }
}

BOOL ExtensionCall::SendResponseHeader(const char* status, const char* headerText) {
  if (m_head || m_headSent) {
    errno = EALREADY;  // one header per response
    return FALSE;
  }
  ResponseHead head;
  if (status && !ParseStatusText(status, head)) {
    errno = EINVAL;
    return FALSE;
  }
  if (headerText) ParseHeaderText(headerText, head, m_headBody);
  // Held back until the first body byte: a request that fails before it
  // wrote anything can still get a proper error response.
  m_head = std::move(head);
  return TRUE;
}

BOOL ExtensionCall::Redirect(const char* url) {
  if (!url || !*url || HasControlChar(url)) {
    errno = EINVAL;
    return FALSE;
  }
  if (m_head || m_headSent) {
    errno = EALREADY;
    return FALSE;
  }
  ResponseHead head;
  head.status = 302;
  head.fields.emplace_back("Location", url);
  m_head = std::move(head);
  return TRUE;
}

bool ExtensionCall::SendHeadOnce() {
  if (m_headSent) return !m_broken;
  m_headSent = true;
  if (!m_head) m_head.emplace();  // written without a header: "200 OK"
  if (!m_channel.SendHead(*m_head)) {
    m_broken = true;
    return false;
  }
  if (!m_headBody.empty()) {
    if (!m_channel.Write(m_headBody.data(), m_headBody.size())) {
      m_broken = true;
      return false;
    }
    m_bytes += m_headBody.size();
  }
  return true;
}

BOOL ExtensionCall::WriteClient(const char* data, DWORD size) {
  if (m_broken) {
    errno = EPIPE;
    return FALSE;
  }
  if (size == 0) return TRUE;
  if (!SendHeadOnce() || !m_channel.Write(data, size)) {
    m_broken = true;
    errno = EPIPE;
    return FALSE;
  }
  m_bytes += size;
  return TRUE;
}

BOOL ExtensionCall::ReadClient(void* buffer, DWORD* size) {
  std::size_t left = m_request.body.size() - m_readOffset;
  std::size_t n = std::min<std::size_t>(left, *size);
  if (n) std::memcpy(buffer, m_request.body.data() + m_readOffset, n);
  m_readOffset += n;
  *size = DWORD(n);
  return TRUE;
}

ExtensionOutcome ExtensionCall::Run(const ExtensionModule& module) {
  DWORD result = HSE_STATUS_ERROR;
  std::string failure;
  try {
    result = module.CallHttpExtensionProc(&m_ecb);
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "an exception of unknown type";
  }
  if (!failure.empty()) {
    LogError("exception in the extension: " + failure + "; query string: " + m_request.queryString);
    return Finish(HSE_STATUS_ERROR, true);
  }
  return Finish(result, false);
}

ExtensionOutcome ExtensionCall::Finish(DWORD result, bool threw) {
  ExtensionOutcome out;
  out.result = result;
  out.threw = threw;
  out.logData.assign(m_ecb.lpszLogData, strnlen(m_ecb.lpszLogData, sizeof m_ecb.lpszLogData));

  bool succeeded = !threw && (result == 0 || result == HSE_STATUS_SUCCESS || result == HSE_STATUS_SUCCESS_AND_KEEP_CONN);
  if (result == HSE_STATUS_PENDING && !threw)
    LogError("the extension asked for asynchronous completion, which this server does not support; query string: " +
             m_request.queryString);

  if (succeeded && !m_headSent && !m_head) {
    // Nothing written at all: an empty response with the status the extension left.
    DWORD status = m_ecb.dwHttpStatusCode;
    m_head.emplace();
    m_head->status = (status >= 200 && status <= 599) ? int(status) : 200;
  }
  if (succeeded && SendHeadOnce()) {
    m_channel.Finish();
  } else if (!succeeded && !m_headSent) {
    // Failed before any output: the client learns it from a proper response.
    ResponseHead head;
    head.status = 500;
    head.fields.emplace_back("Content-Type", "text/html");
    m_head = std::move(head);
    m_headBody = kErrorPage;
    if (SendHeadOnce())
      m_channel.Finish();
    else
      m_channel.Abort();
  } else {
    m_channel.Abort();
    out.aborted = true;
  }
  out.status = m_head ? m_head->status : 200;
  out.bytes = m_bytes;
  return out;
}

}  // namespace host
