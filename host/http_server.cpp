#include "host/http_server.h"

#include <csignal>
#include <future>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include "host/error_log.h"

namespace host {

namespace net = boost::asio;
using tcp = net::ip::tcp;

HttpServer::HttpServer(const ServerOptions& options, const ExtensionModule& module, const StaticFiles& files,
                       AccessLog& log, HostStatus& status)
    : m_options(options), m_pool(options.threads), m_context{options, module, files, log, m_pool, status, {}, {}, {}} {}

HttpServer::~HttpServer() = default;

bool HttpServer::Listen(std::string* error) {
  boost::system::error_code ec;
  net::ip::address address = net::ip::make_address(m_options.bindAddress, ec);
  if (ec) {
    *error = "bad bind address '" + m_options.bindAddress + "'";
    return false;
  }
  tcp::endpoint endpoint(address, m_options.port);
  m_acceptor.open(endpoint.protocol(), ec);
  if (!ec) m_acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) m_acceptor.bind(endpoint, ec);
  if (!ec) m_acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on " + m_options.bindAddress + ":" + std::to_string(m_options.port) + ": " + ec.message();
    return false;
  }
  return true;
}

unsigned short HttpServer::Port() const {
  boost::system::error_code ec;
  tcp::endpoint endpoint = m_acceptor.local_endpoint(ec);
  return ec ? 0 : endpoint.port();
}

void HttpServer::Accept() {
  m_acceptor.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
    if (m_context.stopping) return;
    if (ec) {
      // Out of descriptors and the like: try again shortly rather than spin.
      LogError("accept failed: " + ec.message());
      m_acceptRetry.expires_after(std::chrono::milliseconds(100));
      m_acceptRetry.async_wait([this](boost::system::error_code) {
        if (!m_context.stopping) Accept();
      });
      return;
    }
    auto session = std::make_shared<HttpSession>(std::move(socket), m_context);
    if (m_sessions.size() > 2 * m_options.maxConnections + 16)
      std::erase_if(m_sessions, [](const std::weak_ptr<HttpSession>& s) { return s.expired(); });
    bool overloaded = !MakeRoomFor(*session);
    m_sessions.push_back(session);
    session->Start(overloaded);
    Accept();
  });
}

bool HttpServer::MakeRoomFor(const HttpSession& newcomer) {
  // Slow and silent clients hold connections without asking for anything:
  // the connection that has waited longest for its request goes first (of
  // the newcomer's own address when that is the limit reached), so a client
  // that sends its request at once is served. Only when every connection in
  // question is answering a request for a client still there is the
  // newcomer refused.
  auto evictOldest = [this](const std::string* address) {
    std::shared_ptr<HttpSession> oldest;
    for (const auto& weak : m_sessions) {
      std::shared_ptr<HttpSession> s = weak.lock();
      if (!s || !s->Idle() || (address && s->RemoteAddress() != *address)) continue;
      if (!oldest || s->IdleSince() < oldest->IdleSince()) oldest = std::move(s);
    }
    if (oldest) oldest->Evict();
    return oldest != nullptr;
  };
  // Connections answering requests for clients that hung up count no more
  // (a client that gave up waiting, or a benchmark starting its next run,
  // opens new connections while its old ones are still being answered).
  auto forgetDeparted = [this](const std::string* address) {
    bool any = false;
    for (const auto& weak : m_sessions) {
      std::shared_ptr<HttpSession> s = weak.lock();
      if (s && (!address || s->RemoteAddress() == *address)) any = s->ForgetIfClientGone() || any;
    }
    return any;
  };
  const std::size_t perAddress = m_options.maxPerAddress;
  // The departed go before any idle connection is closed: an idle one may be
  // a client between two requests.
  if (perAddress != 0 && newcomer.ConnectionsFromAddress() > perAddress &&
      !forgetDeparted(&newcomer.RemoteAddress()) && !evictOldest(&newcomer.RemoteAddress()))
    return false;
  return m_context.connections <= m_options.maxConnections || forgetDeparted(nullptr) || evictOldest(nullptr);
}

void HttpServer::BeginStop() {
  if (m_context.stopping.exchange(true)) return;
  boost::system::error_code ec;
  m_acceptor.close(ec);
  m_acceptRetry.cancel();
  for (const auto& weak : m_sessions)
    if (auto session = weak.lock()) session->CloseIfIdle();
  m_sessions.clear();
  m_stopRequested.Set();
}

void HttpServer::Stop() {
  net::post(m_io, [this] { BeginStop(); });
}

bool HttpServer::Run() {
  auto work = net::make_work_guard(m_io);
  m_signals.async_wait([this](boost::system::error_code ec, int) {
    if (!ec) BeginStop();
  });
  Accept();

  std::promise<void> ioDone;
  std::future<void> ioFinished = ioDone.get_future();
  std::thread io([this, &ioDone] {
    // A handler that throws (memory) costs its connection, not the server.
    for (;;) {
      try {
        m_io.run();
        break;
      } catch (const std::exception& e) {
        LogError(std::string("I/O thread: ") + e.what());
      }
    }
    ioDone.set_value();
  });

  m_stopRequested.Wait();
  auto deadline = std::chrono::steady_clock::now() + m_options.shutdownTimeout;
  // Requests still queued run too, but only to answer 503.
  bool drained = m_pool.WaitIdle(deadline);
  m_pool.Close();

  // Last chunks and error pages still on their way get the rest of the time
  // (a moment at least); connections close behind them.
  net::post(m_io, [this] {
    boost::system::error_code ec;
    m_signals.cancel(ec);
  });
  work.reset();
  auto rest = std::max<std::chrono::steady_clock::duration>(deadline - std::chrono::steady_clock::now(),
                                                            std::chrono::milliseconds(500));
  if (ioFinished.wait_for(rest) != std::future_status::ready) m_io.stop();
  if (drained) {
    io.join();
  } else {
    // Workers are still inside the extension and may wait on the I/O thread:
    // they are left as they are; the caller ends the process.
    m_io.stop();
    io.detach();
  }
  return drained;
}

}  // namespace host
