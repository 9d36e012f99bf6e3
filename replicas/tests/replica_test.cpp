// Replicas behind nginx, built on this machine: three vamuserver, each in a
// network namespace of its own with its own copy of the bases, and nginx with
// the balancer's site file in a fourth, joined to each by a veth pair. A
// bounded client loads the balancer while one server is killed with SIGKILL
// and started again, and then a new acts base is published to all three with
// `vamubase publish`. No request may fail but the answers the killed server
// was sending at that moment, and every server must serve the new act within
// two seconds of its publication, without a restart. Prints the requests sent
// and failed and the latency before, during and after.
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

#include "host/tests/server_fixture.h"
#include "replicas/tests/load_client.h"
#include "replicas/tests/netns_lab.h"
#include "tests/installation_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using host::test::Site;
using replicas::test::Clock;
using replicas::test::Figures;
using replicas::test::NetnsLab;

constexpr int kServers = 3;
constexpr unsigned short kPort = 8080;  // each machine has a network of its own
// A published base is served within this time (the hosts look twice a second).
constexpr auto kPublished = 2s;

// The act the new edition of the acts base adds, and a text of its page.
constexpr char kNewAct[] = "/portico.dll?Topic&D25999D25999";
constexpr char kNewActText[] = "USTAWA O REPLIKACH";

std::string ServerAddress(int k) { return "10.77." + std::to_string(k) + ".2"; }

// The balancer's site file with these servers in its upstream, each with the
// parameters of the file's first server line.
std::string WithServers(const std::string& site, const std::vector<std::string>& addresses) {
  std::istringstream in(site);
  std::string copy;
  bool replaced = false;
  for (std::string line; std::getline(in, line);) {
    std::size_t first = line.find_first_not_of(" \t");
    bool serverLine = first != std::string::npos && line.compare(first, 7, "server ") == 0 &&
                      line.find(';') != std::string::npos && line.find('{') == std::string::npos;
    if (!serverLine) {
      copy += line + "\n";
      continue;
    }
    if (replaced) continue;
    replaced = true;
    std::size_t address = line.find_first_not_of(' ', first + 7);
    std::size_t end = line.find_first_of(" ;", address);
    for (const std::string& a : addresses) copy += line.substr(0, address) + a + line.substr(end) + "\n";
  }
  return replaced ? copy : "";
}

std::size_t Lines(const std::string& path) {
  std::string text = Site::ReadFile(path);
  return std::size_t(std::count(text.begin(), text.end(), '\n'));
}

void Report(const char* phase, const Figures& f) {
  std::cout << "replicas: " << phase << ": " << f.sent << " requests, " << f.failed << " failed, p50 " << f.p50
            << " ms, p99 " << f.p99 << " ms, max " << f.max << " ms" << std::endl;
  std::string key = phase;
  ::testing::Test::RecordProperty(key + "_requests", int(f.sent));
  ::testing::Test::RecordProperty(key + "_failed", int(f.failed));
  ::testing::Test::RecordProperty(key + "_p99_us", int(f.p99 * 1000));
}

struct Replicas : host::test::InstallationTest {
  std::unique_ptr<NetnsLab> lab;
  pid_t servers[kServers + 1] = {};

  void SetUp() override {
    InstallationTest::SetUp();
    lab = std::make_unique<NetnsLab>();
    if (!lab->AddMachine("b"))
      GTEST_SKIP() << "network namespaces cannot be made here (they need root, or CAP_SYS_ADMIN and CAP_NET_ADMIN): "
                   << lab->Error();
  }
  void TearDown() override {
    std::vector<std::string> ours = lab ? lab->Namespaces() : std::vector<std::string>{};
    lab.reset();
    for (const std::string& ns : NetnsLab::ListNamespaces())
      EXPECT_EQ(std::find(ours.begin(), ours.end(), ns), ours.end()) << ns << " was left behind";
    InstallationTest::TearDown();
  }

  std::string ServerDir(int k) const { return tmp + "/s" + std::to_string(k); }

  // Server k's own copy of the bases and a registry file naming them.
  void MakeServer(int k) {
    std::string dir = ServerDir(k);
    fs::create_directories(dir);
    fs::copy(tmp + "/demo/bases", dir + "/bases", fs::copy_options::recursive);
    std::string registry = Site::ReadFile(tmp + "/demo/registry.reg");
    for (std::size_t at = 0; (at = registry.find(tmp + "/demo/bases/", at)) != std::string::npos;)
      registry.replace(at, (tmp + "/demo/bases/").size(), dir + "/bases/");
    Site::WriteFile(dir + "/registry.reg", registry);
  }

  // On all addresses of its machine: the balancer reaches it on its link,
  // the test on the machine's loopback.
  void StartServer(int k, const std::string& log) {
    std::string out = ServerDir(k) + "/" + log + ".out";
    servers[k] = lab->Start("s" + std::to_string(k),
                            {VAMUSERVER_PATH, "--bind", "0.0.0.0", "--port", std::to_string(kPort), "--registry",
                             ServerDir(k) + "/registry.reg", "--log", ServerDir(k) + "/" + log + ".log"},
                            out);
    ASSERT_GT(servers[k], 0);
    ASSERT_TRUE(host::test::WaitForText(out, "listening on", 10s)) << Site::ReadFile(out);
  }

