// The access log: one line per request, to a file or to standard output.
// Written by the request threads of a host; Write is safe from any thread.
//
//   127.0.0.1 - - [05/Mar/2024:10:15:02 +0000] "GET /portico.dll?Topic&3 HTTP/1.1" 200 5120 "Mozilla/4.0" 12ms
//
// The quoted last field is the extension's log field (the browser, as the
// extension copies it there); "-" for requests the extension did not see.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace host {

struct AccessRecord {
  std::string remoteAddress;
  std::string method;
  std::string target;       // as received, query included
  std::string protocol;     // "HTTP/1.1"
  int status = 0;
  std::uint64_t bytes = 0;  // body bytes sent
  std::string logData;      // empty: "-"
  std::chrono::steady_clock::duration elapsed{};
};

class AccessLog {
 public:
  // "-" is standard output; anything else a file opened for appending.
  // False with errno set when the file cannot be opened.
  bool Open(const std::string& destination);
  // Writes one line and flushes it, so a crash loses nothing already logged.
  void Write(const AccessRecord& record);
  ~AccessLog();

  // Untrusted text made safe for one log line: control bytes, quotes and
  // backslashes escaped as \xHH, cut to `limit` bytes (then "...").
  static std::string Escape(std::string_view text, std::size_t limit);

 private:
  std::mutex m_mutex;
  std::FILE* m_file = nullptr;
  bool m_owned = false;
};

}  // namespace host
