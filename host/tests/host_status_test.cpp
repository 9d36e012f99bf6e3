// The status pages' parts: who may read them, how requests are named and
// counted, the histogram, and what the extension adds through its status
// entry point.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "host/address_filter.h"
#include "host/extension_module.h"
#include "host/host_status.h"
#include "host/tests/prometheus_text.h"

namespace host {
namespace {

using namespace std::chrono_literals;
using test::ParsePrometheusText;
using test::PrometheusText;

TEST(AddressFilter, LoopbackIsTheDefault) {
  AddressFilter f = AddressFilter::Loopback();
  for (const char* a : {"127.0.0.1", "127.255.3.4", "::1", "::ffff:127.0.0.1"}) EXPECT_TRUE(f.Allows(a)) << a;
  for (const char* a : {"10.0.0.1", "128.0.0.1", "::2", "::ffff:10.0.0.1", "", "localhost", "127.0.0.1.5"})
    EXPECT_FALSE(f.Allows(a)) << a;
}

TEST(AddressFilter, AddressesPrefixesAndAny) {
  std::optional<AddressFilter> f = AddressFilter::Parse("10.0.0.0/8,192.0.2.7,fd00::/8,2001:db8::1");
  ASSERT_TRUE(f);
  for (const char* a : {"10.200.1.1", "10.0.0.0", "192.0.2.7", "fd12::1", "2001:db8::1", "::ffff:10.9.9.9"})
    EXPECT_TRUE(f->Allows(a)) << a;
  for (const char* a : {"11.0.0.1", "192.0.2.8", "fe80::1", "2001:db8::2", "127.0.0.1", "::1"})
    EXPECT_FALSE(f->Allows(a)) << a;
  // Prefix lengths that are not whole bytes.
  std::optional<AddressFilter> odd = AddressFilter::Parse("172.16.0.0/12");
  ASSERT_TRUE(odd);
  EXPECT_TRUE(odd->Allows("172.31.255.255"));
  EXPECT_FALSE(odd->Allows("172.32.0.0"));
  EXPECT_TRUE(AddressFilter::Parse("any")->Allows("203.0.113.9"));
  EXPECT_TRUE(AddressFilter::Parse("any")->Allows("2001:db8::5"));
  EXPECT_TRUE(AddressFilter::Parse("loopback,10.1.2.3")->Allows("10.1.2.3"));
}

TEST(AddressFilter, MalformedListsAreRefused) {
  for (const char* list : {"", "x", "10.0.0.0/33", "::/129", "10.0.0.0/", "1.2.3.4/8x", "10.0.0.1,", "loopback,,any",
                           "1.2.3.4/-1", "300.1.1.1"})
    EXPECT_FALSE(AddressFilter::Parse(list)) << list;
}

struct HostStatusTest : ::testing::Test {
  ExtensionModule module;
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(module.Load(TEST_EXTENSION_PATH, &error)) << error;
  }
  void TearDown() override {
    ::unsetenv("VAMU_TEST_EXT_STATE");
    ::unsetenv("VAMU_TEST_EXT_METRICS_LINES");
  }
};

TEST_F(HostStatusTest, RequestsAreNamedByTheExtensionsCommandWordsOnly) {
  HostStatus status(module, AddressFilter::Loopback());
  const std::string dll = "/portico.dll";
  EXPECT_EQ(status.CommandOf(dll, "echo&x"), "echo");
  EXPECT_EQ(status.CommandOf(dll, "ECHO&x"), "echo") << "matched without case, named as the extension spells it";
  EXPECT_EQ(status.CommandOf(dll, "Portico=big&100"), "big");
  EXPECT_EQ(status.CommandOf(dll, "slow"), "slow") << "a query without arguments is its command";
  EXPECT_EQ(status.CommandOf(dll, "Portico=slow"), "attachment") << "the prefix goes only before an &";
  EXPECT_EQ(status.CommandOf(dll, "D9793.ATT"), "attachment");
  EXPECT_EQ(status.CommandOf(dll, "made-up-word&1"), "attachment");
  EXPECT_EQ(status.CommandOf(dll, ""), "attachment");
}

TEST_F(HostStatusTest, ReaderAddressesAreNamedByTheirFamilyNeverByThePath) {
  HostStatus status(module, AddressFilter::Loopback());
  // Worked out by hand from the addresses the extension answers.
  const std::pair<const char*, const char*> cases[] = {
      {"/eli/du/1997/483/ogl", "/eli"},
      {"/eli/", "/eli"},
      {"/api/v1/acts/D97483", "/api"},
      {"/api/v1/search", "/api"},
      {"/feed/nowe.atom", "/feed"},
      {"/sitemap.xml", "/sitemap.xml"},
      {"/robots.txt", "/robots.txt"},
      {"/eli", "attachment"},            // no family: not a reader address
      {"/elixir/x", "attachment"},
      {"/sitemap.xml.gz", "attachment"},
      {"/ELI/du/1997/483", "attachment"},  // exact case, as the hosts route them
  };
  for (const auto& [path, label] : cases) EXPECT_EQ(status.CommandOf(path, ""), label) << path;
  // The query does not name a reader address's label either.
  EXPECT_EQ(status.CommandOf("/eli/x", "echo&1"), "/eli");
}

TEST_F(HostStatusTest, CountsHistogramAndBytes) {
  HostStatus status(module, AddressFilter::Loopback());
  status.Record("echo", 200, 100, 500us);
  status.Record("echo", 200, 50, 3ms);
  status.Record("slow", 500, 0, 200ms);
  status.Record("refused", 1000, 7, 20s);  // no valid status: counted under 0
  std::string text = status.MetricsText(3);
  for (const char* line :
       {"vamu_requests_total{command=\"echo\",status=\"200\"} 2\n", "vamu_requests_total{command=\"slow\",status=\"500\"} 1\n",
        "vamu_requests_total{command=\"refused\",status=\"0\"} 1\n",
        // Cumulative: 0.5 ms; 3 ms; 200 ms; 20 s above every bound.
        "vamu_request_duration_seconds_bucket{le=\"0.001\"} 1\n",
        "vamu_request_duration_seconds_bucket{le=\"0.0025\"} 1\n",
        "vamu_request_duration_seconds_bucket{le=\"0.005\"} 2\n",
        "vamu_request_duration_seconds_bucket{le=\"0.1\"} 2\n",
        "vamu_request_duration_seconds_bucket{le=\"0.25\"} 3\n",
        "vamu_request_duration_seconds_bucket{le=\"10\"} 3\n",
        "vamu_request_duration_seconds_bucket{le=\"+Inf\"} 4\n", "vamu_request_duration_seconds_sum 20.2035\n",
        "vamu_request_duration_seconds_count 4\n", "vamu_response_bytes_total 157\n", "vamu_open_connections 3\n",
        "vamu_extension_state 1\n", "vamu_test_served_total 0\n", "# TYPE vamu_requests_total counter\n",
        "# TYPE vamu_request_duration_seconds histogram\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text;
  PrometheusText parsed = ParsePrometheusText(text);
  EXPECT_TRUE(parsed.Ok()) << parsed.error << "\nin\n" << text;
  EXPECT_EQ(parsed.types["vamu_request_duration_seconds"], "histogram");
  EXPECT_EQ(parsed.Sum("vamu_requests_total"), 4);
}

// The reader of the format must refuse what the format does not allow, or
// the tests that rely on it would pass anything.
TEST(PrometheusTextReader, RefusesWhatTheFormatDoesNotAllow) {
  const std::string good =
      "# HELP a_total Things.\n# TYPE a_total counter\na_total{x=\"1\",y=\"q\\\"\\\\\\n\"} 3\n"
      "# TYPE h histogram\nh_bucket{le=\"0.5\"} 1\nh_bucket{le=\"+Inf\"} 2\nh_sum 0.7\nh_count 2\n";
  PrometheusText parsed = ParsePrometheusText(good);
  ASSERT_TRUE(parsed.Ok()) << parsed.error;
  EXPECT_EQ(parsed.Value("a_total{x=\"1\",y=\"q\"\\\n\"}"), 3);
  EXPECT_EQ(parsed.Value("h_count"), 2);
  const char* const bad[] = {
      "a 1",                                              // no line end at the end
      "a{x=\"1\"} 1\na{x=\"1\"} 2\n",                      // one series twice
      "a{x=\"\\t\"} 1\n",                                // an escape the format does not have
      "a{x=1} 1\n",                                       // an unquoted label value
      "a{x=\"1\"}1\n",                                    // no space before the value
      "1a 1\n",                                           // a name starting with a digit
      "a{x:y=\"1\"} 1\n",                                 // a colon in a label name
      "a one\n",                                          // not a number
      "a 1\n# TYPE a counter\n",                          // TYPE after the samples
      "# TYPE a counter\n# TYPE a gauge\na 1\n",          // TYPE twice
      "# TYPE a counters\na 1\n",                         // no such type
      "a 1\nb 1\na{x=\"2\"} 1\n",                          // a family split
      "# TYPE h histogram\nh_bucket{le=\"1\"} 2\nh_bucket{le=\"+Inf\"} 1\nh_sum 1\nh_count 1\n",  // not cumulative
      "# TYPE h histogram\nh_bucket{le=\"1\"} 2\nh_bucket{le=\"+Inf\"} 2\nh_sum 1\nh_count 3\n",  // +Inf != count
      "# TYPE h histogram\nh_bucket{le=\"1\"} 2\nh_sum 1\nh_count 2\n",                          // no +Inf
  };
  for (const char* text : bad) EXPECT_FALSE(ParsePrometheusText(text).Ok()) << text;
}

TEST_F(HostStatusTest, LargeFiguresOfTheExtensionArriveWhole) {
  ::setenv("VAMU_TEST_EXT_METRICS_LINES", "5000", 1);  // 95,000 bytes, beyond the first buffer
  HostStatus status(module, AddressFilter::Loopback());
  std::string text = status.MetricsText(0);
  std::size_t fillers = 0;
  for (std::size_t at = text.find("vamu_test_filler 1\n"); at != std::string::npos;
       at = text.find("vamu_test_filler 1\n", at + 1))
    ++fillers;
  EXPECT_EQ(fillers, 5000u);
}

TEST_F(HostStatusTest, HealthFollowsTheExtensionsStateAndOnlyAllowedClientsGetAnAnswer) {
  HostStatus status(module, *AddressFilter::Parse("127.0.0.1,10.0.0.0/8"));
  EXPECT_FALSE(status.Respond("GET", "/portico.dll", "127.0.0.1", 0));
  EXPECT_FALSE(status.Respond("GET", "/metrics/x", "127.0.0.1", 0));
  std::optional<HostStatus::Answer> ok = status.Respond("GET", "/healthz", "10.1.1.1", 0);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
  EXPECT_EQ(ok->body, "ok\n");
  ::setenv("VAMU_TEST_EXT_STATE", "starting", 1);
  EXPECT_EQ(status.Respond("GET", "/healthz", "127.0.0.1", 0)->status, 503);
  ::setenv("VAMU_TEST_EXT_STATE", "nodata", 1);
  EXPECT_EQ(status.Respond("HEAD", "/healthz", "127.0.0.1", 0)->status, 503);
  EXPECT_EQ(status.Respond("GET", "/metrics", "192.0.2.1", 0)->status, 403);
  EXPECT_EQ(status.Respond("GET", "/healthz", "127.0.0.2", 0)->status, 403);
  EXPECT_EQ(status.Respond("POST", "/metrics", "127.0.0.1", 0)->status, 405);
  std::optional<HostStatus::Answer> metrics = status.Respond("GET", "/metrics", "127.0.0.1", 0);
  EXPECT_EQ(metrics->status, 200);
  EXPECT_EQ(metrics->contentType, "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_NE(metrics->body.find("vamu_extension_state 2\n"), std::string::npos);
}

TEST(HostStatusWithoutEntryPoint, ExtensionWithoutTheEntryPointCountsAsServing) {
  // No status entry point resolved (here: none loaded): serving, no commands, no figures.
  ExtensionModule plain;
  ASSERT_FALSE(plain.IsLoaded());
  ExtensionModule::Report report = plain.Status(true);
  EXPECT_EQ(report.state, EXTENSION_STATE_SERVING);
  EXPECT_TRUE(report.commands.empty());
  EXPECT_TRUE(report.metrics.empty());
}

}  // namespace
}  // namespace host
