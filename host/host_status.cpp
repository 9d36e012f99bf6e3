#include "host/host_status.h"

#include <cstdio>

#include "host/request_info.h"

namespace host {

namespace {

constexpr char kMetricsType[] = "text/plain; version=0.0.4; charset=utf-8";
constexpr char kTextType[] = "text/plain; charset=utf-8";

void Describe(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

}  // namespace

HostStatus::HostStatus(const ExtensionModule& module, AddressFilter allowed)
    : m_module(module), m_allowed(std::move(allowed)) {
  const std::string words = module.Status(false).commands;
  std::size_t start = 0;
  while (start < words.size()) {
    std::size_t end = words.find(' ', start);
    if (end == std::string::npos) end = words.size();
    if (end > start) m_commands.push_back(words.substr(start, end - start));
    start = end + 1;
  }
}

std::string HostStatus::CommandOf(std::string_view path, const std::string& queryString) const {
  if (std::string_view family = ReaderAddressFamily(path); !family.empty()) return std::string(family);
  // The extension's own reading: the word before the first "&" (the whole
  // query when there is none), "Portico=" dropped before an "&".
  std::string word = queryString.substr(0, queryString.find('&'));
  constexpr std::string_view kPrefix = "Portico=";
  if (word.size() < queryString.size() && word.compare(0, kPrefix.size(), kPrefix) == 0) word.erase(0, kPrefix.size());
  for (const std::string& command : m_commands)
    if (EqualsNoCase(word, command)) return command;
  return kUnknown;
}

void HostStatus::Record(const std::string& command, int status, std::uint64_t bodyBytes,
                        std::chrono::steady_clock::duration elapsed) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  std::size_t bucket = 0;
  while (bucket < kBuckets.size() && seconds > kBuckets[bucket]) ++bucket;
  if (status < 100 || status > 599) status = 0;
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_requests[{command, status}];
  ++m_latency[bucket];
  m_latencyMicros += static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
  m_bytes += bodyBytes;
}

std::string HostStatus::MetricsText(std::size_t openConnections) const {
  ExtensionModule::Report extension = m_module.Status(true);
  std::string out;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    Describe(out, "vamu_requests_total", "counter", "Requests answered, by page command and status.");
    for (const auto& [key, count] : m_requests)
      out += "vamu_requests_total{command=\"" + key.first + "\",status=\"" + std::to_string(key.second) + "\"} " +
             std::to_string(count) + "\n";
    Describe(out, "vamu_request_duration_seconds", "histogram",
             "Time from a request's first byte to the end of its answer, seconds.");
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i <= kBuckets.size(); ++i) {
      cumulative += m_latency[i];
      out += "vamu_request_duration_seconds_bucket{le=\"" + (i < kBuckets.size() ? Number(kBuckets[i]) : "+Inf") +
             "\"} " + std::to_string(cumulative) + "\n";
    }
    out += "vamu_request_duration_seconds_sum " + Number(double(m_latencyMicros) / 1e6) + "\n";
    out += "vamu_request_duration_seconds_count " + std::to_string(cumulative) + "\n";
    Describe(out, "vamu_response_bytes_total", "counter", "Body bytes sent.");
    out += "vamu_response_bytes_total " + std::to_string(m_bytes) + "\n";
  }
  Describe(out, "vamu_open_connections", "gauge", "Client connections open now.");
  out += "vamu_open_connections " + std::to_string(openConnections) + "\n";
  Describe(out, "vamu_extension_state", "gauge", "0 starting, 1 serving, 2 nothing to serve from.");
  out += "vamu_extension_state " + std::to_string(extension.state) + "\n";
  return out + extension.metrics;
}

std::optional<HostStatus::Answer> HostStatus::Respond(const std::string& method, const std::string& path,
                                                      const std::string& remoteAddress,
                                                      std::size_t openConnections) const {
  if (path != "/metrics" && path != "/healthz") return std::nullopt;
  if (!m_allowed.Allows(remoteAddress)) return Answer{403, kTextType, "forbidden\n"};
  if (method != "GET" && method != "HEAD") return Answer{405, kTextType, "method not allowed\n"};
  if (path == "/metrics") return Answer{200, kMetricsType, MetricsText(openConnections)};
  switch (m_module.Status(false).state) {
    case EXTENSION_STATE_SERVING: return Answer{200, kTextType, "ok\n"};
    case EXTENSION_STATE_STARTING: return Answer{503, kTextType, "starting\n"};
    default: return Answer{503, kTextType, "nothing to serve from\n"};
  }
}

}  // namespace host
