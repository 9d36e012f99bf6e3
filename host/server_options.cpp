#include "host/server_options.h"

#include "host/address_filter.h"
#include "host/option_parser.h"

namespace host {

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
         "  --max-connections N   open connections at most (default 256); when reached, the connection\n"
         "                        that has waited longest for its request is closed to make room\n"
         "  --max-per-address N   open connections from one client address at most (default 32; 0: no\n"
         "                        limit, e.g. behind a proxy)\n"
         "  --max-header BYTES    request line and header fields at most (default 16384)\n"
         "  --max-body BYTES      request body at most (default 1048576)\n"
         "  --idle-timeout S      keep-alive wait for the next request, seconds (default 15)\n"
         "  --header-timeout S    time to receive a request's head, seconds (default 10)\n"
         "  --read-timeout S      time to receive one request, seconds (default 30)\n"
         "  --write-timeout S     time to send one piece of a response, seconds (default 60)\n"
         "  --shutdown-timeout S  wait for running requests at stop, seconds (default 10)\n"
         "  --status-from LIST    clients that may read /metrics and /healthz: loopback, any, addresses\n"
         "                        and prefixes, comma-separated (default loopback)\n"
         "  --help                this text\n"
         "\n"
         "The installation directory is the value \"Dir\" of the registry key\n"
         "HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup. SIGINT or SIGTERM stop the server.\n";
}

std::optional<ServerOptions> ParseServerOptions(const std::vector<std::string>& args, std::string* error) {
  ServerOptions o;
  unsigned long long n = 0;
  const std::vector<OptionSpec> options = {
      {"--port", [&](const std::string& v) { return ParseCount(v, 0, 65535, &n) && (o.port = (unsigned short)n, true); }},
      {"--bind", [&](const std::string& v) { return !v.empty() && (o.bindAddress = v, true); }},
      {"--threads", [&](const std::string& v) { return ParseCount(v, 1, 1024, &n) && (o.threads = n, true); }},
      {"--registry", [&](const std::string& v) { return !v.empty() && (o.registryPath = v, true); }},
      {"--log", [&](const std::string& v) { return !v.empty() && (o.logDestination = v, true); }},
      {"--extension", [&](const std::string& v) { return !v.empty() && (o.extensionPath = v, true); }},
      {"--status-from", [&](const std::string& v) { return AddressFilter::Parse(v) && (o.statusFrom = v, true); }},
      {"--max-connections",
       [&](const std::string& v) { return ParseCount(v, 1, 100000, &n) && (o.maxConnections = n, true); }},
      {"--max-per-address",
       [&](const std::string& v) { return ParseCount(v, 0, 100000, &n) && (o.maxPerAddress = n, true); }},
      {"--max-header",
       [&](const std::string& v) { return ParseCount(v, 256, 1 << 20, &n) && (o.maxHeaderBytes = n, true); }},
      {"--max-body", [&](const std::string& v) { return ParseCount(v, 0, 1u << 30, &n) && (o.maxBodyBytes = n, true); }},
      {"--idle-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.idleTimeout); }},
      {"--header-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.headerTimeout); }},
      {"--read-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.readTimeout); }},
      {"--write-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.writeTimeout); }},
      {"--shutdown-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.shutdownTimeout); }},
  };
  if (!ParseOptionList(args, options, &o.help, error)) return std::nullopt;
  return o;
}

}  // namespace host