  // What an operator does on each server: the new base and its word
  // positions file (the base's name + "p") copied beside the ones in
  // service, then published over them.
  void CopyBeside(int k, const std::string& base) {
    fs::copy_file(base, ServerDir(k) + "/bases/acts.vq.new", fs::copy_options::overwrite_existing);
    fs::copy_file(base + "p", ServerDir(k) + "/bases/acts.vq.newp", fs::copy_options::overwrite_existing);
  }
  int Publish(int k) {
    std::string live = ServerDir(k) + "/bases/acts.vq";
    return Run({VAMU_BIN_DIR "/vamubase", "publish", live + ".new", live});
  }

  // Asks a machine's own server (on its loopback), or the balancer, for the
  // new act until it is served or `deadline` passes; when it was served.
  std::optional<Clock::time_point> NewActServed(const std::string& machine, Clock::time_point deadline) {
    std::optional<Clock::time_point> seen;
    std::thread([&] {
      if (!lab->Join(machine)) return;
      for (;;) {
        host::test::Response r = host::test::Fetch(kPort, kNewAct);
        if (r.Status() == 200 && r.Body().find(kNewActText) != std::string::npos) {
          seen = Clock::now();
          return;
        }
        if (Clock::now() > deadline) return;
        std::this_thread::sleep_for(20ms);
      }
    }).join();
    return seen;
  }

  // The process started as server k still runs.
  bool Running(int k) const { return ::waitpid(servers[k], nullptr, WNOHANG) == 0; }

  int Run(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) line += "'" + a + "' ";
    return std::system((line + ">>'" + errors + "' 2>&1").c_str());
  }
};

