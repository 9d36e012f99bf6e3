#include "host/access_log.h"

#include <ctime>

namespace host {

namespace {

// A megabyte of query string is not worth a megabyte of log line.
constexpr std::size_t kTargetLimit = 2000;
constexpr std::size_t kFieldLimit = 200;

}  // namespace

bool AccessLog::Open(const std::string& destination) {
  if (destination == "-") {
    m_file = stdout;
    m_owned = false;
    return true;
  }
  m_file = std::fopen(destination.c_str(), "a");
  m_owned = m_file != nullptr;
  return m_file != nullptr;
}

AccessLog::~AccessLog() {
  if (m_owned) std::fclose(m_file);
}

std::string AccessLog::Escape(std::string_view text, std::size_t limit) {
  std::string out;
  bool cut = text.size() > limit;
  if (cut) text = text.substr(0, limit);
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += char(c);
    }
  }
  if (cut) out += "...";
  return out;
}

void AccessLog::Write(const AccessRecord& r) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  char when[40];
  std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S +0000", &tm);
  long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(r.elapsed).count();

  std::string line = Escape(r.remoteAddress.empty() ? "-" : r.remoteAddress, kFieldLimit) + " - - [" + when +
                     "] \"" + Escape(r.method, kFieldLimit) + " " + Escape(r.target, kTargetLimit) + " " +
                     Escape(r.protocol, kFieldLimit) + "\" " + std::to_string(r.status) + " " +
                     std::to_string(r.bytes) + " \"" + (r.logData.empty() ? "-" : Escape(r.logData, kFieldLimit)) +
                     "\" " + std::to_string(ms) + "ms\n";
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_file) return;
  std::fwrite(line.data(), 1, line.size(), m_file);
  std::fflush(m_file);
}

}  // namespace host
