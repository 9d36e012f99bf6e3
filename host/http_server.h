// The standalone HTTP server: accepts connections on one I/O thread, answers
// requests to portico.dll through the extension on a fixed pool of worker
// threads, serves the installation directory's files, and stops cleanly on
// SIGINT/SIGTERM. main() builds one and runs it.
#pragma once

#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include "host/access_log.h"
#include "host/extension_module.h"
#include "host/http_session.h"
#include "host/server_options.h"
#include "host/static_files.h"
#include "host/worker_pool.h"
#include "platform/sync.h"

namespace host {

class HttpServer {
 public:
  // All must outlive the server; the module is loaded already.
  HttpServer(const ServerOptions& options, const ExtensionModule& module, const StaticFiles& files, AccessLog& log,
             HostStatus& status);
  ~HttpServer();

  // Binds and listens. False with a one-line reason in *error.
  bool Listen(std::string* error);
  // The port listened on (the chosen one when the options said 0).
  unsigned short Port() const;

  // Serves until SIGINT or SIGTERM (or Stop), then stops accepting, closes
  // idle connections, lets running requests finish and waits for their last
  // writes, all within the shutdown timeout. True when every request ended in
  // time; false when some are still inside the extension, which must then
  // not be unloaded.
  bool Run();
  // Asks Run to stop, from any thread.
  void Stop();

 private:
  void Accept();
  // At a connection limit, closes the idle connection that has waited
  // longest; false when none is idle and the newcomer must be refused.
  bool MakeRoomFor(const HttpSession& newcomer);
  void BeginStop();  // I/O thread

  const ServerOptions& m_options;
  WorkerPool m_pool;
  ServerContext m_context;
  boost::asio::io_context m_io{1};
  boost::asio::ip::tcp::acceptor m_acceptor{m_io};
  boost::asio::steady_timer m_acceptRetry{m_io};
  boost::asio::signal_set m_signals{m_io, SIGINT, SIGTERM};
  std::vector<std::weak_ptr<HttpSession>> m_sessions;  // I/O thread only
  CEvent m_stopRequested;
};

}  // namespace host
