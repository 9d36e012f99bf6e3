// Hostile and slow clients: oversized requests are refused, and neither a
// silent nor a slow client can hold a worker or the server.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "host/tests/server_fixture.h"

namespace host::test {
namespace {

using Limits = ServerTest;
using Clock = std::chrono::steady_clock;

TEST_F(Limits, MegabyteQueryStringIsRefused) {
  StartServer();
  Client c(Port());
  // Sent from a second thread: the server stops reading long before the end.
  auto sending = std::async(std::launch::async, [&] {
    return c.Send("GET /portico.dll?Search&Pattern=" + std::string(1 << 20, 'x') + " HTTP/1.1\r\nHost: x\r\n\r\n");
  });
  Response r = c.Read();
  sending.wait();
  EXPECT_EQ(r.Status(), 414);
  EXPECT_EQ(r.Header("Connection"), "close");
  EXPECT_EQ(Fetch(Port(), "/portico.dll?echo").Status(), 200);
}

TEST_F(Limits, OversizedHeaderIsRefused) {
  StartServer({"--max-header", "8192"});
  Client c(Port());
  c.Send("GET / HTTP/1.1\r\nHost: x\r\nCookie: " + std::string(20000, 'c') + "\r\n\r\n");
  EXPECT_EQ(c.Read().Status(), 431);
  Client many(Port());
  std::string fields;
  for (int i = 0; i < 1000; ++i) fields += "X-F" + std::to_string(i) + ": v\r\n";
  many.Send("GET / HTTP/1.1\r\nHost: x\r\n" + fields + "\r\n");
  EXPECT_EQ(many.Read().Status(), 431);
}

TEST_F(Limits, OversizedBodyIsRefusedBeforeItIsRead) {
  StartServer({"--max-body", "1000"});
  Client c(Port());
  c.Send("POST /portico.dll?echo HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n");
  EXPECT_EQ(c.Read().Status(), 413);
  Client chunked(Port());
  chunked.Send("POST /portico.dll?echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n800\r\n" +
               std::string(2048, 'b') + "\r\n0\r\n\r\n");
  EXPECT_EQ(chunked.Read().Status(), 413);
}

TEST_F(Limits, MalformedRequestsGetA400) {
  StartServer();
  for (const char* raw : {"GARBAGE\r\n\r\n", "GET / HTTP/9.9\r\n\r\n", "GET / HTTP/1.1\r\nBad Field\r\n\r\n",
                          "GET / HTTP/1.1\r\nContent-Length: x\r\n\r\n"}) {
    Client c(Port());
    c.Send(raw);
    EXPECT_EQ(c.Read().Status(), 400) << raw;
  }
  EXPECT_EQ(Fetch(Port(), "/").Status(), 200);
}

TEST_F(Limits, SilentAndSlowClientsAreDroppedAndHoldNoWorker) {
  StartServer({"--threads", "1", "--idle-timeout", "0.3", "--read-timeout", "0.5"});
  Client silent(Port());
  Client slow(Port());
  slow.Send("GET /portico.dll?echo HTTP/1.1\r\nHost: x\r\n");  // never finished
  Client kept(Port());
  EXPECT_EQ(kept.Get("/portico.dll?echo").Status(), 200) << "the one worker is free";

  auto start = Clock::now();
  EXPECT_TRUE(silent.ClosedByServer(3s));
  EXPECT_TRUE(slow.ClosedByServer(3s));
  EXPECT_TRUE(kept.ClosedByServer(3s)) << "idle keep-alive connection";
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_TRUE(WaitForText(site.accessLog, "\"GET /portico.dll?echo HTTP/1.1\" 408"));
}

TEST_F(Limits, ClientThatDoesNotReadIsDroppedAfterTheWriteTimeout) {
  StartServer({"--threads", "1", "--write-timeout", "0.3"});
  Client stuck(Port());
  stuck.Send("GET /portico.dll?big&200000000 HTTP/1.1\r\nHost: x\r\n\r\n");  // and never reads
  auto start = Clock::now();
  EXPECT_EQ(Fetch(Port(), "/portico.dll?echo").Status(), 200) << "the worker came free";
  EXPECT_LT(Clock::now() - start, 5s);
}

TEST_F(Limits, ConcurrentClientsRunOnThePool) {
  StartServer({"--threads", "4"});
  auto start = Clock::now();
  std::vector<std::future<Response>> slow;
  for (int i = 0; i < 4; ++i) slow.push_back(std::async(std::launch::async, [&] { return Fetch(Port(), "/portico.dll?slow&400"); }));
  std::vector<std::future<bool>> busy;
  for (int i = 0; i < 8; ++i)
    busy.push_back(std::async(std::launch::async, [&, i] {
      Client c(Port());
      for (int j = 0; j < 10; ++j) {
        std::string q = "echo&" + std::to_string(i) + "-" + std::to_string(j);
        if (c.Get("/portico.dll?" + q).Body().find("query=" + q + "\n") == std::string::npos) return false;
      }
      return true;
    }));
  for (auto& f : slow) EXPECT_EQ(f.get().Body(), "done");
  for (auto& f : busy) EXPECT_TRUE(f.get());
  EXPECT_LT(Clock::now() - start, 1500ms) << "four 400 ms requests in parallel, not one after another";
}

}  // namespace
}  // namespace host::test
