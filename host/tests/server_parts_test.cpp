// The smaller parts of the server: command line, access log lines, worker pool.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/access_log.h"
#include "host/server_options.h"
#include "host/worker_pool.h"
#include "platform/paths.h"

namespace host {
namespace {

using namespace std::chrono_literals;

std::optional<ServerOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
  std::string ignored;
  return ParseServerOptions(args, error ? error : &ignored);
}

TEST(ServerOptions, DefaultsAndValues) {
  std::optional<ServerOptions> o = Parse({});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->port, 8080);
  EXPECT_EQ(o->bindAddress, "127.0.0.1");
  EXPECT_EQ(o->logDestination, "-");
  EXPECT_TRUE(o->extensionPath.empty());
  EXPECT_EQ(o->maxConnections, 256u);
  EXPECT_EQ(o->maxPerAddress, 32u);
  EXPECT_EQ(o->headerTimeout, 10s);

  o = Parse({"--port", "0", "--bind=0.0.0.0", "--threads", "3", "--registry", "/r.reg", "--log", "/tmp/a.log",
             "--extension", "/x/libportico.so", "--read-timeout", "0.25", "--max-header", "4096",
             "--max-per-address", "0", "--header-timeout", "2.5"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->port, 0);
  EXPECT_EQ(o->bindAddress, "0.0.0.0");
  EXPECT_EQ(o->threads, 3u);
  EXPECT_EQ(o->registryPath, "/r.reg");
  EXPECT_EQ(o->logDestination, "/tmp/a.log");
  EXPECT_EQ(o->extensionPath, "/x/libportico.so");
  EXPECT_EQ(o->readTimeout, 250ms);
  EXPECT_EQ(o->maxHeaderBytes, 4096u);
  EXPECT_EQ(o->maxPerAddress, 0u) << "0 switches the per-address limit off";
  EXPECT_EQ(o->headerTimeout, 2500ms);
  EXPECT_TRUE(Parse({"--help"})->help);
}

TEST(ServerOptions, BadCommandLinesAreRefusedWithAReason) {
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"--port", "65536"}, "bad value for --port"},
      {{"--port", "-1"}, "bad value for --port"},
      {{"--port", "80x"}, "bad value for --port"},
      {{"--threads", "0"}, "bad value for --threads"},
      {{"--threads"}, "--threads needs a value"},
      {{"--idle-timeout", "0"}, "bad value for --idle-timeout"},
      {{"--idle-timeout", "nan"}, "bad value for --idle-timeout"},
      {{"--log="}, "bad value for --log"},
      {{"--colour"}, "unknown option --colour"},
      {{"8080"}, "unknown option 8080"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(Parse(c.args, &error)) << c.args[0];
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(AccessLog, EscapesUntrustedTextAndCutsIt) {
  EXPECT_EQ(AccessLog::Escape("Mozilla/4.0", 100), "Mozilla/4.0");
  EXPECT_EQ(AccessLog::Escape("a\"b\\c\nd\x7f", 100), "a\\x22b\\x5cc\\x0ad\\x7f");
  EXPECT_EQ(AccessLog::Escape("abcdef", 3), "abc...");
  EXPECT_EQ(AccessLog::Escape("\xb3\xf3", 10), "\xb3\xf3") << "windows-1250 letters stay";
}

TEST(AccessLog, OneLinePerRecordInTheFile) {
  std::optional<std::string> path = CreateTempFile(TempDirectory());
  ASSERT_TRUE(path);
  {
    AccessLog log;
    ASSERT_TRUE(log.Open(*path));
    AccessRecord r;
    r.remoteAddress = "127.0.0.1";
    r.method = "GET";
    r.target = "/portico.dll?Topic&3";
    r.protocol = "HTTP/1.1";
    r.status = 200;
    r.bytes = 42;
    r.logData = "Mozilla/4.0";
    log.Write(r);
    r.logData.clear();
    r.target = std::string(5000, 'q');
    log.Write(r);
  }
  std::ifstream in(*path);
  std::string first, second, third;
  ASSERT_TRUE(std::getline(in, first));
  ASSERT_TRUE(std::getline(in, second));
  EXPECT_FALSE(std::getline(in, third));
  EXPECT_NE(first.find("127.0.0.1 - - ["), std::string::npos) << first;
  EXPECT_NE(first.find("] \"GET /portico.dll?Topic&3 HTTP/1.1\" 200 42 \"Mozilla/4.0\" "), std::string::npos) << first;
  EXPECT_NE(second.find(" 200 42 \"-\" "), std::string::npos);
  EXPECT_LT(second.size(), 2200u) << "long targets are cut";
  std::remove(path->c_str());
  AccessLog bad;
  EXPECT_FALSE(bad.Open("/nonexistent-dir/access.log"));
}

TEST(WorkerPool, RunsJobsOnSeveralThreadsAtOnce) {
  WorkerPool pool(4);
  std::atomic<int> running{0}, peak{0}, done{0};
  for (int i = 0; i < 8; ++i)
    pool.Post([&] {
      int now = ++running;
      int seen = peak.load();
      while (now > seen && !peak.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::sleep_for(30ms);
      --running;
      ++done;
    });
  EXPECT_TRUE(pool.WaitIdle(std::chrono::steady_clock::now() + 5s));
  EXPECT_EQ(done, 8);
  EXPECT_GT(peak, 1);
  EXPECT_LE(peak, 4);
}

TEST(WorkerPool, WaitIdleGivesUpAtTheDeadlineAndClosedPoolDropsJobs) {
  WorkerPool pool(1);
  std::atomic<bool> release{false};
  pool.Post([&] {
    while (!release) std::this_thread::sleep_for(1ms);
  });
  EXPECT_FALSE(pool.WaitIdle(std::chrono::steady_clock::now() + 50ms));
  EXPECT_EQ(pool.Pending(), 1u);
  pool.Close();
  bool ran = false;
  pool.Post([&] { ran = true; });
  release = true;
  EXPECT_TRUE(pool.WaitIdle(std::chrono::steady_clock::now() + 5s));
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace host
