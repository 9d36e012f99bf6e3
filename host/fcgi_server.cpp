#include "host/fcgi_server.h"

#include <fcgiapp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>

#include "host/error_log.h"
#include "host/extension_service.h"
#include "host/fcgi_channel.h"
#include "host/fcgi_request.h"

namespace host {

namespace {

void SetTimeout(int fd, int option, std::chrono::milliseconds t) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(t.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((t.count() % 1000) * 1000);
  ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

// Bytes (or the peer's end) wait to be read on the connection.
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLIN | POLLHUP)) != 0;
}

}  // namespace

FcgiServer::FcgiServer(const FcgiOptions& options, const ExtensionModule& module, const StaticFiles& files,
                       AccessLog& log, HostStatus& status, FcgiListener& listener)
    : m_options(options), m_module(module), m_files(files), m_log(log), m_status(status), m_listener(listener) {}

FcgiServer::~FcgiServer() = default;

void FcgiServer::Stop() {
  if (m_stopping.exchange(true)) return;
  m_listener.Shutdown();
  m_stopRequested.Set();
}

bool FcgiServer::Run() {
  for (std::size_t i = 0; i < m_options.threads; ++i) {
    m_workers.push_back(std::make_unique<Worker>());
    Worker& worker = *m_workers.back();
    worker.thread = std::thread([this, &worker] {
      Loop(worker);
      ++m_ended;
    });
  }

  while (!m_stopRequested.WaitFor(std::chrono::milliseconds(100))) Supervise();
  // Running requests finish; threads waiting for a request head are woken
  // (a thread may only just be entering its wait, so again until all end).
  auto deadline = std::chrono::steady_clock::now() + m_options.shutdownTimeout;
  while (m_ended < m_workers.size() && std::chrono::steady_clock::now() < deadline) {
    WakeIdle();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  bool drained = m_ended == m_workers.size();
  for (auto& worker : m_workers) {
    if (drained)
      worker->thread.join();
    else
      worker->thread.detach();  // still inside the extension; the process ends around it
  }
  return drained;
}

void FcgiServer::WakeIdle() {
  for (auto& worker : m_workers) {
    std::lock_guard<std::mutex> lock(worker->mutex);
    if (worker->idleFd >= 0) ::shutdown(worker->idleFd, SHUT_RDWR);
  }
}

void FcgiServer::Supervise() {
  const auto now = std::chrono::steady_clock::now();
  bool accepting = false;
  Worker* oldest = nullptr;
  auto oldestSince = now;
  for (auto& worker : m_workers) {
    std::lock_guard<std::mutex> lock(worker->mutex);
    accepting = accepting || worker->accepting;
    if (worker->idleFd < 0) continue;
    // A head that comes a byte at a time passes every read's timeout: the
    // whole head has its time here. Shutting the connection down also keeps
    // libfcgi's close from reading on while such a peer sends.
    auto allowed = worker->kept ? m_options.idleTimeout + m_options.headerTimeout : m_options.headerTimeout;
    if (now - worker->idleSince >= allowed) {
      ::shutdown(worker->idleFd, SHUT_RDWR);
    } else if (worker->idleSince < oldestSince && now - worker->idleSince >= kLeastSilence &&
               !Readable(worker->idleFd)) {
      oldest = worker.get();
      oldestSince = worker->idleSince;
    }
  }
  if (accepting || !oldest) return;
  pollfd waiting{m_listener.Fd(), POLLIN, 0};
  if (::poll(&waiting, 1, 0) != 1 || !(waiting.revents & POLLIN)) return;
  // A connection waits and every thread holds one: the thread idle longest
  // takes it instead of its silent or kept connection.
  std::lock_guard<std::mutex> lock(oldest->mutex);
  if (oldest->idleFd >= 0 && oldest->idleSince == oldestSince) ::shutdown(oldest->idleFd, SHUT_RDWR);
}

void FcgiServer::Loop(Worker& worker) {
  FCGX_Request request;
  // No listener for libfcgi: the thread accepts, and a connection libfcgi
  // gives up (a broken request, a timeout, a peer gone) makes its accept
  // fail at once instead of taking the next connection itself.
  if (FCGX_InitRequest(&request, -1, 0) != 0) {
    LogError("cannot set up a FastCGI request");
    Stop();
    return;
  }
  for (;;) {
    if (m_stopping) break;
    const bool kept = request.ipcFd >= 0;
    if (!kept) {
      {
        std::lock_guard<std::mutex> lock(worker.mutex);
        worker.accepting = true;
      }
      int fd = ::accept4(m_listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
      int e = errno;
      {
        std::lock_guard<std::mutex> lock(worker.mutex);
        worker.accepting = false;
      }
      if (fd < 0) {
        if (m_stopping) break;
        if (e == EINTR || e == EAGAIN || e == ECONNABORTED || e == EPROTO) continue;
        if (e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM) {
          // Out of descriptors or memory: try again shortly rather than spin.
          LogError(std::string("accept failed: ") + std::strerror(e));
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          continue;
        }
        LogError(std::string("accept failed (") + std::strerror(e) + "); stopping");
        Stop();
        break;
      }
      // The supervisor bounds the head; the read timeout is a second guard.
      SetTimeout(fd, SO_RCVTIMEO, 2 * m_options.headerTimeout);
      SetTimeout(fd, SO_SNDTIMEO, m_options.writeTimeout);
      request.ipcFd = fd;
      request.keepConnection = 1;  // libfcgi reads the request from this connection
      ++m_connections;
    }
    {
      std::lock_guard<std::mutex> lock(worker.mutex);
      worker.kept = kept;
      worker.idleFd = ::dup(request.ipcFd);
      worker.idleSince = std::chrono::steady_clock::now();
    }
    int rc = FCGX_Accept_r(&request);
    {
      std::lock_guard<std::mutex> lock(worker.mutex);
      if (worker.idleFd >= 0) ::close(worker.idleFd);
      worker.idleFd = -1;
    }
    // Failed: libfcgi has closed the connection; the next one is accepted.
    if (rc >= 0) Serve(request);
    if (request.ipcFd < 0) --m_connections;
  }
  if (request.ipcFd >= 0) {
    // A kept connection, at stop: closed at once. libfcgi's own close would
    // wait up to two seconds for the web server to close its end first.
    ::close(request.ipcFd);
    request.ipcFd = -1;
    --m_connections;
  }
  FCGX_Free(&request, 0);
}

void FcgiServer::Serve(FCGX_Request& r) {
  auto started = std::chrono::steady_clock::now();
  // From here on a peer that stalls or stops reading costs a timeout, not a thread.
  SetTimeout(r.ipcFd, SO_RCVTIMEO, m_options.readTimeout);
  SetTimeout(r.ipcFd, SO_SNDTIMEO, m_options.writeTimeout);

  FcgiChannel channel(r.out);
  FcgiRequest request;
  int status = 0;
  std::string logData;
  std::string command = HostStatus::kRefused;
  try {
    int refused = RequestFromParams(r.envp, m_options.maxParamBytes, &request);
    if (!refused) refused = ReadRequestBody(r.in, m_options.maxBodyBytes, &request);
    if (refused) {
      channel.AnswerError(refused);
      status = refused;
    } else if (std::optional<HostStatus::Answer> answer = m_status.Respond(
                   request.info.method, request.info.url, request.info.remoteAddress, m_connections)) {
      command = HostStatus::kStatusPage;
      ResponseHead head;
      head.status = answer->status;
      head.fields = {{"Content-Type", answer->contentType}, {"Cache-Control", "no-store"}};
      if (channel.SendHead(head) && (request.info.method == "HEAD" || channel.Write(answer->body.data(), answer->body.size())))
        channel.Finish();
      status = answer->status;
    } else {
      command = m_status.CommandOf(request.info.url, request.info.queryString);
      ExtensionOutcome outcome = ServeExtensionRequest(m_module, m_files, request.info, channel);
      status = outcome.status;
      logData = std::move(outcome.logData);
    }
  } catch (const std::exception& e) {  // the host's own failure (memory), not the extension's
    LogError(std::string("request failed: ") + e.what() + "; " + request.target);
    channel.Abort();
    status = 500;
  }

  try {
    AccessRecord record;
    record.remoteAddress = request.info.remoteAddress;
    record.method = request.info.method.empty() ? "-" : request.info.method;
    record.target = request.target.empty() ? "-" : request.target;
    record.protocol = request.info.protocol.empty() ? "-" : request.info.protocol;
    record.status = status;
    record.bytes = channel.BytesSent();
    record.logData = std::move(logData);
    record.elapsed = std::chrono::steady_clock::now() - started;
    m_status.Record(command, status, record.bytes, record.elapsed);  // counted once logged
    m_log.Write(record);
  } catch (const std::exception&) {
    // A log line lost to a lack of memory; the request itself is done.
  }

  if (channel.Aborted())
    FCGX_Free(&r, 1);  // no end-of-request record: the response is seen as cut off
  else
    FCGX_Finish_r(&r);
  if (r.ipcFd >= 0) SetTimeout(r.ipcFd, SO_RCVTIMEO, m_options.idleTimeout);
}

}  // namespace host
