// One client connection of the HTTP server: reads requests with strict limits
// and timeouts on the I/O thread, hands each complete request to a worker
// thread (extension call or static file) and writes the response. Created by
// HttpServer for every accepted connection; owned by the asynchronous
// operations in flight and, while a worker handles its request, by the job.
//
// http_session.cpp reads requests and writes whole responses (I/O thread),
// http_handlers.cpp answers them (worker), http_stream.cpp streams the
// extension's output.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "host/access_log.h"
#include "host/extension_module.h"
#include "host/host_status.h"
#include "host/request_info.h"
#include "host/response_channel.h"
#include "host/server_options.h"
#include "host/static_files.h"
#include "host/worker_pool.h"

namespace host {

// Open connections by client address, for the per-address limit. Sessions
// count themselves in when created and out when closed, from any thread.
class AddressCounts {
 public:
  // Counts one more connection of `address`; the count including it.
  std::size_t Add(const std::string& address);
  void Remove(const std::string& address);

 private:
  std::mutex m_mutex;
  std::unordered_map<std::string, std::size_t> m_counts;
};

// What every session shares; owned by HttpServer, outlives all sessions.
struct ServerContext {
  const ServerOptions& options;
  const ExtensionModule& module;
  const StaticFiles& files;
  AccessLog& log;
  WorkerPool& pool;
  HostStatus& status;
  std::atomic<bool> stopping{false};
  // Connections not closed yet (a closed session may live on a moment while
  // its last handlers run; it no longer counts).
  std::atomic<std::size_t> connections{0};
  AddressCounts addresses;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(boost::asio::ip::tcp::socket socket, ServerContext& server);
  ~HttpSession();

  // I/O thread. `overloaded`: answer 503 and close at once.
  void Start(bool overloaded);
  // I/O thread, at shutdown: closes the connection unless a request is being answered.
  void CloseIfIdle();

  // For the connection limits, I/O thread. A connection is idle while it
  // waits for a request or receives its head (a request being answered, or
  // whose body is arriving, is not); idle since it last accepted, answered,
  // or began closing. Evict closes an idle connection to make room.
  bool Idle() const { return !m_busy && !m_closed; }
  std::chrono::steady_clock::time_point IdleSince() const { return m_idleSince; }
  void Evict();
  // A connection answering a request whose client has hung up (closed or
  // reset its end) stops counting: nobody waits for the answer, which is
  // lost when written. True when it was taken out of the counts so. A client
  // that only half-closed still gets its answer; it just no longer counts.
  bool ForgetIfClientGone();
  const std::string& RemoteAddress() const { return m_remote; }
  // Open connections from this one's address, itself included (as counted when it was accepted).
  std::size_t ConnectionsFromAddress() const { return m_fromAddress; }

 private:
  friend class StreamChannel;
  using Done = std::function<void(bool ok, std::size_t sent)>;

  // A complete request as the worker gets it (its own copy: the I/O thread
  // may start on the next request while the worker still logs this one).
  struct Job {
    RequestInfo info;
    std::string target;  // raw, for the log
    std::string command = HostStatus::kRefused;  // the request's label in the figures
    bool extension = false;
    bool head = false;
    unsigned version = 11;
    bool keepAlive = true;
    std::chrono::steady_clock::time_point started;
  };

  // Reading, I/O thread.
  void WaitForRequest();
  void ReadHeader();
  void ScanHeader();
  void ParseHeader(std::size_t size);
  void OnHeader();
  void ReadBody();
  void OnReadError(boost::beast::error_code ec);
  void Dispatch();

  // Worker thread.
  void Handle(Job& job);
  void HandleExtension(Job& job);
  void HandleStatic(Job& job);
  // /metrics and /healthz; false when the path is neither.
  bool HandleStatusPage(Job& job);

  // Whole responses (errors, files): built anywhere, written on the I/O thread.
  template <class Body>
  void PostWhole(std::shared_ptr<boost::beast::http::response<Body>> response);
  template <class Body>
  void WriteWhole(std::shared_ptr<boost::beast::http::response<Body>> response,
                  std::shared_ptr<boost::beast::http::response_serializer<Body>> serializer);
  // Answers with an error page from the I/O thread (the request never reached
  // a worker) and closes; `allow` lists the methods for a 405.
  void RejectRequest(int status, const char* allow = nullptr);
  // The request being read, as far as it arrived, for the log.
  Job PartialJob() const;
  void LogRequest(const Job& job, int status, std::uint64_t bytes, const std::string& logData);

  // Streamed extension responses, I/O thread, driven by StreamChannel.
  void StartHead(const ResponseHead& head, Done done);
  void BuildStreamHead(const ResponseHead& head);
  void StartChunk(const char* data, std::size_t size, Done done);
  void FinishStream();

  void AfterResponse(bool keepAlive);
  // Half-closes and reads what the client still sends for a moment, so that
  // the response is not lost to a reset; then closes.
  void GracefulClose();
  void Drain();
  void Close();
  // Takes the connection out of the counts, once.
  void Uncount();

  ServerContext& m_server;
  boost::beast::tcp_stream m_stream;
  boost::beast::flat_buffer m_buffer;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> m_parser;
  std::string m_remote;
  std::string m_localAddress;
  unsigned short m_localPort = 0;
  bool m_busy = false;     // a request is being answered
  bool m_closed = false;
  bool m_counted = true;   // in the server's counts
  bool m_firstRequest = true;
  std::size_t m_fromAddress = 0;
  std::chrono::steady_clock::time_point m_accepted;
  std::chrono::steady_clock::time_point m_idleSince;
  std::chrono::steady_clock::time_point m_requestStarted;
  std::size_t m_headerScanned = 0;  // bytes of the buffer already searched for the header's end
  std::size_t m_drained = 0;

  // The request being answered, as the I/O thread needs it for writing.
  bool m_isHead = false;
  unsigned m_version = 11;
  bool m_clientKeepAlive = false;
  enum class BodyMode { None, Chunked, UntilClose } m_mode = BodyMode::None;
  bool m_keepAlive = false;
  bool m_broken = false;   // a write failed: no more writes on this connection
  boost::beast::http::response<boost::beast::http::empty_body> m_streamHead;
  std::unique_ptr<boost::beast::http::response_serializer<boost::beast::http::empty_body>> m_headSerializer;
};

}  // namespace host
