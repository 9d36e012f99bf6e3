// The host's status pages and the figures behind them. Both hosts own one,
// record every request they answer in it (by page command and status, with
// its time and body bytes), and hand it requests for the two status paths:
//
//   GET /healthz   200 "ok" while the extension serves; 503 while it starts
//                  or when it could open nothing to serve from
//   GET /metrics   the host's figures and the extension's own
//                  (GetExtensionStatus), in the Prometheus text format
//
// Only clients the address filter allows (loopback by default) get them;
// others get 403. Thread-safe: request threads record, any thread answers.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/address_filter.h"
#include "host/extension_module.h"

namespace host {

class HostStatus {
 public:
  // Labels of requests that are no page of the extension.
  static constexpr const char* kStatic = "static";       // a file of the installation directory
  static constexpr const char* kStatusPage = "status";   // /metrics, /healthz
  static constexpr const char* kRefused = "refused";     // refused by the host before it was routed
  static constexpr const char* kUnknown = "attachment";  // no command word: an act reference

  // The module must be loaded and outlive this object; its command words
  // are read here.
  HostStatus(const ExtensionModule& module, AddressFilter allowed);

  // The label of an extension request: the family of a reader address
  // ("/eli", "/api", ...: ReaderAddressFamily), else its command word as
  // the extension spells it (matched without case, a "Portico=" prefix
  // dropped), or kUnknown. Never a path or a word the extension does not
  // know, so that clients cannot multiply the series.
  std::string CommandOf(std::string_view path, const std::string& queryString) const;

  void Record(const std::string& command, int status, std::uint64_t bodyBytes,
              std::chrono::steady_clock::duration elapsed);

  struct Answer {
    int status = 200;
    std::string contentType;
    std::string body;
  };
  // The answer when `path` is a status page, nothing otherwise.
  // `openConnections` is the host's count of connections open now.
  std::optional<Answer> Respond(const std::string& method, const std::string& path, const std::string& remoteAddress,
                                std::size_t openConnections) const;

  // The /metrics text (exposed for tests).
  std::string MetricsText(std::size_t openConnections) const;

  // Latency histogram bounds, seconds.
  static constexpr std::array<double, 13> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                      0.25,  0.5,    1,     2.5,  5,     10};

 private:
  const ExtensionModule& m_module;
  AddressFilter m_allowed;
  std::vector<std::string> m_commands;

  mutable std::mutex m_mutex;
  std::map<std::pair<std::string, int>, std::uint64_t> m_requests;
  std::array<std::uint64_t, kBuckets.size() + 1> m_latency{};  // the last: above every bound
  std::uint64_t m_latencyMicros = 0;
  std::uint64_t m_bytes = 0;
};

}  // namespace host
