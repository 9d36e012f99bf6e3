// vamuserver's status pages: /metrics counts what the server answered and
// carries the extension's figures, /healthz follows the extension's state,
// and only the clients allowed (loopback by default) read either.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <thread>
#include <utility>

#include "host/tests/prometheus_text.h"
#include "host/tests/server_fixture.h"

namespace host::test {
namespace {

using StatusPages = ServerTest;

// GET over a connection from `source`; the whole response as received.
std::string GetFrom(const std::string& source, unsigned short port, const std::string& target) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string response;
  timeval timeout{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
      ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buf[4096];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) response.append(buf, std::size_t(n));
  }
  ::close(fd);
  return response;
}

TEST_F(StatusPages, MetricsCountWhatTheServerAnsweredByCommandAndStatus) {
  StartServer();
  EXPECT_EQ(Fetch(Port(), "/portico.dll?echo&1").Status(), 200);
  EXPECT_EQ(Fetch(Port(), "/portico.dll?ECHO&2").Status(), 200);
  EXPECT_EQ(Fetch(Port(), "/portico.dll?big&1000").Status(), 200);
  EXPECT_EQ(Fetch(Port(), "/portico.dll?invented&1").Status(), 200);
  EXPECT_EQ(Fetch(Port(), "/gt.gif").Status(), 200);
  EXPECT_EQ(Fetch(Port(), "/nothere.htm").Status(), 404);
  Client open(Port());  // held open while the figures are read
  // A request is counted just before its line is logged, and that may come
  // after its client has the answer and has sent the next one: each line is
  // waited for, not only the last.
  for (const char* target : {"echo&1", "ECHO&2", "big&1000", "invented&1", "gt.gif", "nothere.htm"})
    ASSERT_TRUE(WaitForText(site.accessLog, target)) << target;

  Response r = Fetch(Port(), "/metrics");
  ASSERT_EQ(r.Status(), 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  const std::string& m = r.Body();
  for (const char* line : {"vamu_requests_total{command=\"echo\",status=\"200\"} 2\n",
                           "vamu_requests_total{command=\"big\",status=\"200\"} 1\n",
                           "vamu_requests_total{command=\"attachment\",status=\"200\"} 1\n",
                           "vamu_requests_total{command=\"static\",status=\"200\"} 1\n",
                           "vamu_requests_total{command=\"static\",status=\"404\"} 1\n",
                           "vamu_request_duration_seconds_count 6\n", "vamu_extension_state 1\n",
                           "vamu_test_served_total 4\n"})
    EXPECT_NE(m.find(line), std::string::npos) << line << "\nin\n" << m;
  // Bodies: 1000 pattern bytes, the echo and empty pages, the 9-byte image, the 404 page.
  std::size_t at = m.find("\nvamu_response_bytes_total ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(std::stoull(m.substr(at + 27)), 1009u);
  at = m.find("\nvamu_open_connections ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GE(std::stoull(m.substr(at + 23)), 2u) << "the held connection and this one";

  Response health = Fetch(Port(), "/healthz");
  EXPECT_EQ(health.Status(), 200);
  EXPECT_EQ(health.Body(), "ok\n");
  EXPECT_NE(Fetch(Port(), "/metrics").Body().find("vamu_requests_total{command=\"status\",status=\"200\"} 2\n"),
            std::string::npos)
      << "the status pages count too";
}

// The figures as a loopback client reads them, parsed by the test's own
// reader of the format; a text the reader refuses fails the test.
PrometheusText Scrape(unsigned short port) {
  Response r = Fetch(port, "/metrics");
  EXPECT_EQ(r.Status(), 200);
  PrometheusText parsed = ParsePrometheusText(r.Body());
  EXPECT_TRUE(parsed.Ok()) << parsed.error << "\nin\n" << r.Body();
  return parsed;
}

TEST_F(StatusPages, CountersGrowByTheRequestsMadeAndHostileAddressesAddNoSeries) {
  StartServer();
  const PrometheusText before = Scrape(Port());
  // Requests with the label each must get, worked out by hand: command words
  // of the extension, reader address families, files, and invented words
  // and paths (a small generator: the same every run).
  std::vector<std::pair<std::string, std::string>> made;  // target, label
  for (int i = 0; i < 5; ++i) made.push_back({"/portico.dll?echo&" + std::to_string(i), "echo"});
  made.push_back({"/portico.dll?Big&10", "big"});
  made.push_back({"/gt.gif", "static"});
  std::uint32_t x = 12345;
  auto token = [&x] {
    std::string t;
    for (int i = 0; i < 12; ++i) {
      x = x * 1103515245u + 12345u;
      t += "abcdefghijklmnopqrstuvwxyzQZ0189%"[(x >> 16) % 33];
      if (t.back() == '%') t += "C5";
    }
    return t;
  };
  std::set<std::string> tokens;
  for (int i = 0; i < 40; ++i) {
    const std::string t = token();
    tokens.insert(t);
    made.push_back({"/eli/" + t + "/" + t, "/eli"});
    made.push_back({"/api/v1/" + t, "/api"});
    made.push_back({"/feed/" + t, "/feed"});
    made.push_back({"/sitemap.xml?page=" + t, "/sitemap.xml"});
    made.push_back({"/portico.dll?" + t + "&1", "attachment"});
    made.push_back({"/portico.dll/" + t + "?" + t, "attachment"});
    made.push_back({"/" + t + ".htm", "static"});
  }
  made.push_back({"/robots.txt", "/robots.txt"});
  std::map<std::pair<std::string, int>, double> expected;
  for (const auto& [target, label] : made) {
    Response r = Fetch(Port(), target);
    ASSERT_NE(r.Status(), 0) << target;
    ++expected[{label, r.Status()}];
  }
  // Each request is counted as its log line is written, a moment after
  // the client has its answer: wait for all of them.
  PrometheusText after;
  const double all = before.Value("vamu_request_duration_seconds_count").value_or(-1) + double(made.size()) + 1;
  for (int tries = 0; tries < 100; ++tries) {
    after = Scrape(Port());
    if (after.Value("vamu_request_duration_seconds_count") >= all) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(after.Ok());
  EXPECT_EQ(after.Value("vamu_request_duration_seconds_count"), all) << "each request once, the first scrape too";
  for (const auto& [key, count] : expected) {
    const std::string series =
        "vamu_requests_total{command=\"" + key.first + "\",status=\"" + std::to_string(key.second) + "\"}";
    EXPECT_EQ(after.Value(series).value_or(0) - before.Value(series).value_or(0), count) << series;
  }
  // Only the labels above, the status pages' and none of the invented words.
  const std::set<std::string> allowed = {"echo", "big", "static", "attachment", "/eli", "/api", "/feed",
                                         "/sitemap.xml", "/robots.txt", "status"};
  for (const std::string& series : after.SeriesOf("vamu_requests_total")) {
    const std::size_t start = series.find("command=\"") + 9;
    EXPECT_TRUE(allowed.count(series.substr(start, series.find('"', start) - start))) << series;
  }
  EXPECT_LE(after.SeriesOf("vamu_requests_total").size(), 20u);
  const std::string text = Fetch(Port(), "/metrics").Body();
  for (const std::string& t : tokens) EXPECT_EQ(text.find(t.substr(0, 6)), std::string::npos) << t;
  // Bodies: at least the 10 pattern bytes and the 9-byte image grew the total.
  EXPECT_GE(after.Value("vamu_response_bytes_total").value_or(0) - before.Value("vamu_response_bytes_total").value_or(0),
            19);
}

TEST_F(StatusPages, HealthIs503WhileTheExtensionHasNothingToServe) {
  ::setenv("VAMU_TEST_EXT_STATE", "starting", 1);
  StartServer();
  ::unsetenv("VAMU_TEST_EXT_STATE");
  Response health = Fetch(Port(), "/healthz");
  EXPECT_EQ(health.Status(), 503);
  EXPECT_EQ(health.Body(), "starting\n");
}

TEST_F(StatusPages, OnlyAllowedClientsReadThem) {
  StartServer();
  EXPECT_NE(GetFrom("127.0.0.2", Port(), "/metrics").rfind("HTTP/1.1 200", 0), std::string::npos)
      << "all of 127.0.0.0/8 is loopback";
  server.Signal(SIGTERM);
  ASSERT_EQ(server.Wait(), 0);

  ServerProcess other;
  ASSERT_TRUE(other.Start(site, {"--status-from", "127.0.0.3"}));
  EXPECT_EQ(Fetch(other.Port(), "/metrics").Status(), 403);
  EXPECT_EQ(Fetch(other.Port(), "/healthz").Status(), 403);
  EXPECT_EQ(GetFrom("127.0.0.3", other.Port(), "/healthz").rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_EQ(Fetch(other.Port(), "/portico.dll?echo").Status(), 200) << "pages are for everybody";
}

TEST(StatusOptions, AMalformedClientListIsRefused) {
  ProgramResult r = RunProgram({"--status-from", "10.0.0.0/40"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("bad value for --status-from"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace host::test
