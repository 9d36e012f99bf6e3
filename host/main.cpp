// vamuserver: the standalone web server of the site. Reads the command line
// and the registry, loads the extension, serves until SIGINT/SIGTERM, then
// stops the extension and unloads it.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "host/access_log.h"
#include "host/error_log.h"
#include "host/extension_module.h"
#include "host/host_startup.h"
#include "host/host_status.h"
#include "host/http_server.h"
#include "host/server_options.h"
#include "host/static_files.h"

namespace {

constexpr int kBadArguments = 2;
constexpr int kFailure = host::kStartFailure;

int Fail(int code, const std::string& text) {
  std::cerr << "vamuserver: " << text << "\n";
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  std::optional<host::ServerOptions> parsed =
      host::ParseServerOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
  if (!parsed) return Fail(kBadArguments, error + " (try --help)");
  host::ServerOptions options = *parsed;
  if (options.help) {
    std::cout << host::ServerUsage();
    return 0;
  }
  host::KeepFreedMemory();
  // A client that goes away must cost a failed write, not the process.
  ::signal(SIGPIPE, SIG_IGN);

  host::AccessLog log;
  std::unique_ptr<host::StaticFiles> site = host::OpenSite(&options.registryPath, options.logDestination, log, &error);
  if (!site) return Fail(kFailure, error);
  const host::StaticFiles& files = *site;
  host::ExtensionModule module;
  if (!host::LoadExtension(&options.extensionPath, module, &error)) return Fail(kFailure, error);

  {
    host::HostStatus status(module, *host::AddressFilter::Parse(options.statusFrom));
    host::HttpServer server(options, module, files, log, status);
    if (!server.Listen(&error)) {
      module.Unload();
      return Fail(kFailure, error);
    }
    std::cout << "vamuserver: listening on " << options.bindAddress << ":" << server.Port() << std::endl;
    host::LogError("serving " + files.Root() + " with " + options.extensionPath + " (" +
                   module.Version().lpszExtensionDesc + ")");
    if (!server.Run()) return host::FinishServing(module, false);  // requests still inside the extension
  }
  return host::FinishServing(module, true);
}
