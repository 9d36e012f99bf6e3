// The FastCGI host's request threads: each owns one libfcgi request, accepts
// a connection on the shared listener, reads the request, runs it through the
// extension (ServeExtensionRequest) and logs it. A connection the web server
// asks to keep stays with its thread between requests. main() builds one
// server over a listener that is open already and runs it until a signal.
//
// A connection holds its thread from the moment it is accepted, so the
// threads accept for themselves and give libfcgi the connection: a new
// connection must deliver its request head within the header timeout, a kept
// one its next request within the idle timeout; and while a connection waits
// for the listener, the thread idle longest on a connection that has sent no
// request (and has been silent for a moment) gives it up.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "host/access_log.h"
#include "host/extension_module.h"
#include "host/fcgi_listener.h"
#include "host/fcgi_options.h"
#include "host/host_status.h"
#include "host/static_files.h"
#include "platform/sync.h"

struct FCGX_Request;

namespace host {

class FcgiServer {
 public:
  // All must outlive the server; the module is loaded, the listener open.
  FcgiServer(const FcgiOptions& options, const ExtensionModule& module, const StaticFiles& files, AccessLog& log,
             HostStatus& status, FcgiListener& listener);
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
  // What the supervisor needs to know of a thread, under its mutex: whether
  // it waits in accept, or in libfcgi for a request head on a connection;
  // then `idleFd` is a second descriptor of that connection (shutting it
  // down ends the wait at once, and it cannot be reused for another
  // connection while the supervisor holds the mutex).
  struct Worker {
    std::thread thread;
    std::mutex mutex;
    bool accepting = false;
    bool kept = false;  // the connection served a request before
    int idleFd = -1;
    std::chrono::steady_clock::time_point idleSince;
  };

  // A connection gives up its thread to a waiting one only after it has
  // been silent this long, and only while nothing of it waits to be read. A
  // thread may take a while to be scheduled after its accept, or to read a
  // head that has arrived: on a busy machine a connection whose request is
  // on its way would otherwise be closed unanswered (seen under load: one
  // request in 20,000 cut off with nothing sent).
  static constexpr std::chrono::milliseconds kLeastSilence{400};

  void Loop(Worker& worker);
  void Serve(FCGX_Request& request);
  // Every tenth of a second: ends head waits past their time, and makes
  // room for a connection that waits while no thread accepts.
  void Supervise();
  // At stop: ends every wait for a request head.
  void WakeIdle();

  const FcgiOptions& m_options;
  const ExtensionModule& m_module;
  const StaticFiles& m_files;
  AccessLog& m_log;
  HostStatus& m_status;
  FcgiListener& m_listener;
  std::atomic<std::size_t> m_connections{0};  // held by the threads now
  std::vector<std::unique_ptr<Worker>> m_workers;
  std::atomic<bool> m_stopping{false};
  std::atomic<std::size_t> m_ended{0};
  CEvent m_stopRequested;
};

}  // namespace host
