#include "host/fcgi_options.h"

#include "host/address_filter.h"
#include "host/option_parser.h"

namespace host {

namespace {

// Octal permission bits of the socket file, e.g. "0660"; owner must keep read and write.
bool ParseMode(const std::string& text, mode_t* out) {
  if (text.empty() || text.size() > 4) return false;
  mode_t mode = 0;
  for (char c : text) {
    if (c < '0' || c > '7') return false;
    mode = mode * 8 + mode_t(c - '0');
  }
  if ((mode & 0600) != 0600) return false;
  *out = mode;
  return true;
}

}  // namespace

std::string FcgiUsage() {
  return "Usage: vamufcgi (--socket PATH | --port N) [options]\n"
         "Answers portico.dll requests that a web server (nginx) hands over by FastCGI, through the extension.\n"
         "\n"
         "  --socket PATH         Unix socket to listen on (e.g. /run/vamu/vamufcgi.sock)\n"
         "  --port N              loopback TCP port to listen on instead (0 picks a free one)\n"
         "  --socket-mode MODE    permissions of the Unix socket, octal (default 0660)\n"
         "  --threads N           request threads (default 8, at most 256)\n"
         "  --registry FILE       registry file (default $VAMU_REGISTRY, else /etc/vamu/registry.reg)\n"
         "  --log FILE            access log, '-' for standard output (default -)\n"
         "  --extension FILE      extension library (default ../lib/libportico.so beside the program)\n"
         "  --max-params BYTES    FastCGI parameters of one request at most (default 65536)\n"
         "  --max-body BYTES      request body at most (default 1048576)\n"
         "  --header-timeout S    new connection: time for the request's parameters, seconds (default 10)\n"
         "  --idle-timeout S      kept connection: wait for the next request, seconds (default 15)\n"
         "  --read-timeout S      longest pause in a request body, seconds (default 30)\n"
         "  --write-timeout S     longest wait for the web server to take output, seconds (default 60)\n"
         "  --shutdown-timeout S  wait for running requests at stop, seconds (default 10)\n"
         "  --status-from LIST    clients (as the web server names them) that may read /metrics and\n"
         "                        /healthz: loopback, any, addresses and prefixes (default loopback)\n"
         "  --help                this text\n"
         "\n"
         "Static files are the web server's: it serves the installation directory, the value \"Dir\" of\n"
         "HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup. SIGINT or SIGTERM stop the host.\n";
}

std::optional<FcgiOptions> ParseFcgiOptions(const std::vector<std::string>& args, std::string* error) {
  FcgiOptions o;
  unsigned long long n = 0;
  // Each thread holds one connection, and libfcgi watches descriptors with
  // select(): the thread count keeps them far below its limit of 1024.
  const std::vector<OptionSpec> options = {
      {"--socket", [&](const std::string& v) { return !v.empty() && v[0] == '/' && (o.socketPath = v, true); }},
      {"--port", [&](const std::string& v) { return ParseCount(v, 0, 65535, &n) && (o.port = (unsigned short)n, true); }},
      {"--socket-mode", [&](const std::string& v) { return ParseMode(v, &o.socketMode); }},
      {"--threads", [&](const std::string& v) { return ParseCount(v, 1, 256, &n) && (o.threads = n, true); }},
      {"--registry", [&](const std::string& v) { return !v.empty() && (o.registryPath = v, true); }},
      {"--log", [&](const std::string& v) { return !v.empty() && (o.logDestination = v, true); }},
      {"--extension", [&](const std::string& v) { return !v.empty() && (o.extensionPath = v, true); }},
      {"--status-from", [&](const std::string& v) { return AddressFilter::Parse(v) && (o.statusFrom = v, true); }},
      {"--max-params",
       [&](const std::string& v) { return ParseCount(v, 1024, 16u << 20, &n) && (o.maxParamBytes = n, true); }},
      {"--max-body", [&](const std::string& v) { return ParseCount(v, 0, 1u << 30, &n) && (o.maxBodyBytes = n, true); }},
      {"--header-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.headerTimeout); }},
      {"--idle-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.idleTimeout); }},
      {"--read-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.readTimeout); }},
      {"--write-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.writeTimeout); }},
      {"--shutdown-timeout", [&](const std::string& v) { return ParseSeconds(v, &o.shutdownTimeout); }},
  };
  if (!ParseOptionList(args, options, &o.help, error)) return std::nullopt;
  if (o.help) return o;
  if (o.socketPath.empty() == !o.port) {
    *error = o.socketPath.empty() ? "give --socket PATH or --port N" : "give either --socket or --port, not both";
    return std::nullopt;
  }
  return o;
}

}  // namespace host
