#include "host/server_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>

namespace host {

namespace {

bool ParseCount(const std::string& text, unsigned long long min, unsigned long long max, unsigned long long* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno || *end || value < min || value > max) return false;
  *out = value;
  return true;
}

// Seconds, fractions allowed ("0.5"); at least a millisecond, at most a day.
bool ParseSeconds(const std::string& text, std::chrono::milliseconds* out) {
  if (text.empty() || !((text[0] >= '0' && text[0] <= '9') || text[0] == '.')) return false;
  char* end = nullptr;
  double seconds = std::strtod(text.c_str(), &end);
  if (*end || !std::isfinite(seconds) || seconds < 0.001 || seconds > 86400) return false;
  *out = std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
  return true;
}

}  // namespace

std::string ServerUsage() {
  return "Usage: vamuserver [options]\n"
         "Serves the site of the installation directory and hands portico.dll requests to the extension.\n"
         "\n"
         "  --port N              TCP port (default 8080; 0 picks a free one)\n"
         "  --bind ADDRESS        address to listen on (default 127.0.0.1)\n"
         "  --threads N           request threads (default 8)\n"
         "  --registry FILE       registry file (default $VAMU_REGISTRY, else /etc/vamu/registry.reg)\n"
         "  --log FILE            access log, '-' for standard output (default -)\n"
         "  --extension FILE      extension library (default ../lib/libportico.so beside the program)\n"
         "  --max-connections N   open connections at most (default 256)\n"
         "  --max-header BYTES    request line and header fields at most (default 16384)\n"
         "  --max-body BYTES      request body at most (default 1048576)\n"
         "  --idle-timeout S      keep-alive wait for the next request, seconds (default 15)\n"
         "  --read-timeout S      time to receive one request, seconds (default 30)\n"
         "  --write-timeout S     time to send one piece of a response, seconds (default 60)\n"
         "  --shutdown-timeout S  wait for running requests at stop, seconds (default 10)\n"
         "  --help                this text\n"
         "\n"
         "The installation directory is the value \"Dir\" of the registry key\n"
         "HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup. SIGINT or SIGTERM stop the server.\n";
}

std::optional<ServerOptions> ParseServerOptions(const std::vector<std::string>& args, std::string* error) {
  ServerOptions o;
  unsigned long long n = 0;
  using Setter = std::function<bool(const std::string&)>;
  struct Option {
    const char* name;
    Setter set;
  };
  const Option options[] = {
      {"--port", [&](const std::string& v) { return ParseCount(v, 0, 65535, &n) && (o.port = (unsigned short)n, true); }},
      {"--bind", [&](const std::string& v) { return !v.empty() && (o.bindAddress = v, true); }},
      {"--threads", [&](const std::string& v) { return ParseCount(v, 1, 1024, &n) && (o.threads = n, true); }},
      {"--registry", [&](const std::string& v) { return !v.empty() && (o.registryPath = v, true); }},
      {"--log", [&](const std::string& v) { return !v.empty() && (o.logDestination = v, true); }},
      {"--extension", [&](const std::string& v) { return !v.empty() && (o.extensionPath = v, true); }},
      {"--max-connections",
       [&](const std::string& v) { return ParseCount(v, 1, 100000, &n) && (o.maxConnections = n, true); }},
      {"--max-header",
       [&](const std::string& v) { return ParseCount(v, 256, 1 << 20, &n) && (o.maxHeaderBytes = n, true); }},
      {"--max-body", [&](const std::string& v) { return ParseCount(v, 0, 1u << 30, &n) && (o.maxBodyBytes = n, true); }},
      {"--idle-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.idleTimeout); }},
      {"--read-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.readTimeout); }},
      {"--write-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.writeTimeout); }},
      {"--shutdown-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.shutdownTimeout); }},
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      continue;
    }
    std::string value;
    bool inlineValue = false;
    if (std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      inlineValue = true;
    }
    const Option* option = nullptr;
    for (const Option& candidate : options)
      if (arg == candidate.name) option = &candidate;
    if (!option) {
      *error = "unknown option " + arg;
      return std::nullopt;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    }
    if (!option->set(value)) {
      *error = "bad value for " + arg + ": '" + value + "'";
      return std::nullopt;
    }
  }
  return o;
}

}  // namespace host
