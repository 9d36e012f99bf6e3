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
#include "host/http_server.h"
#include "host/server_options.h"
#include "host/static_files.h"

namespace {

constexpr int kBadArguments = 2;
constexpr int kFailure = 1;

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
  // A client that goes away must cost a failed write, not the process.
  ::signal(SIGPIPE, SIG_IGN);

  std::optional<std::string> dir = host::InstallationDirectory(&options.registryPath, &error);
  if (!dir) return Fail(kFailure, error);
  host::StaticFiles files(*dir);
  if (!files.Valid()) return Fail(kFailure, "the installation directory " + *dir + " is not a directory");

  host::AccessLog log;
  if (!log.Open(options.logDestination))
    return Fail(kFailure, "cannot open the access log " + options.logDestination);

  if (options.extensionPath.empty()) options.extensionPath = host::DefaultExtensionPath();
  host::ExtensionModule module;
  if (!module.Load(options.extensionPath, &error)) return Fail(kFailure, error);

  int code = 0;
  {
    host::HttpServer server(options, module, files, log);
    if (!server.Listen(&error)) {
      module.Unload();
      return Fail(kFailure, error);
    }
    std::cout << "vamuserver: listening on " << options.bindAddress << ":" << server.Port() << std::endl;
    host::LogError("serving " + files.Root() + " with " + options.extensionPath + " (" +
                   module.Version().lpszExtensionDesc + ")");
    if (!server.Run()) {
      // Requests are still inside the extension: it gets its stop call but
      // stays loaded, and the process ends without running their destructors.
      host::LogError("requests still running after the shutdown timeout; ending without unloading the extension");
      module.Terminate(HSE_TERM_MUST_UNLOAD);
      std::fflush(nullptr);
      std::_Exit(kFailure);
    }
  }
  module.Terminate(HSE_TERM_MUST_UNLOAD);
  module.Unload();
  return code;
}
