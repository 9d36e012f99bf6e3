// The installed system end to end: setup installs the distribution into a
// temporary root, nginx serves the installed site file on a free loopback
// port, and vamufcgi runs as the installed service unit starts it, on its
// Unix socket below the root. Pages are fetched through nginx.
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "host/tests/server_fixture.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using host::test::Fetch;
using host::test::Response;
using host::test::ServerProcess;
using host::test::Site;

std::string NginxProgram() {
  for (const char* path : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"})
    if (::access(path, X_OK) == 0) return path;
  return "";
}

unsigned short FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
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

// The words of a unit file's command line; double quotes group.
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

struct InstalledSite : ::testing::Test {
  std::string tmp;
  std::string root;
  std::string errors;  // standard error of every program the test runs
  ServerProcess fcgi;
  ServerProcess nginx;
  unsigned short port = 0;

  void SetUp() override {
    if (NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed (Debian package nginx; ./vamu test installs it)";
    std::optional<std::string> temp = CreateTempFile(TempDirectory());
    fs::remove(*temp);
    tmp = *temp;
    root = tmp + "/root";
    errors = tmp + "/errors.log";
    fs::create_directories(root + "/etc/nginx");  // setup installs only where a web service is
    // nginx's workers and the host may run as other users: the tree is readable.
    fs::permissions(tmp, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  }
  void TearDown() override {
    if (tmp.empty()) return;
    std::string text = Site::ReadFile(errors);
    EXPECT_EQ(text.find("Sanitizer"), std::string::npos) << text;
    EXPECT_EQ(text.find("runtime error"), std::string::npos) << text;
    std::error_code ec;
    fs::remove_all(tmp, ec);
  }

  // Runs a program to its end; its exit code, its output in *out.
  int Run(const std::string& program, const std::vector<std::string>& args, std::string* out) {
    ServerProcess p;
    if (!p.Launch(program, args, errors, tmp + "/marker", false)) return -1;
    *out = p.ReadOutput(120s);
    return p.Wait(60s).value_or(-1);
  }

  // The distribution with the demo bases made from the corpus, installed by setup.
  void Install() {
    std::string out;
    ASSERT_EQ(Run("/bin/bash", {VAMU_SOURCE_DIR "/demo/build-demo.sh", VAMU_BIN_DIR, tmp + "/demo"}, &out), 0)
        << out << Site::ReadFile(errors);
    std::string dist = tmp + "/dist";
    fs::copy(VAMU_DIST_DIR, dist, fs::copy_options::recursive);
    fs::remove_all(dist + "/bases");
    fs::copy(tmp + "/demo/bases", dist + "/bases", fs::copy_options::recursive);
    ASSERT_EQ(Run(dist + "/setup", {"--root", root, "--full", "--no-restart"}, &out), 0) << out << Site::ReadFile(errors);
  }

  // The host as the installed unit starts it; its runtime directory made as systemd would.
  void StartHost() {
    std::string unit = Site::ReadFile(root + "/etc/systemd/system/vamufcgi.service");
    std::vector<std::string> words = CommandWords(LineStarting(unit, "ExecStart="));
    ASSERT_GE(words.size(), 2u) << unit;
    EXPECT_EQ(LineStarting(unit, "RuntimeDirectory="), "vamu");
    fs::create_directories(root + "/run/vamu");
    std::string program = words[0];
    words.erase(words.begin());
    ASSERT_TRUE(fcgi.Launch(program, words, errors, tmp + "/marker")) << Site::ReadFile(errors);
  }

  // nginx on a free loopback port with the installed site file, whose listen
  // lines (port 8090, also on IPv6) are the only part changed.
  void StartNginx() {
    port = FreePort();
    std::string site = Site::ReadFile(root + "/etc/nginx/sites-available/vamu.conf");
    ASSERT_FALSE(site.empty());
    std::istringstream in(site);
    std::string copy;
    bool listened = false;
    for (std::string line; std::getline(in, line);) {
      if (line.find_first_not_of(' ') != std::string::npos && line.substr(line.find_first_not_of(' ')).rfind("listen ", 0) == 0) {
        if (!listened) copy += "    listen 127.0.0.1:" + std::to_string(port) + ";\n";
        listened = true;
        continue;
      }
      copy += line + "\n";
    }
    ASSERT_TRUE(listened) << site;
    std::string conf = root + "/etc/nginx";
    Site::WriteFile(tmp + "/vamu-site.conf", copy);
    fs::copy_file("/etc/nginx/fastcgi_params", conf + "/fastcgi_params", fs::copy_options::overwrite_existing);
    fs::create_directories(tmp + "/nginx/temp");
    std::string t = tmp + "/nginx/temp";
    Site::WriteFile(conf + "/nginx.conf",
                    std::string(::geteuid() == 0 ? "user root;\n" : "") +
                        "daemon off;\nworker_processes 1;\npid " + tmp + "/nginx/nginx.pid;\nerror_log " + tmp +
                        "/nginx/error.log;\nevents { worker_connections 64; }\nhttp {\n  include /etc/nginx/mime.types;\n"
                        "  default_type application/octet-stream;\n  access_log " + tmp + "/nginx/access.log;\n"
                        "  client_body_temp_path " + t + ";\n  fastcgi_temp_path " + t + ";\n  proxy_temp_path " + t +
                        ";\n  uwsgi_temp_path " + t + ";\n  scgi_temp_path " + t + ";\n  include " + tmp +
                        "/vamu-site.conf;\n}\n");
    ASSERT_TRUE(nginx.Launch(NginxProgram(), {"-e", tmp + "/nginx/error.log", "-p", tmp + "/nginx", "-c", conf + "/nginx.conf"},
                             errors, tmp + "/marker", false));
    for (int i = 0; i < 200; ++i) {
      if (host::test::Client(port).Connected()) return;
      std::this_thread::sleep_for(50ms);
    }
    FAIL() << "nginx does not listen on " << port << ": " << Site::ReadFile(tmp + "/nginx/error.log");
  }

  Response Get(const std::string& target) { return Fetch(port, target); }
};

TEST_F(InstalledSite, FramesetDocumentSearchAndStaticFileThroughNginx) {
  Install();
  StartHost();
  StartNginx();

  const std::string installed = Site::ReadFile(root + "/opt/vamu/site/default.htm");
  ASSERT_FALSE(installed.empty());
  Response page = Get("/default.htm");
  EXPECT_EQ(page.Status(), 200);
  EXPECT_EQ(page.Body(), installed) << "nginx serves the installed static files";
  EXPECT_EQ(Get("/").Body(), installed);

  Response frameset = Get("/portico.dll?Main&D97483D09946");
  ASSERT_EQ(frameset.Status(), 200) << frameset.error.message() << Site::ReadFile(tmp + "/nginx/error.log") << Site::ReadFile(errors) << fcgi.ReadOutput(1s);
  EXPECT_EQ(frameset.Header("Content-Type"), "text/html; charset=windows-1250");
  EXPECT_NE(frameset.Body().find("<FRAME NAME=VAMUFOOT src=portico.dll?Foot&-3>"), std::string::npos) << frameset.Body();

  Response topic = Get("/portico.dll?Topic&D97483D09946");
  ASSERT_EQ(topic.Status(), 200);
  EXPECT_NE(topic.Body().find("charset=windows-1250"), std::string::npos);
  EXPECT_NE(topic.Body().find("KONSTYTUCJA"), std::string::npos);
  EXPECT_NE(topic.Body().find("<img src=\"orbmp.gif\""), std::string::npos) << "ruling icons from the rulings base";

  // An act reference with a path: PATH_INFO and PATH_TRANSLATED come from nginx.
  Response reference = Get("/portico.dll/D97483.ATT");
  ASSERT_EQ(reference.Status(), 200);
  EXPECT_NE(reference.Body().find("KONSTYTUCJA"), std::string::npos);

  Response search = Get("/portico.dll?Search&Pattern=konstytucja&TypyDoc=1");
  ASSERT_EQ(search.Status(), 200);
  EXPECT_NE(search.Body().find("portico.dll?Topic&"), std::string::npos) << search.Body();

  EXPECT_EQ(Get("/portico.dll?NoSuchCommand").Status(), 200) << "no output from the extension: an empty page";
  // The visit of the frameset was counted in the installed registry file.
  std::optional<RegValue> counter = CRegistry::Load(root + "/etc/vamu/registry.reg")
                                        .Value("HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server", "Counter");
  ASSERT_TRUE(counter);
  EXPECT_EQ(counter->dword, 1u);

  nginx.Signal(SIGTERM);
  EXPECT_TRUE(nginx.Wait(10s));
  fcgi.Signal(SIGTERM);
  EXPECT_EQ(fcgi.Wait(15s), 0);
  std::string log = fcgi.ReadOutput(1s);
  EXPECT_NE(log.find("\"GET /portico.dll?Topic&D97483D09946 HTTP/1.1\" 200"), std::string::npos) << log;
  EXPECT_NE(log.find("\"vamu-test\""), std::string::npos) << "the browser reaches the extension's log field";
  EXPECT_FALSE(fs::exists(root + "/run/vamu/vamufcgi.sock"));
}

}  // namespace
