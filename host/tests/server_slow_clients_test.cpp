// Slow and silent clients against the connection limits: a head that comes
// a byte at a time is cut off after the header timeout, one address cannot
// take more than its share of connections, and a full server makes room by
// closing the connection that has waited longest, so that clients that send
// their request at once are all served.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "host/tests/server_fixture.h"
#include "host/tests/slow_clients.h"

namespace host::test {
namespace {

using SlowClientTest = ServerTest;
using Clock = std::chrono::steady_clock;

// Runs the attack on a thread of its own while `requests` runs; the tally.
RequestTally UnderAttack(SlowClients& slow, const std::function<RequestTally()>& requests) {
  auto trickle = std::async(std::launch::async, [&] { slow.Trickle(50ms, 20s); });
  RequestTally tally = requests();
  slow.Stop();
  trickle.wait();
  return tally;
}

void ExpectAllAnswered(const RequestTally& tally, std::size_t sent) {
  EXPECT_EQ(tally.ok, sent);
  EXPECT_EQ(tally.refused, 0u);
  EXPECT_EQ(tally.timedOut, 0u);
}

TEST_F(SlowClientTest, HeadMustArriveWithinTheHeaderTimeoutHoweverSteadilyItComes) {
  StartServer({"--header-timeout", "0.5", "--read-timeout", "30", "--idle-timeout", "30"});
  SlowClients trickling(Port(), {"127.0.0.1"}, 1);
  Client silent(Port());
  auto start = Clock::now();
  auto trickle = std::async(std::launch::async, [&] { trickling.Trickle(50ms, 5s); });
  trickle.wait();
  EXPECT_EQ(trickling.Closed(), 1u) << "a byte every 50 ms does not keep the head alive";
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_TRUE(silent.ClosedByServer(1s)) << "a connection that never speaks has the header timeout too";
}

TEST_F(SlowClientTest, BodyHasTheReadTimeoutNotTheHeaderTimeout) {
  StartServer({"--header-timeout", "0.3", "--read-timeout", "5"});
  Client c(Port());
  c.Send("POST /portico.dll?echo HTTP/1.1\r\nHost: x\r\nContent-Length: 8\r\n\r\n");
  for (char piece : std::string("abcdefgh")) {  // 0.8 s for the body, past the header timeout
    std::this_thread::sleep_for(100ms);
    c.Send(std::string(1, piece));
  }
  Response r = c.Read();
  EXPECT_EQ(r.Status(), 200);
  EXPECT_NE(r.Body().find("body=abcdefgh\n"), std::string::npos) << r.Body();
}

TEST_F(SlowClientTest, ManySlowConnectionsFromOneAddressLeaveOtherClientsServed) {
  // The slow address takes no more than its share; the rest of the server is free.
  StartServer({"--max-connections", "40", "--max-per-address", "8", "--header-timeout", "30"});
  SlowClients slow(Port(), {"127.0.0.2"}, 60);
  RequestTally tally = UnderAttack(slow, [&] { return SendRequests(Port(), "/", 4, 10); });
  ExpectAllAnswered(tally, 40);
  EXPECT_GE(slow.CountClosed(), 52u) << "at most 8 held from one address";
}

TEST_F(SlowClientTest, SlowConnectionsFromTheClientsOwnAddressMakeRoomForItsRequests) {
  // Attacker and readers behind one address: a request that comes whole
  // takes the place of the head that has waited longest.
  StartServer({"--max-connections", "40", "--max-per-address", "8", "--header-timeout", "30"});
  SlowClients slow(Port(), {"127.0.0.1"}, 60);
  RequestTally tally = UnderAttack(slow, [&] { return SendRequests(Port(), "/", 4, 10); });
  ExpectAllAnswered(tally, 40);
}

TEST_F(SlowClientTest, SlowConnectionsFromManyAddressesMakeRoomForRequestsAtTheServerLimit) {
  StartServer({"--max-connections", "20", "--max-per-address", "0", "--header-timeout", "30"});
  std::vector<std::string> sources;
  for (int i = 1; i <= 40; ++i) sources.push_back("127.0.1." + std::to_string(i));
  SlowClients slow(Port(), sources, 40);
  RequestTally tally = UnderAttack(slow, [&] { return SendRequests(Port(), "/portico.dll?echo", 4, 10); });
  ExpectAllAnswered(tally, 40);
  EXPECT_GE(slow.CountClosed(), 20u) << "no more than the limit held";
}

TEST_F(SlowClientTest, IdleConnectionMakesRoomButBusyOnesDoNot) {
  StartServer({"--max-connections", "2"});
  // Two kept-alive connections, idle after their answers: the older goes.
  Client a(Port()), b(Port());
  EXPECT_EQ(a.Get("/").Status(), 200);
  EXPECT_EQ(b.Get("/").Status(), 200);
  Client c(Port());
  EXPECT_EQ(c.Get("/").Status(), 200);
  EXPECT_TRUE(a.ClosedByServer(2s)) << "the connection idle longest";
  EXPECT_EQ(b.Get("/").Status(), 200) << "the younger one stays";

  // Both connections answering requests: a newcomer is refused.
  const std::string entered1 = site.base + "/entered1", entered2 = site.base + "/entered2";
  auto busy1 = std::async(std::launch::async, [&] { return b.Get("/portico.dll?" + SlowCommand(800, entered1)); });
  auto busy2 = std::async(std::launch::async, [&] { return c.Get("/portico.dll?" + SlowCommand(800, entered2)); });
  ASSERT_TRUE(WaitForText(entered1, "entered") && WaitForText(entered2, "entered"));
  Client e(Port());
  EXPECT_EQ(e.Read().Status(), 503);
  EXPECT_TRUE(e.ClosedByServer());
  EXPECT_EQ(busy1.get().Body(), "done");
  EXPECT_EQ(busy2.get().Body(), "done");
}

TEST_F(SlowClientTest, BusyConnectionsWhoseClientsHungUpMakeRoom) {
  // A client gives up on two slow answers and comes back at once on a new
  // connection (a reader reloading, a benchmark starting its next run):
  // the two are still being answered, but nobody waits for them. They make
  // room, rather than the connection of the same client that waits, idle,
  // between two requests.
  StartServer({"--max-per-address", "3"});
  Client k(Port());
  ASSERT_EQ(k.Get("/").Status(), 200);
  const std::string entered1 = site.base + "/entered1", entered2 = site.base + "/entered2";
  {
    Client a(Port()), b(Port());
    ASSERT_FALSE(a.Send("GET /portico.dll?" + SlowCommand(1500, entered1) + " HTTP/1.1\r\nHost: t\r\n\r\n"));
    ASSERT_FALSE(b.Send("GET /portico.dll?" + SlowCommand(1500, entered2) + " HTTP/1.1\r\nHost: t\r\n\r\n"));
    ASSERT_TRUE(WaitForText(entered1, "entered") && WaitForText(entered2, "entered"));
  }  // both hang up
  Client c(Port());
  EXPECT_EQ(c.Get("/").Status(), 200);
  EXPECT_EQ(k.Get("/").Status(), 200) << "the idle connection was kept";

  // Three slow answers whose clients still wait: a newcomer is refused.
  Client d(Port());
  ASSERT_EQ(d.Get("/").Status(), 200);
  std::vector<std::future<Response>> busy;
  int n = 0;
  for (Client* client : {&k, &c, &d}) {
    const std::string entered = site.base + "/busy" + std::to_string(++n);
    busy.push_back(std::async(std::launch::async,
                              [client, entered] { return client->Get("/portico.dll?" + SlowCommand(800, entered)); }));
    ASSERT_TRUE(WaitForText(entered, "entered"));
  }
  Client e(Port());
  EXPECT_EQ(e.Read().Status(), 503);
  for (auto& answer : busy) EXPECT_EQ(answer.get().Body(), "done");
}

}  // namespace
}  // namespace host::test
