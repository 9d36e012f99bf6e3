// vamufcgi: the FastCGI host of the site behind nginx. Reads the command
// line and the registry, listens on a Unix socket or a loopback port, loads
// the extension and answers the portico.dll requests nginx hands over, until
// SIGINT/SIGTERM; then stops the extension and unloads it.
#include <fcgiapp.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "host/access_log.h"
#include "host/error_log.h"
#include "host/extension_module.h"
#include "host/fcgi_listener.h"
#include "host/fcgi_options.h"
#include "host/fcgi_server.h"
#include "host/host_startup.h"
#include "host/host_status.h"
#include "host/static_files.h"

namespace {

constexpr int kBadArguments = 2;
constexpr int kFailure = host::kStartFailure;

int Fail(int code, const std::string& text) {
  std::cerr << "vamufcgi: " << text << "\n";
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  host::SetLogName("vamufcgi");
  std::string error;
  std::optional<host::FcgiOptions> parsed =
      host::ParseFcgiOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
  if (!parsed) return Fail(kBadArguments, error + " (try --help)");
  host::FcgiOptions options = *parsed;
  if (options.help) {
    std::cout << host::FcgiUsage();
    return 0;
  }
  host::KeepFreedMemory();
  // A web server that goes away must cost a failed write, not the process.
  ::signal(SIGPIPE, SIG_IGN);
  // Blocked before any thread starts, so every thread inherits the block and
  // the one below takes the stop signals with sigwait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // Static files are nginx's; the directory only gives a path info its file path.
  host::AccessLog log;
  std::unique_ptr<host::StaticFiles> site = host::OpenSite(&options.registryPath, options.logDestination, log, &error);
  if (!site) return Fail(kFailure, error);
  const host::StaticFiles& files = *site;

  if (FCGX_Init() != 0) return Fail(kFailure, "cannot initialise libfcgi");
  host::FcgiListener listener;
  bool listening = options.port ? listener.OpenLoopback(*options.port, &error)
                                : listener.OpenUnix(options.socketPath, options.socketMode, &error);
  if (!listening) return Fail(kFailure, error);

  host::ExtensionModule module;
  if (!host::LoadExtension(&options.extensionPath, module, &error)) return Fail(kFailure, error);

  bool drained = true;
  {
    host::HostStatus status(module, *host::AddressFilter::Parse(options.statusFrom));
    host::FcgiServer server(options, module, files, log, status, listener);
    std::thread signals([&] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      server.Stop();
    });
    std::cout << "vamufcgi: listening on " << listener.Address() << std::endl;
    host::LogError("serving " + files.Root() + " with " + options.extensionPath + " (" +
                   module.Version().lpszExtensionDesc + ")");
    drained = server.Run();
    // Run may have ended on its own (a failing listener): release the waiter.
    ::pthread_kill(signals.native_handle(), SIGTERM);
    signals.join();
    if (!drained) return host::FinishServing(module, false);  // requests still inside the extension
  }
  return host::FinishServing(module, true);
}
