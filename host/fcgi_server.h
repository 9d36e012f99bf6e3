// The FastCGI host's request threads: each owns one libfcgi request, accepts
// a connection on the shared listener, reads the request, runs it through the
// extension (ServeExtensionRequest) and logs it. A connection the web server
// asks to keep stays with its thread between requests. main() builds one
// server over a listener that is open already and runs it until a signal.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "host/access_log.h"
#include "host/extension_module.h"
#include "host/fcgi_listener.h"
#include "host/fcgi_options.h"
#include "host/static_files.h"
#include "platform/sync.h"

struct FCGX_Request;

namespace host {

class FcgiServer {
 public:
  // All must outlive the server; the module is loaded, the listener open.
  FcgiServer(const FcgiOptions& options, const ExtensionModule& module, const StaticFiles& files, AccessLog& log,
             FcgiListener& listener);
  ~FcgiServer();

  // Starts the threads and serves until Stop. Then no connection is accepted
  // any more, threads waiting on kept connections are woken, and running
  // requests finish, all within the shutdown timeout. True when every thread
  // ended in time; false when some are still inside the extension, which
  // must then not be unloaded (the threads are left running).
  bool Run();
  // Asks Run to stop. Safe from any thread, not from a signal handler.
  void Stop();

 private:
  // What Stop needs to know of a thread: whether it sits in libfcgi reading
  // the next request of a kept connection (then a signal wakes it).
  struct Worker {
    std::thread thread;
    pthread_t handle{};
    std::mutex mutex;
    bool waitingOnKept = false;
  };

  void Loop(Worker& worker);
  void Serve(FCGX_Request& request);

  const FcgiOptions& m_options;
  const ExtensionModule& m_module;
  const StaticFiles& m_files;
  AccessLog& m_log;
  FcgiListener& m_listener;
  std::vector<std::unique_ptr<Worker>> m_workers;
  std::atomic<bool> m_stopping{false};
  std::atomic<std::size_t> m_ended{0};
  CEvent m_stopRequested;
};

}  // namespace host
