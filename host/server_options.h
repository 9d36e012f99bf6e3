// The command line of vamuserver, parsed into its settings. main() uses it;
// tests parse sample command lines with it.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace host {

struct ServerOptions {
  unsigned short port = 8080;   // 0: any free port, printed at start
  std::string bindAddress = "127.0.0.1";
  std::size_t threads = 8;      // request threads running the extension
  std::string registryPath;     // empty: the system's default registry file
  std::string logDestination = "-";  // access log: a file, or "-" for standard output
  std::string extensionPath;    // empty: ../lib/libportico.so beside the program
  std::string statusFrom = "loopback";  // who may read /metrics and /healthz (address_filter.h)
  std::size_t maxConnections = 256;
  // Open connections from one client address at most; 0: no such limit
  // (behind a proxy every connection comes from the proxy's address).
  std::size_t maxPerAddress = 32;
  std::size_t maxHeaderBytes = 16 * 1024;  // request line and header fields together
  std::size_t maxBodyBytes = 1024 * 1024;
  std::chrono::milliseconds idleTimeout{15000};     // keep-alive wait for the next request
  std::chrono::milliseconds headerTimeout{10000};   // for a request's head, from its first byte (first request: from the connection)
  std::chrono::milliseconds readTimeout{30000};     // from a request's first byte to its end
  std::chrono::milliseconds writeTimeout{60000};    // for one piece of a response
  std::chrono::milliseconds shutdownTimeout{10000}; // for running requests at stop
  bool help = false;
};

// Parses argv[1..]. Nothing, with a one-line reason in *error, for an
// unknown option, a missing or malformed value or one out of range.
std::optional<ServerOptions> ParseServerOptions(const std::vector<std::string>& args, std::string* error);

// The text of --help.
std::string ServerUsage();

}  // namespace host
