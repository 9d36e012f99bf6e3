// Drives one request through the extension: builds the control block over a
// RequestInfo and a ResponseChannel, calls HttpExtensionProc on the calling
// thread, and ends the response according to what the extension did. Every
// host runs its extension requests through here, so they all end alike.
//
//   host::ExtensionCall call(request, channel);
//   host::ExtensionOutcome outcome = call.Run(module);   // then log outcome
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/extension_module.h"
#include "host/request_info.h"
#include "host/response_channel.h"
#include "platform/isapi.h"

namespace host {

struct ExtensionOutcome {
  DWORD result = 0;          // what HttpExtensionProc returned (HSE_STATUS_ERROR when it threw)
  bool threw = false;
  int status = 0;            // status the client got
  std::uint64_t bytes = 0;   // body bytes handed to the channel
  bool aborted = false;      // connection closed in the middle of the response
  std::string logData;       // the extension's log field
};

// How a request ends:
//  - result 0, HSE_STATUS_SUCCESS or ..._AND_KEEP_CONN: the response is
//    finished; one that never wrote gets its header (or an empty response with
//    the control block's status) so the client is not left waiting;
//  - anything else (HSE_STATUS_ERROR, an exception, HSE_STATUS_PENDING which
//    this server does not support): before any body byte a 500 page, after
//    some the connection is closed. Exceptions are logged with the query string.
class ExtensionCall {
 public:
  // Both must outlive the call; the control block points into `request`.
  ExtensionCall(RequestInfo& request, ResponseChannel& channel);
  ExtensionCall(const ExtensionCall&) = delete;
  ExtensionCall& operator=(const ExtensionCall&) = delete;
  ~ExtensionCall();

  ExtensionOutcome Run(const ExtensionModule& module);

  // The pieces of Run, for hosts that call the extension themselves and for tests.
  EXTENSION_CONTROL_BLOCK* Ecb() { return &m_ecb; }
  ExtensionOutcome Finish(DWORD result, bool threw);

 private:
  static ExtensionCall* FromConn(HCONN conn);
  static BOOL GetServerVariableCallback(HCONN conn, LPSTR name, LPVOID buffer, LPDWORD size);
  static BOOL WriteClientCallback(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD flags);
  static BOOL ReadClientCallback(HCONN conn, LPVOID buffer, LPDWORD size);
  static BOOL ServerSupportCallback(HCONN conn, DWORD request, LPVOID buffer, LPDWORD size, LPDWORD dataType);

  BOOL WriteClient(const char* data, DWORD size);
  BOOL ReadClient(void* buffer, DWORD* size);
  BOOL SendResponseHeader(const char* status, const char* headerText);
  BOOL Redirect(const char* url);
  // Sends the head (the extension's or the default) and any body text that
  // came with it; false once the client is gone.
  bool SendHeadOnce();

  static constexpr std::uint32_t kMagic = 0x5641'4d55;  // guards ConnID against stale handles
  std::uint32_t m_magic = kMagic;
  RequestInfo& m_request;
  ResponseChannel& m_channel;
  EXTENSION_CONTROL_BLOCK m_ecb{};
  std::optional<ResponseHead> m_head;  // asked for, not yet sent
  std::string m_contentType;           // lpszContentType points here
  std::string m_headBody;              // body text that followed the header text
  bool m_headSent = false;
  bool m_broken = false;               // a write failed: the client is gone
  std::uint64_t m_bytes = 0;
  std::size_t m_readOffset = 0;
};

// The header text of HSE_REQ_SEND_RESPONSE_HEADER: "Name: value\r\n" lines up
// to an empty line; what follows it is body text. Lines that are not a valid
// field, and framing fields, are dropped. Exposed for tests.
void ParseHeaderText(const char* text, ResponseHead& head, std::string& body);
// "404 Not Found" -> 404, "Not Found". False for text that is not a status 200-599.
bool ParseStatusText(const char* text, ResponseHead& head);

}  // namespace host
