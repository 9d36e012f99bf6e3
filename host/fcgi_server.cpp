#include "host/fcgi_server.h"

#include <fcgiapp.h>
#include <signal.h>
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

// Interrupts a thread's blocked read of a kept connection at stop. The
// handler does nothing: what matters is the interrupted system call, which
// is why the signal is installed without SA_RESTART.
constexpr int kWakeSignal = SIGUSR2;
void OnWake(int) {}

void SetTimeout(int fd, int option, std::chrono::milliseconds t) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(t.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((t.count() % 1000) * 1000);
  ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

}  // namespace

FcgiServer::FcgiServer(const FcgiOptions& options, const ExtensionModule& module, const StaticFiles& files,
                       AccessLog& log, FcgiListener& listener)
    : m_options(options), m_module(module), m_files(files), m_log(log), m_listener(listener) {}

FcgiServer::~FcgiServer() = default;

void FcgiServer::Stop() {
  if (m_stopping.exchange(true)) return;
  m_listener.Shutdown();
  m_stopRequested.Set();
}

bool FcgiServer::Run() {
  struct sigaction wake {};
  wake.sa_handler = OnWake;
  sigemptyset(&wake.sa_mask);
  ::sigaction(kWakeSignal, &wake, nullptr);

  for (std::size_t i = 0; i < m_options.threads; ++i) {
    m_workers.push_back(std::make_unique<Worker>());
    Worker& worker = *m_workers.back();
    worker.thread = std::thread([this, &worker] {
      Loop(worker);
      ++m_ended;
    });
  }

  m_stopRequested.Wait();
  // Running requests finish; threads waiting for the next request of a kept
  // connection are woken, again and again, since a signal that arrives just
  // before the thread enters its read is lost on it.
  auto deadline = std::chrono::steady_clock::now() + m_options.shutdownTimeout;
  while (m_ended < m_workers.size() && std::chrono::steady_clock::now() < deadline) {
    for (auto& worker : m_workers) {
      std::lock_guard<std::mutex> lock(worker->mutex);
      if (worker->waitingOnKept) ::pthread_kill(worker->handle, kWakeSignal);
    }
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

void FcgiServer::Loop(Worker& worker) {
  {
    std::lock_guard<std::mutex> lock(worker.mutex);
    worker.handle = ::pthread_self();
  }
  FCGX_Request request;
  if (FCGX_InitRequest(&request, m_listener.Fd(), 0) != 0) {
    LogError("cannot set up a FastCGI request");
    Stop();
    return;
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(worker.mutex);
      if (m_stopping) break;
      worker.waitingOnKept = request.ipcFd >= 0;
    }
    // Blocks in accept(), or in the read of a kept connection's next request.
    int rc = FCGX_Accept_r(&request);
    {
      std::lock_guard<std::mutex> lock(worker.mutex);
      worker.waitingOnKept = false;
    }
    if (rc < 0) {
      if (m_stopping) break;
      int e = -rc;
      if (e == EINTR || e == EAGAIN || e == ECONNABORTED || e == EPROTO) continue;
      if (e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM) {
        // Out of descriptors or memory: try again shortly rather than spin.
        LogError(std::string("accept failed: ") + std::strerror(e));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
      LogError("accept failed (" + std::to_string(rc) + (e > 0 && e < 4096 ? std::string(", ") + std::strerror(e) : "") +
               "); stopping");
      Stop();
      break;
    }
    Serve(request);
  }
  if (request.ipcFd >= 0) {
    // A kept connection, at stop: closed at once. libfcgi's own close would
    // wait up to two seconds for the web server to close its end first.
    ::close(request.ipcFd);
    request.ipcFd = -1;
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
  try {
    int refused = RequestFromParams(r.envp, m_options.maxParamBytes, &request);
    if (!refused) refused = ReadRequestBody(r.in, m_options.maxBodyBytes, &request);
    if (refused) {
      channel.AnswerError(refused);
      status = refused;
    } else {
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
