#include "host/tests/server_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <boost/asio/connect.hpp>
#include <boost/asio/write.hpp>

#include "platform/paths.h"

extern char** environ;

namespace host::test {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace fs = std::filesystem;

Site::Site() {
  std::optional<std::string> temp = CreateTempFile(TempDirectory());
  fs::remove(*temp);
  base = *temp;
  dir = base + "/site";
  fs::create_directories(dir + "/sub");
  WriteFile(dir + "/default.htm", "<HTML>frameset</HTML>");
  WriteFile(dir + "/Home.htm", "<HTML>home</HTML>");
  WriteFile(dir + "/gt.gif", std::string("GIF89a\0\x01\x02", 9));
  WriteFile(dir + "/tree.js", "function Rebuild() {}");
  WriteFile(dir + "/sub/default.htm", "sub");
  WriteFile(dir + "/.hidden", "hidden");
  WriteFile(base + "/outside.txt", "OUTSIDE");
  fs::create_symlink("../outside.txt", dir + "/link-out");
  registry = base + "/registry.reg";
  WriteFile(registry, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup]\r\n\"Dir\"=\"" + dir +
                          "\"\r\n");
  accessLog = base + "/access.log";
  errorLog = base + "/error.log";
  marker = base + "/marker.txt";
}

Site::~Site() {
  std::error_code ec;
  fs::remove_all(base, ec);
}

std::string Site::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Site::WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

namespace {

// Starts vamuserver with stdout on a pipe and stderr in a file.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env,
            int* stdoutRead, const std::string& stderrPath) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);

  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
  envStrings.insert(envStrings.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  *stdoutRead = pipeFds[0];
  return pid;
}

// Reads from fd until it ends or the deadline passes (or `untilNewline` and a line is complete).
std::string ReadUntil(int fd, std::chrono::steady_clock::time_point deadline, bool untilNewline) {
  std::string out;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return out;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, int(left.count())) <= 0) return out;
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return out;
    out.append(buf, std::size_t(n));
    if (untilNewline && out.find('\n') != std::string::npos) return out;
  }
}

}  // namespace

std::optional<int> WaitForExit(pid_t pid, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (r < 0 || std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(5ms);
  }
}

ProgramResult RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  ProgramResult result;
  std::optional<std::string> errPath = CreateTempFile(TempDirectory());
  int out = -1;
  pid_t pid = Spawn(VAMUSERVER_PATH, args, env, &out, *errPath);
  if (pid < 0) return result;
  result.out = ReadUntil(out, std::chrono::steady_clock::now() + 10s, false);
  ::close(out);
  std::optional<int> code = WaitForExit(pid, 10s);
  if (!code) {
    ::kill(pid, SIGKILL);
    WaitForExit(pid, 5s);
  }
  result.exitCode = code.value_or(-1);
  result.err = Site::ReadFile(*errPath);
  std::remove(errPath->c_str());
  return result;
}

ServerProcess::~ServerProcess() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    WaitForExit(m_pid, 5s);
  }
  if (m_stdout >= 0) ::close(m_stdout);
}

bool ServerProcess::Start(const Site& site, const std::vector<std::string>& extra) {
  std::vector<std::string> args{"--log", site.accessLog, "--extension", TEST_EXTENSION_PATH};
  args.insert(args.end(), extra.begin(), extra.end());
  return StartProgram(VAMUSERVER_PATH, site, args);
}

bool ServerProcess::StartProgram(const std::string& program, const Site& site, const std::vector<std::string>& args) {
  std::vector<std::string> all{"--port", "0", "--registry", site.registry};
  all.insert(all.end(), args.begin(), args.end());
  return Launch(program, all, site.errorLog, site.marker) && m_port != 0;
}

bool ServerProcess::Launch(const std::string& program, const std::vector<std::string>& args,
                           const std::string& errorLog, const std::string& marker, bool announce) {
  m_pid = Spawn(program, args, {"VAMU_TEST_EXT_MARKER=" + marker}, &m_stdout, errorLog);
  if (m_pid < 0) return false;
  if (!announce) return true;
  std::string line = ReadUntil(m_stdout, std::chrono::steady_clock::now() + 10s, true);
  std::size_t end = line.find('\n');
  std::string first = line.substr(0, end);
  if (first.find("listening on") == std::string::npos) return false;
  std::size_t colon = first.rfind(':');
  m_port = static_cast<unsigned short>(std::atoi(first.c_str() + colon + 1));
  m_pending = end == std::string::npos ? "" : line.substr(end + 1);
  return true;
}

std::string ServerProcess::ReadOutput(std::chrono::milliseconds timeout) {
  std::string out = std::move(m_pending);
  m_pending.clear();
  return out + ReadUntil(m_stdout, std::chrono::steady_clock::now() + timeout, false);
}

void ServerProcess::Signal(int signal) const { ::kill(m_pid, signal); }

std::optional<int> ServerProcess::Wait(std::chrono::milliseconds timeout) {
  std::optional<int> code = WaitForExit(m_pid, timeout);
  if (code) m_pid = -1;
  return code;
}

std::string Response::Header(const char* name) const {
  auto it = message.find(name);
  return it == message.end() ? std::string() : std::string(it->value());
}

Client::Client(unsigned short port) {
  net::ip::tcp::endpoint endpoint(net::ip::make_address("127.0.0.1"), port);
  m_connected = !Run([&](auto done) { m_stream.async_connect(endpoint, [done](beast::error_code ec) { done(ec, 0); }); },
                     5s);
}

template <class Start>
beast::error_code Client::Run(Start start, std::chrono::milliseconds timeout) {
  beast::error_code result = net::error::would_block;
  m_stream.expires_after(timeout);
  start([&result](beast::error_code ec, std::size_t) { result = ec; });
  m_io.restart();
  m_io.run();
  return result;
}

beast::error_code Client::Send(const std::string& raw) {
  return Run([&](auto done) { net::async_write(m_stream, net::buffer(raw), done); }, 10s);
}

Response Client::Read(bool head, std::chrono::milliseconds timeout) {
  http::response_parser<http::string_body> parser;
  parser.body_limit(boost::none);
  parser.skip(head);
  Response response;
  response.error = Run([&](auto done) { http::async_read(m_stream, m_buffer, parser, done); }, timeout);
  response.message = parser.release();
  return response;
}

Response Client::Get(const std::string& target, const std::string& extraFields) {
  Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: vamu-test\r\n" + extraFields + "\r\n");
  return Read();
}

bool Client::ClosedByServer(std::chrono::milliseconds timeout) {
  // Straight on the descriptor: what matters is the end of the stream, not messages.
  int fd = m_stream.socket().native_handle();
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, int(left.count())) <= 0) return false;
    char buf[65536];
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
  }
}

Response Fetch(unsigned short port, const std::string& target, const std::string& extraFields) {
  Client client(port);
  return client.Get(target, extraFields);
}

bool WaitForText(const std::string& path, const std::string& text, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    if (Site::ReadFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(10ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

std::string SlowCommand(int ms, const std::string& flag) { return "slow&" + std::to_string(ms) + "&" + flag; }

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = char('a' + i % 26);
  return s;
}

}  // namespace host::test
