#include "portico/request.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "portico/text.h"

namespace portico {

namespace {

// Writes of at least this size go to the server as they are instead of
// being copied into the gathered piece.
constexpr std::size_t kDirectWrite = 16384;

constexpr char kCharsetMark[] = "charset=windows-1250";
constexpr char kDeclaration[] = "\r\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">\r\n";

// Heap compaction after every page can be switched off for measurements
// with VAMU_HEAP_TRIM=0 in the server's environment.
bool HeapTrimEnabled() {
  static const bool enabled = [] {
    const char* v = std::getenv("VAMU_HEAP_TRIM");
    return !(v && std::strcmp(v, "0") == 0);
  }();
  return enabled;
}

// Free heap goes back to the system after a page, so that the memory of a
// large document does not stay with the process; at most once in
// kTrimInterval, because malloc_trim walks the whole heap: measured at about
// a millisecond per call beside a loaded catalogue, more than a cached
// search page takes. One thread trims; the others go on.
constexpr std::int64_t kTrimIntervalMs = 200;

void CompactHeap() {
  static std::atomic<std::int64_t> lastTrim{std::numeric_limits<std::int64_t>::min() / 2};
  const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  std::int64_t previous = lastTrim.load(std::memory_order_relaxed);
  if (now - previous < kTrimIntervalMs) return;
  if (!lastTrim.compare_exchange_strong(previous, now)) return;
  malloc_trim(0);
}

}  // namespace

CRequest::CRequest(EXTENSION_CONTROL_BLOCK* ecb) : m_ecb(ecb) {}

const char* CRequest::Method() const { return m_ecb->lpszMethod ? m_ecb->lpszMethod : ""; }
const char* CRequest::QueryString() const { return m_ecb->lpszQueryString ? m_ecb->lpszQueryString : ""; }
const char* CRequest::PathTranslated() const { return m_ecb->lpszPathTranslated ? m_ecb->lpszPathTranslated : ""; }

BOOL CRequest::SendHeader() {
  if (!m_ecb->ServerSupportFunction) return FALSE;
  return m_ecb->ServerSupportFunction(m_ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, nullptr, nullptr,
                                      reinterpret_cast<LPDWORD>(const_cast<char*>(kHtmlHeader)));
}

bool CRequest::WriteToServer(const char* data, std::size_t size) {
  if (m_failed) return false;
  if (size == 0) return true;
  DWORD n = static_cast<DWORD>(size);
  if (!m_ecb->WriteClient || !m_ecb->WriteClient(m_ecb->ConnID, const_cast<char*>(data), &n, HSE_IO_SYNC))
    m_failed = true;
  return !m_failed;
}

bool CRequest::Write(const char* data, std::size_t size) {
  if (m_failed) return false;
  if (m_copy) m_copy->append(data, size);
  if (size >= kDirectWrite) return Flush() && WriteToServer(data, size);
  if (m_piece.size() + size > kPieceSize && !Flush()) return false;
  m_piece.append(data, size);
  return true;
}

bool CRequest::Flush() {
  bool ok = WriteToServer(m_piece.data(), m_piece.size());
  m_piece.clear();
  return ok;
}

std::optional<std::string> CRequest::ServerVariable(const char* name, std::size_t maxSize) const {
  if (!m_ecb->GetServerVariable || maxSize == 0) return std::nullopt;
  std::vector<char> buffer(maxSize);
  DWORD size = static_cast<DWORD>(maxSize);
  if (!m_ecb->GetServerVariable(m_ecb->ConnID, const_cast<char*>(name), buffer.data(), &size)) return std::nullopt;
  return std::string(buffer.data(), strnlen(buffer.data(), std::min<std::size_t>(size, maxSize)));
}

BOOL WritePage(CRequest& request, const char* text, std::size_t length, const char* extra) {
  std::string_view all(text, length);
  std::string_view head = all.substr(0, std::min(length, kWritePageLimit));
  const bool declare = head.find(kCharsetMark) == npos;

  // A head tag within the first bytes: insert behind its ">".
  std::size_t insert = npos;
  bool headTagSeen = false;
  for (std::size_t i = head.find('<'); i != npos; i = head.find('<', i + 1)) {
    std::size_t j = i + 1;
    while (j < head.size() && IsBlank(head[j])) ++j;
    if (j + 4 <= head.size() && EqualsNoCase(head.substr(j, 4), "HEAD")) {
      std::size_t close = all.find('>', j + 4);
      if (close != npos) {
        insert = close + 1;
        headTagSeen = true;
      }
      break;
    }
  }
  // No head: one is made behind a leading "<HTML>" tag, behind its ">" also
  // when the tag has attributes ("<HTML lang=pl>").
  const bool needHead = !headTagSeen;
  if (needHead) {
    std::size_t i = all.find('<');
    if (i != npos) {
      std::size_t j = i + 1;
      while (j < length && IsBlank(all[j])) ++j;
      if (j + 4 <= length && EqualsNoCase(all.substr(j, 4), "HTML")) {
        std::size_t close = all.find('>', j + 4);
        if (close != npos) insert = close + 1;
      }
    }
  }

  if (insert == npos || insert >= length) return request.Write(text, length) ? TRUE : FALSE;
  bool ok = request.Write(text, insert);
  if (needHead) ok = request.Write("<HEAD>") && ok;
  if (declare) ok = request.Write(kDeclaration) && ok;
  if (extra) ok = request.Write(extra) && ok;
  if (needHead) ok = request.Write("</HEAD>") && ok;
  ok = request.Write(text + insert, length - insert) && ok;
  return ok ? TRUE : FALSE;
}

bool WriteChunked(CRequest& request, const char* text, std::size_t length) {
  std::size_t first = std::min(length, kPieceSize);
  if (!WritePage(request, text, first)) return false;
  return WritePieces(request, text + first, length - first);
}

bool WritePieces(CRequest& request, const char* text, std::size_t length) {
  for (std::size_t offset = 0; offset < length; offset += kPieceSize)
    if (!request.Write(text + offset, std::min(kPieceSize, length - offset))) return false;
  return true;
}

void RunEpilogue(CRequest& request) {
  request.Flush();
  if (HeapTrimEnabled()) CompactHeap();
  EXTENSION_CONTROL_BLOCK* ecb = request.Ecb();
  std::optional<std::string> agent = request.ServerVariable("HTTP_USER_AGENT", 5000);
  std::size_t n = agent ? std::min<std::size_t>(agent->size(), HSE_LOG_BUFFER_LEN - 1) : 0;
  if (n) std::memcpy(ecb->lpszLogData, agent->data(), n);
  ecb->lpszLogData[n] = '\0';
  ecb->dwHttpStatusCode = 200;
}

}  // namespace portico
