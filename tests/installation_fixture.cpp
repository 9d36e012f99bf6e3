#include "tests/installation_fixture.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/paths.h"
#include "platform/registry.h"

namespace host::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string NginxProgram() {
  for (const char* path : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"})
    if (::access(path, X_OK) == 0) return path;
  return "";
}

unsigned short FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  unsigned short port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

std::vector<std::string> CommandWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

std::string LineStarting(const std::string& text, const std::string& start) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(start, 0) == 0) return line.substr(start.size());
  return "";
}

std::string WithListen(const std::string& site, const std::string& address) {
  std::istringstream in(site);
  std::string copy;
  bool listened = false;
  for (std::string line; std::getline(in, line);) {
    std::size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && line.compare(first, 7, "listen ") == 0) {
      if (!listened) copy += "    listen " + address + ";\n";
      listened = true;
      continue;
    }
    copy += line + "\n";
  }
  return listened ? copy : "";
}

std::vector<std::string> WriteNginxConf(const std::string& work, const std::string& siteFile) {
  std::string temp = work + "/temp";
  fs::create_directories(temp);
  for (const char* params : {"fastcgi_params", "proxy_params"}) {
    std::error_code ec;
    fs::copy_file(std::string("/etc/nginx/") + params, work + "/" + params, fs::copy_options::overwrite_existing, ec);
  }
  // As root the workers would drop to nobody, who may not read a test's files.
  std::ofstream(work + "/nginx.conf", std::ios::binary)
      << (::geteuid() == 0 ? "user root;\n" : "") << "daemon off;\nworker_processes 1;\npid " << work
      << "/nginx.pid;\nerror_log " << work << "/error.log;\nevents { worker_connections 512; }\nhttp {\n"
      << "  include /etc/nginx/mime.types;\n  default_type application/octet-stream;\n  access_log " << work
      << "/access.log;\n  client_body_temp_path " << temp << ";\n  fastcgi_temp_path " << temp
      << ";\n  proxy_temp_path " << temp << ";\n  uwsgi_temp_path " << temp << ";\n  scgi_temp_path " << temp
      << ";\n  include " << siteFile << ";\n}\n";
  return {"-e", work + "/error.log", "-p", work, "-c", work + "/nginx.conf"};
}

bool WaitForPort(unsigned short port, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

void InstallationTest::SetUp() {
  std::optional<std::string> temp = CreateTempFile(TempDirectory());
  ASSERT_TRUE(temp);
  fs::remove(*temp);
  tmp = *temp;
  root = tmp + "/root";
  errors = tmp + "/errors.log";
  fs::create_directories(root);
  // nginx's workers and the host may run as other users: the tree is readable.
  fs::permissions(tmp, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
}

void InstallationTest::TearDown() {
  if (tmp.empty()) return;
  std::string text = Site::ReadFile(errors);
  EXPECT_EQ(text.find("Sanitizer"), std::string::npos) << text;
  EXPECT_EQ(text.find("runtime error"), std::string::npos) << text;
  std::error_code ec;
  fs::remove_all(tmp, ec);
}

void InstallationTest::StartUnit(const std::string& unit) {
  std::vector<std::string> words = CommandWords(LineStarting(unit, "ExecStart="));
  ASSERT_GE(words.size(), 2u) << unit;
  ASSERT_EQ(LineStarting(unit, "RuntimeDirectory="), "vamu");
  fs::create_directories(root + "/run/vamu");
  std::string program = words[0];
  words.erase(words.begin());
  ASSERT_TRUE(fcgi.Launch(program, words, errors, tmp + "/marker")) << Site::ReadFile(errors);
}

void InstallationTest::StartNginx(const std::string& site, unsigned short* port) {
  ASSERT_FALSE(NginxProgram().empty()) << "nginx is not installed (Debian package nginx; ./vamu test installs it)";
  *port = FreeLoopbackPort();
  std::string listening = WithListen(site, "127.0.0.1:" + std::to_string(*port));
  ASSERT_FALSE(listening.empty()) << "the installed site file has no listen line:\n" << site;
  Site::WriteFile(tmp + "/site.conf", listening);
  std::vector<std::string> args = WriteNginxConf(tmp + "/nginx", tmp + "/site.conf");
  ASSERT_TRUE(nginx.Launch(NginxProgram(), args, errors, tmp + "/marker", false));
  ASSERT_TRUE(WaitForPort(*port)) << "nginx does not listen on " << *port << ": "
                                  << Site::ReadFile(tmp + "/nginx/error.log");
}

void InstallationTest::StopServers() {
  nginx.Signal(SIGTERM);
  EXPECT_TRUE(nginx.Wait(10s));
  fcgi.Signal(SIGTERM);
  EXPECT_EQ(fcgi.Wait(15s), 0) << "the host ends cleanly at SIGTERM";
}

long long AwaitVisits(const std::string& registryFile, long long expected) {
  auto read = [&] {
    std::optional<RegValue> counter =
        CRegistry::Load(registryFile).Value("HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server", "Counter");
    return counter ? static_cast<long long>(counter->dword) : -1;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  long long visits = read();
  for (; visits != expected && std::chrono::steady_clock::now() < deadline; visits = read())
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return visits;
}

}  // namespace host::test