TEST_F(Replicas, ServerKilledAndBasePublishedUnderLoad) {
  ASSERT_FALSE(host::test::NginxProgram().empty()) << "nginx is not installed (./vamu test installs it)";
  // The bases, and a later acts base with one act more.
  ASSERT_EQ(Run({"bash", VAMU_SOURCE_DIR "/demo/build-demo.sh", VAMU_BIN_DIR, tmp + "/demo"}), 0)
      << Site::ReadFile(errors);
  fs::create_directories(tmp + "/new");
  fs::copy_file(tmp + "/demo/bases/acts.vq", tmp + "/new/acts.vq");
  Site::WriteFile(tmp + "/new/D25999D25999.HTM",
                  "<HTML><HEAD><TITLE>Dz.U.25.1.999 - Ustawa o replikach</TITLE></HEAD>\r\n<BODY>\r\n"
                  "<H1>USTAWA O REPLIKACH</H1>\r\n<P>Art. 1. Tekst opublikowany w czasie pracy.\r\n</BODY></HTML>\r\n");
  ASSERT_EQ(Run({VAMU_BIN_DIR "/vamubase", "add", "--keys", "D25999", tmp + "/new/acts.vq",
                 tmp + "/new/D25999D25999.HTM"}),
            0)
      << Site::ReadFile(errors);
  ASSERT_EQ(Run({VAMU_BIN_DIR "/vamubase", "verify", "-q", tmp + "/new/acts.vq"}), 0) << Site::ReadFile(errors);

  // The machines: the balancer b and the servers s1..s3, a veth pair each.
  std::vector<std::string> addresses;
  for (int k = 1; k <= kServers; ++k) {
    std::string s = "s" + std::to_string(k), net = "10.77." + std::to_string(k) + ".";
    ASSERT_TRUE(lab->AddMachine(s)) << lab->Error();
    ASSERT_TRUE(lab->Link("b", "to" + s, net + "1/24", s, "eth0", net + "2/24")) << lab->Error();
    MakeServer(k);
    ASSERT_NO_FATAL_FAILURE(StartServer(k, "access"));
    addresses.push_back(ServerAddress(k) + ":" + std::to_string(kPort));
  }
  std::string site = WithServers(
      host::test::WithListen(Site::ReadFile(VAMU_SOURCE_DIR "/replicas/vamu-balancer.conf"), "127.0.0.1:8080"),
      addresses);
  ASSERT_FALSE(site.empty());
  Site::WriteFile(tmp + "/balancer.conf", site);
  std::vector<std::string> nginx = host::test::WriteNginxConf(tmp + "/nginx", tmp + "/balancer.conf");
  nginx.insert(nginx.begin(), host::test::NginxProgram());
  ASSERT_GT(lab->Start("b", nginx, tmp + "/nginx.out"), 0);
  bool up = false;
  std::thread([&] { up = lab->Join("b") && host::test::WaitForPort(kPort); }).join();
  ASSERT_TRUE(up) << Site::ReadFile(tmp + "/nginx/error.log") << Site::ReadFile(tmp + "/nginx.out");

  // The load: a document page of 120 KB, the frameset, a search, a static file.
  replicas::test::LoadClient load(*lab, "b", kPort,
                                  {{"/portico.dll?Topic&D97483D09946", "KONSTYTUCJA"},
                                   {"/portico.dll?Main&D97483D09946", "<FRAME NAME=VAMUFOOT"},
                                   {"/portico.dll?Search&Pattern=konstytucja&TypyDoc=1", "portico.dll?Topic&"},
                                   {"/Home.htm", "</HTML>"}},
                                  8);
  Clock::time_point start = Clock::now();
  std::this_thread::sleep_for(2500ms);
  Clock::time_point killed = Clock::now();
  ASSERT_TRUE(lab->Stop(servers[2], SIGKILL));
  std::this_thread::sleep_for(1000ms);
  ASSERT_NO_FATAL_FAILURE(StartServer(2, "access-again"));
  Clock::time_point back = Clock::now();
  std::this_thread::sleep_for(1500ms);

  // The new edition, while the load runs: not served by any server before
  // it is published, then by each within kPublished of its publication.
  for (int k = 1; k <= kServers; ++k) {
    EXPECT_FALSE(NewActServed("s" + std::to_string(k), Clock::now())) << "server " << k << " before the publication";
    CopyBeside(k, tmp + "/new/acts.vq");
  }
  Clock::time_point publishing = Clock::now();
  Clock::time_point published[kServers + 1];
  for (int k = 1; k <= kServers; ++k) {
    ASSERT_EQ(Publish(k), 0) << Site::ReadFile(errors);
    published[k] = Clock::now();
  }
  std::optional<Clock::time_point> seen[kServers + 1];
  {
    std::vector<std::thread> watches;
    for (int k = 1; k <= kServers; ++k)
      watches.emplace_back([&, k] { seen[k] = NewActServed("s" + std::to_string(k), published[k] + kPublished); });
    for (std::thread& w : watches) w.join();
  }
  for (int k = 1; k <= kServers; ++k) {
    EXPECT_TRUE(seen[k]) << "server " << k << " still serves the old acts base "
                         << std::chrono::seconds(kPublished).count() << " s after its publication";
    if (seen[k]) {
      double s = std::chrono::duration<double>(*seen[k] - published[k]).count();
      std::cout << "replicas: server " << k << " serves the new act " << s << " s after its publication" << std::endl;
      ::testing::Test::RecordProperty("server" + std::to_string(k) + "_new_act_ms", int(s * 1000));
    }
    EXPECT_TRUE(Running(k)) << "server " << k << " was restarted or ended";
  }
  // And the balancer, whichever server it asks.
  for (int i = 0; i < 2 * kServers; ++i)
    EXPECT_TRUE(NewActServed("b", Clock::now())) << "request " << i << " for the new act through the balancer";
  std::this_thread::sleep_for(2000ms);
  Clock::time_point end = Clock::now();
  load.Stop();
  ASSERT_TRUE(load.Joined());

  std::vector<replicas::test::Sample> samples = load.Samples();
  Figures before = replicas::test::FiguresOf(samples, start, killed);
  Figures during = replicas::test::FiguresOf(samples, killed, back);
  Figures after = replicas::test::FiguresOf(samples, back, publishing);
  Figures publication = replicas::test::FiguresOf(samples, publishing, end);
  Figures all = replicas::test::FiguresOf(samples, start, end + 1h);
  Report("before", before);
  Report("during", during);
  Report("after", after);
  Report("publication", publication);
  Report("all", all);
  // A server killed while it answers cuts off the answers it has begun:
  // nginx has passed their beginning on to the reader and cannot ask another
  // server instead. Those - answers cut off, to requests under way at the
  // kill, at most one per connection of the client - are the only failures
  // the run may have.
  std::size_t cut = 0;
  int shown = 0;
  for (const replicas::test::Sample& s : samples) {
    if (s.ok) continue;
    if (s.cut && s.sent < killed && s.Done() >= killed) {
      ++cut;
      std::cout << "replicas: cut off by the kill: " << s.why << std::endl;
    } else if (shown++ < 10) {
      ADD_FAILURE() << "failed at " << std::chrono::duration<double>(s.sent - start).count() << " s: " << s.why;
    }
  }
  std::cout << "replicas: answers cut off by the kill: " << cut << std::endl;
  ::testing::Test::RecordProperty("cut_off_by_the_kill", int(cut));
  EXPECT_EQ(all.failed, cut) << "failures besides the answers cut off by the kill";
  EXPECT_LE(cut, 8u);
  for (const Figures& f : {before, during, after, publication}) EXPECT_GE(f.sent, 20u) << "the load ran in every phase";

  // Every server took requests before the kill, and the killed one again
  // after its new start.
  for (int k = 1; k <= kServers; ++k) EXPECT_GT(Lines(ServerDir(k) + "/access.log"), 0u) << "server " << k;
  EXPECT_GT(Lines(ServerDir(2) + "/access-again.log"), 0u) << "the restarted server is back in the balancer";
}

}  // namespace
