// One request as the pages see it: the server's control block, the response
// header, the body writer, and the conventions every page ends with
// (WritePage with its code-page declaration, chunked writing, the request
// epilogue). Dispatch makes one CRequest per call of HttpExtensionProc and
// hands it to the page; the page writes through it on the calling thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/isapi.h"

namespace portico {

// Body text is written in pieces of at most this many bytes.
constexpr std::size_t kPieceSize = 100000;
// WritePage looks at no more than this many bytes of a piece.
constexpr std::size_t kWritePageLimit = 3000;

class CRequest {
 public:
  // The control block stays the server's; it must outlive this object.
  explicit CRequest(EXTENSION_CONTROL_BLOCK* ecb);
  CRequest(const CRequest&) = delete;
  CRequest& operator=(const CRequest&) = delete;

  EXTENSION_CONTROL_BLOCK* Ecb() const { return m_ecb; }
  // Never null: "" stands for a field the server left null.
  const char* Method() const;
  const char* QueryString() const;
  const char* PathTranslated() const;

  // Sends the response header: the server's default status and
  // "Content-type: text/html\r\n\r\n". TRUE when the server took it.
  BOOL SendHeader();

  // Writes body bytes. Small writes are gathered into pieces of up to
  // kPieceSize bytes before they go to the server (every write to the server
  // costs a round trip to the connection); a write of a large block goes out
  // as it is. The bytes reach the client in the order written. False once a
  // write to the client has failed; later writes then do nothing.
  bool Write(const char* data, std::size_t size);
  bool Write(std::string_view text) { return Write(text.data(), text.size()); }
  // Hands the gathered bytes to the server. False when the client is gone.
  bool Flush();
  bool Failed() const { return m_failed; }
  // While a sink is set, every byte written is also appended to it (the
  // page cache keeps what a page wrote); null stops the copying.
  void CopyTo(std::string* sink) { m_copy = sink; }

  // A server variable, at most maxSize - 1 bytes; nothing when the server
  // does not know it or it is longer.
  std::optional<std::string> ServerVariable(const char* name, std::size_t maxSize) const;

 private:
  bool WriteToServer(const char* data, std::size_t size);

  EXTENSION_CONTROL_BLOCK* m_ecb;
  std::string m_piece;  // gathered bytes not yet handed to the server
  bool m_failed = false;
  std::string* m_copy = nullptr;
};

// Writes a piece of HTML, adding the windows-1250 declaration (and a head
// when the piece has none) unless the first 3000 bytes already declare it;
// `extra` (may be null) is further text for the head. Only the first
// kWritePageLimit bytes are looked at. Returns TRUE when every write succeeded.
BOOL WritePage(CRequest& request, const char* text, std::size_t length, const char* extra = nullptr);

// Writes n bytes in pieces of at most kPieceSize: the first piece through
// WritePage, the others directly; stops at the first piece that fails.
// Returns false when a write failed.
bool WriteChunked(CRequest& request, const char* text, std::size_t length);
// Writes n bytes in pieces of at most kPieceSize, none through WritePage;
// stops at the first piece that fails. Returns false when a write failed.
bool WritePieces(CRequest& request, const char* text, std::size_t length);

// The end of every page: sends what is still gathered, returns free heap
// memory to the system, copies the browser's user agent into the server's
// log field (at most 79 bytes; empty when the server cannot tell it), and
// sets the logged status to 200.
void RunEpilogue(CRequest& request);

// The response header text of every page.
constexpr const char* kHtmlHeader = "Content-type: text/html\r\n\r\n";

}  // namespace portico
