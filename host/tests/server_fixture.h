// End-to-end test kit: a temporary site (installation directory, registry
// file, a file beside the directory that must stay unreachable), the real
// vamuserver started on a free loopback port with the test extension, and a
// small HTTP client with timeouts so a hanging server fails a test instead of
// hanging it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <gtest/gtest.h>

namespace host::test {

using namespace std::chrono_literals;

struct Site {
  Site();
  ~Site();
  std::string base;       // temporary directory holding everything below
  std::string dir;        // installation directory: default.htm, Home.htm, gt.gif, tree.js, sub/
  std::string registry;   // names dir as "Dir"
  std::string accessLog;
  std::string errorLog;   // the server's standard error
  std::string marker;     // the test extension's terminate/unload lines
  static std::string ReadFile(const std::string& path);
  static void WriteFile(const std::string& path, const std::string& text);
};

struct ProgramResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
// Runs vamuserver to its end with these arguments (for --help and start-up failures).
ProgramResult RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& env = {});

class ServerProcess {
 public:
  ServerProcess() = default;
  ServerProcess(const ServerProcess&) = delete;
  ~ServerProcess();  // kills a server that is still running

  // Starts the server on port 0 with the site's registry, access log and the
  // test extension; `extra` arguments come last. False when it does not
  // announce its port within a few seconds.
  bool Start(const Site& site, const std::vector<std::string>& extra = {});
  // Starts `program` with exactly `args` (plus --port 0 and the site's registry).
  bool StartProgram(const std::string& program, const Site& site, const std::vector<std::string>& args);
  // Starts `program` with exactly `args`, standard error into `errorLog`, the
  // test extension's marker file in the environment. With `announce`, waits
  // for a first output line saying "listening on" (Port() is the number after
  // its last ':', 0 when there is none); without, returns once it runs.
  bool Launch(const std::string& program, const std::vector<std::string>& args, const std::string& errorLog,
              const std::string& marker, bool announce = true);
  // What the server wrote to standard output after its first line, within the timeout.
  std::string ReadOutput(std::chrono::milliseconds timeout);
  unsigned short Port() const { return m_port; }
  pid_t Pid() const { return m_pid; }
  void Signal(int signal) const;
  // Waits for the process to end; its exit code, or nothing after the timeout.
  std::optional<int> Wait(std::chrono::milliseconds timeout = 10s);

 private:
  pid_t m_pid = -1;
  int m_stdout = -1;
  unsigned short m_port = 0;
  std::string m_pending;  // read past the first line
};

struct Response {
  boost::beast::error_code error;  // of the read; a partial message keeps what arrived
  boost::beast::http::response<boost::beast::http::string_body> message;
  int Status() const { return error ? 0 : message.result_int(); }
  const std::string& Body() const { return message.body(); }
  std::string Header(const char* name) const;
};

class Client {
 public:
  explicit Client(unsigned short port);
  bool Connected() const { return m_connected; }
  boost::beast::error_code Send(const std::string& raw);
  // Reads one response (a HEAD response has no body).
  Response Read(bool head = false, std::chrono::milliseconds timeout = 10s);
  // GET over this connection with HTTP/1.1 and a Host field.
  Response Get(const std::string& target, const std::string& extraFields = "");
  // True when the server closes the connection within the timeout (after
  // whatever it still had to send).
  bool ClosedByServer(std::chrono::milliseconds timeout = 5s);

 private:
  template <class Start>
  boost::beast::error_code Run(Start start, std::chrono::milliseconds timeout);

  boost::asio::io_context m_io;
  boost::beast::tcp_stream m_stream{m_io};
  boost::beast::flat_buffer m_buffer;
  bool m_connected = false;
};

// Waits for a child process to end; its exit code (128 + the signal when a
// signal ended it), or nothing after the timeout.
std::optional<int> WaitForExit(pid_t pid, std::chrono::milliseconds timeout);

// GET on a fresh connection.
Response Fetch(unsigned short port, const std::string& target, const std::string& extraFields = "");

// Waits until the file contains `text` (log lines are written as requests
// end, which a client may see a moment before); false after the timeout.
bool WaitForText(const std::string& path, const std::string& text, std::chrono::milliseconds timeout = 2s);

// The test extension's "slow" command: answers "done" after `ms`; writes
// "entered" into `flag` as the request enters the extension (WaitForText).
std::string SlowCommand(int ms, const std::string& flag);

// The body the test extension's "big" command writes: the alphabet, repeated.
std::string Pattern(std::size_t size);

// A started server over a fresh site; extra arguments per test.
struct ServerTest : ::testing::Test {
  Site site;
  ServerProcess server;
  void StartServer(const std::vector<std::string>& extra = {}) { ASSERT_TRUE(server.Start(site, extra)); }
  unsigned short Port() const { return server.Port(); }
  // In a sanitizer build the server reports its own faults on standard error.
  void TearDown() override {
    std::string errors = Site::ReadFile(site.errorLog);
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
  }
};

}  // namespace host::test
