// The command line of vamufcgi, parsed into its settings; the same style as
// vamuserver's (server_options.h). main() uses it; tests parse sample
// command lines with it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace host {

struct FcgiOptions {
  std::string socketPath;                 // --socket: a Unix socket the web server connects to
  std::optional<unsigned short> port;     // --port: a loopback TCP port instead (0: any free one, printed)
  mode_t socketMode = 0660;               // of the Unix socket: the service's user and group only
  std::size_t threads = 8;                // request threads, one connection each
  std::string registryPath;               // empty: the system's default registry file
  std::string logDestination = "-";       // access log: a file, or "-" for standard output
  std::string extensionPath;              // empty: ../lib/libportico.so beside the program
  std::string statusFrom = "loopback";    // clients (REMOTE_ADDR) that may read /metrics and /healthz
  std::size_t maxParamBytes = 64 * 1024;  // all FastCGI parameters of a request together
  std::size_t maxBodyBytes = 1024 * 1024;
  std::chrono::milliseconds headerTimeout{10000};   // new connection: its request head (begin record, parameters)
  std::chrono::milliseconds idleTimeout{15000};     // kept connection: wait for the next request
  std::chrono::milliseconds readTimeout{30000};     // longest pause while a request body arrives
  std::chrono::milliseconds writeTimeout{60000};    // longest wait for the web server to take output
  std::chrono::milliseconds shutdownTimeout{10000}; // for running requests at stop
  bool help = false;
};

// Parses argv[1..]. Nothing, with a one-line reason in *error, for an
// unknown option, a malformed or out-of-range value, or when not exactly one
// of --socket and --port is given (unless --help).
std::optional<FcgiOptions> ParseFcgiOptions(const std::vector<std::string>& args, std::string* error);

// The text of --help.
std::string FcgiUsage();

}  // namespace host
