// vamufcgi as nginx meets it: the real program with the test extension,
// spoken to over its Unix socket (or a loopback port) by a FastCGI client
// that can also misbehave - oversized and malformed parameters, a peer that
// leaves in the middle of a response - and stopped by SIGTERM.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>
#include <thread>

#include "host/tests/fcgi_client.h"
#include "host/tests/prometheus_text.h"
#include "host/tests/server_fixture.h"

namespace host::test {
namespace {

struct FcgiHost : ::testing::Test {
  Site site;
  ServerProcess host;
  std::string socket = site.base + "/fcgi.sock";

  std::vector<std::string> Args(const std::vector<std::string>& extra) {
    std::vector<std::string> args{"--socket",  socket,           "--registry", site.registry,
                                  "--log",     site.accessLog,   "--extension", TEST_EXTENSION_PATH};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  void Start(const std::vector<std::string>& extra = {}) {
    ASSERT_TRUE(host.Launch(VAMUFCGI_PATH, Args(extra), site.errorLog, site.marker))
        << Site::ReadFile(site.errorLog);
  }
  FcgiResponse Get(const std::string& query, const std::string& pathInfo = "") {
    FcgiClient client(socket);
    return client.Request(GetParams(query, pathInfo));
  }
  // Stops the host as systemd does; its exit code.
  std::optional<int> Stop() {
    host.Signal(SIGTERM);
    return host.Wait(10s);
  }
  void TearDown() override {
    std::string errors = Site::ReadFile(site.errorLog);
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
  }
};

TEST_F(FcgiHost, ControlBlockCarriesWhatNginxSends) {
  Start();
  Params params = GetParams("echo&x", "/D9793.ATT");
  params.push_back({"PATH_TRANSLATED", "/srv/site/D9793.ATT"});
  params.push_back({"HTTP_X_CUSTOM_FIELD", "custom"});
  FcgiClient client(socket);
  FcgiResponse r = client.Request(params);
  ASSERT_TRUE(r.ended) << r.out;
  EXPECT_EQ(r.out.rfind("Status: 200 OK\r\nContent-type: text/plain\r\n\r\n", 0), 0u) << r.out;
  const std::string body = r.Body();
  for (const char* line : {"method=GET\n", "query=echo&x\n", "pathinfo=/D9793.ATT\n",
                           "pathtranslated=/srv/site/D9793.ATT\n", "var:HTTP_USER_AGENT=vamu-test\n",
                           "var:QUERY_STRING=echo&x\n", "var:REQUEST_METHOD=GET\n", "var:PATH_INFO=/D9793.ATT\n",
                           "var:HTTP_X_CUSTOM_FIELD=custom\n", "var:NO_SUCH_VARIABLE=<fail>\n"})
    EXPECT_NE(body.find(line), std::string::npos) << line << " in " << body;
  EXPECT_NE(body.find("registry=" + site.registry + "\n"), std::string::npos) << "the extension reads the host's registry file";
}

TEST_F(FcgiHost, PathInfoWithoutTranslatedPathIsMappedIntoTheInstallation) {
  Start();
  FcgiResponse r = Get("echo", "/ABC7.ATT");
  ASSERT_TRUE(r.ended);
  EXPECT_NE(r.Body().find("pathtranslated=" + std::filesystem::canonical(site.dir).string() + "/ABC7.ATT\n"),
            std::string::npos)
      << r.Body();
}

TEST_F(FcgiHost, HeaderTextStatusAndBodyEndAsTheStandaloneServerEndsThem) {
  Start();
  FcgiResponse status = Get("status&404");
  EXPECT_EQ(status.Status(), 404);
  EXPECT_EQ(status.Header("Status"), "404 Custom");
  EXPECT_EQ(status.Header("X-Test"), "yes");
  EXPECT_EQ(status.Header("Content-Length"), "") << "framing is the web server's";
  EXPECT_EQ(status.Body(), "status 404");

  FcgiResponse inHeader = Get("bodyinheader");
  EXPECT_EQ(inHeader.Body(), "Hello world");

  FcgiResponse empty = Get("emptystatus&204");
  EXPECT_TRUE(empty.ended);
  EXPECT_EQ(empty.Status(), 204) << "nothing written: the control block's status";

  FcgiResponse redirect = Get("redirect&/Home.htm");
  EXPECT_EQ(redirect.Status(), 302);
  EXPECT_EQ(redirect.Header("Location"), "/Home.htm");

  FcgiResponse big = Get("big&250000");
  ASSERT_TRUE(big.ended);
  EXPECT_EQ(big.Body(), Pattern(250000));
}

TEST_F(FcgiHost, FailuresBeforeOutputAre500AndAfterOutputCutTheResponseOff) {
  Start();
  for (const char* query : {"fail", "throw", "throwint", "pending"}) {
    FcgiResponse r = Get(query);
    EXPECT_TRUE(r.ended) << query;
    EXPECT_EQ(r.Status(), 500) << query;
  }
  for (const char* query : {"failafter&150000", "throwafter&150000"}) {
    FcgiResponse r = Get(query);
    EXPECT_FALSE(r.ended) << query << ": no end record, so nginx cannot pass it on as complete";
    EXPECT_TRUE(r.closed) << query;
    EXPECT_GT(r.out.size(), 0u) << query;
  }
  EXPECT_TRUE(WaitForText(site.errorLog, "query string: throw"));
  EXPECT_EQ(Get("echo").Status(), 200) << "the host goes on serving";
}

TEST_F(FcgiHost, KeptConnectionServesRequestAfterRequest) {
  Start({"--threads", "1"});
  {
    FcgiClient client(socket);
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(client.Send(GetParams("status&" + std::to_string(200 + i)), "", true, std::uint16_t(i + 1)));
      FcgiResponse r = client.Read();
      ASSERT_TRUE(r.ended) << i;
      EXPECT_EQ(r.Body(), "status " + std::to_string(200 + i));
    }
  }  // closing it gives the one thread back
  // Without the keep flag the host closes after the answer.
  FcgiClient once(socket);
  EXPECT_TRUE(once.Request(GetParams("echo")).ended);
  EXPECT_TRUE(once.ClosedByHost());
}

TEST_F(FcgiHost, IdleKeptConnectionIsClosedAfterTheIdleTimeout) {
  Start({"--threads", "1", "--idle-timeout", "0.3"});
  FcgiClient kept(socket);
  ASSERT_TRUE(kept.Request(GetParams("echo"), "", true).ended);
  EXPECT_TRUE(kept.ClosedByHost(2s));
  EXPECT_TRUE(Get("echo").ended);
}

TEST_F(FcgiHost, HeadThatComesAByteAtATimeHoldsItsThreadOnlyForTheHeaderTimeout) {
  Start({"--threads", "1", "--header-timeout", "0.5"});
  FcgiClient slow(socket);
  std::string head = FcgiRecord(1, 1, std::string("\0\1\0\0\0\0\0\0", 8)) + FcgiRecord(4, 1, FcgiPairs(GetParams("echo")));
  auto start = std::chrono::steady_clock::now();
  bool closed = false;
  for (std::size_t i = 0; i < head.size() && !closed; ++i) {  // a byte every 50 ms, never the end
    slow.SendRaw(head.substr(i, 1));
    closed = slow.ClosedByHost(50ms);
  }
  EXPECT_TRUE(closed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  FcgiClient silent(socket);
  EXPECT_TRUE(silent.ClosedByHost(2s)) << "a connection that never speaks";
  EXPECT_EQ(Get("echo").Status(), 200);
}

TEST_F(FcgiHost, WaitingConnectionTakesTheThreadOfOneThatHasSentNothing) {
  Start({"--threads", "2", "--header-timeout", "30", "--idle-timeout", "30"});
  FcgiClient silent(socket);
  // A thread's wait is dated when it has taken the connection up: on a busy
  // machine the silent one's could otherwise be dated after the kept one's
  // request has ended. Nothing shows from outside that it has been taken up.
  std::this_thread::sleep_for(200ms);
  FcgiClient kept(socket);
  ASSERT_TRUE(kept.Request(GetParams("echo"), "", true).ended);
  // Both threads hold a connection; the silent one has waited longest.
  auto start = std::chrono::steady_clock::now();
  FcgiResponse r = Get("echo");
  EXPECT_TRUE(r.ended);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_TRUE(silent.ClosedByHost(1s));
}

// A connection silent for a moment only is not one that has sent nothing: its
// next request (or, for a new one, its first) may be on its way. Taking its
// thread then closes it unanswered.
TEST_F(FcgiHost, AConnectionSilentForAMomentKeepsItsThreadWhileAnotherWaits) {
  Start({"--threads", "1", "--idle-timeout", "30"});
  auto kept = std::make_unique<FcgiClient>(socket);
  ASSERT_TRUE(kept->Request(GetParams("echo"), "", true).ended);
  FcgiClient waiting(socket);  // queued: the only thread holds `kept`
  ASSERT_TRUE(waiting.Send(GetParams("echo")));
  std::this_thread::sleep_for(150ms);  // the supervisor looks every 100 ms
  FcgiResponse next = kept->Request(GetParams("echo"));
  EXPECT_TRUE(next.ended) << (next.closed ? "closed by the host" : "timed out");
  EXPECT_EQ(next.Status(), 200);
  kept.reset();  // as a web server does after a request it did not ask to keep
  FcgiResponse queued = waiting.Read();
  EXPECT_TRUE(queued.ended) << "the waiting connection has its turn once the thread is free";
  EXPECT_EQ(queued.Status(), 200);
}

TEST_F(FcgiHost, WaitingConnectionTakesTheThreadOfAnIdleKeptOne) {
  Start({"--threads", "1", "--idle-timeout", "30"});
  FcgiClient kept(socket);
  ASSERT_TRUE(kept.Request(GetParams("echo"), "", true).ended);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Get("echo").ended);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_TRUE(kept.ClosedByHost(1s));
}

// A request for one of the host's status pages, as nginx passes it on.
Params StatusParams(const std::string& path, const std::string& client) {
  Params params = GetParams("");
  for (auto& [name, value] : params) {
    if (name == "SCRIPT_NAME" || name == "REQUEST_URI") value = path;
    if (name == "REMOTE_ADDR") value = client;
  }
  return params;
}

TEST_F(FcgiHost, StatusPagesCountRequestsForAllowedClients) {
  Start({"--status-from", "127.0.0.1,10.0.0.0/8"});
  EXPECT_EQ(Get("echo&1").Status(), 200);
  // Reader addresses reach vamufcgi with the whole path as script name; each
  // is counted under its family, never its path.
  for (const char* path : {"/eli/du/2024/1/ogl", "/eli/zz%C5x", "/api/v1/acts"}) {
    FcgiClient reader(socket);
    Params params = StatusParams(path, "127.0.0.1");
    ASSERT_NE(reader.Request(params).Status(), 0) << path;
  }
  EXPECT_EQ(Get("status&404").Status(), 404);
  ASSERT_TRUE(WaitForText(site.accessLog, "status&404"));
  FcgiClient held(socket);  // a connection the host holds while the figures are read
  FcgiClient client(socket);
  FcgiResponse metrics = client.Request(StatusParams("/metrics", "10.2.3.4"));
  ASSERT_EQ(metrics.Status(), 200);
  EXPECT_EQ(metrics.Header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  const std::string m = metrics.Body();
  for (const char* line : {"vamu_requests_total{command=\"echo\",status=\"200\"} 1\n",
                           "vamu_requests_total{command=\"status\",status=\"404\"} 1\n",
                           "vamu_test_served_total 5\n", "vamu_extension_state 1\n"})
    EXPECT_NE(m.find(line), std::string::npos) << line << "\nin\n" << m;
  PrometheusText parsed = ParsePrometheusText(m);
  ASSERT_TRUE(parsed.Ok()) << parsed.error << "\nin\n" << m;
  double eli = 0, api = 0;
  for (const std::string& series : parsed.SeriesOf("vamu_requests_total")) {
    EXPECT_EQ(series.find("du/"), std::string::npos) << series;
    if (series.find("command=\"/eli\"") != std::string::npos) eli += *parsed.Value(series);
    if (series.find("command=\"/api\"") != std::string::npos) api += *parsed.Value(series);
  }
  EXPECT_EQ(eli, 2);
  EXPECT_EQ(api, 1);
  std::size_t at = m.find("\nvamu_open_connections ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GE(std::stoull(m.substr(at + 23)), 1u);

  FcgiClient health(socket);
  FcgiResponse ok = health.Request(StatusParams("/healthz", "127.0.0.1"));
  EXPECT_EQ(ok.Status(), 200);
  EXPECT_EQ(ok.Body(), "ok\n");
  FcgiClient stranger(socket);
  EXPECT_EQ(stranger.Request(StatusParams("/metrics", "192.0.2.1")).Status(), 403);
}

TEST_F(FcgiHost, PostBodyReachesTheExtensionWithinItsLimit) {
  Start({"--max-body", "1000"});
  Params params = GetParams("echo");
  params[0].second = "POST";
  params.push_back({"CONTENT_TYPE", "application/x-www-form-urlencoded"});
  params.push_back({"CONTENT_LENGTH", "9"});
  FcgiClient client(socket);
  FcgiResponse r = client.Request(params, "Pattern=x");
  EXPECT_NE(r.Body().find("body=Pattern=x\ntotal=9\n"), std::string::npos) << r.Body();
  EXPECT_NE(r.Body().find("contenttype=application/x-www-form-urlencoded\n"), std::string::npos);

  params.back().second = "5000";
  FcgiClient tooBig(socket);
  EXPECT_EQ(tooBig.Request(params, std::string(5000, 'b')).Status(), 413);
  params.pop_back();  // no CONTENT_LENGTH: the body up to its end, still bounded
  FcgiClient unannounced(socket);
  EXPECT_EQ(unannounced.Request(params, std::string(5000, 'b')).Status(), 413);
  params.push_back({"CONTENT_LENGTH", "20"});
  FcgiClient shortBody(socket);
  EXPECT_EQ(shortBody.Request(params, "only ten b").Status(), 400);
}

TEST_F(FcgiHost, HostileParametersNeverReachTheExtensionNorCrashTheHost) {
  Start({"--max-params", "4096"});
  Params huge = GetParams("echo");
  huge.push_back({"HTTP_COOKIE", std::string(100000, 'c')});
  FcgiClient big(socket);
  FcgiResponse r = big.Request(huge);
  EXPECT_EQ(r.Status(), 431);
  EXPECT_TRUE(r.ended);

  // Lengths that claim gigabytes, then the peer leaves.
  {
    FcgiClient liar(socket);
    std::string begin(8, '\0');
    begin[1] = 1;
    std::string pairs = "\xff\xff\xff\xff\xff\xff\xff\xff" "AB";
    ASSERT_TRUE(liar.SendRaw(FcgiRecord(1, 1, begin) + FcgiRecord(4, 1, pairs)));
  }
  // A name length whose four bytes are cut off, a record of an unknown type,
  // a request id of 0, a version that is not 1, and plain garbage.
  for (const std::string& raw :
       {FcgiRecord(1, 1, std::string("\0\1\0\0\0\0\0\0", 8)) + FcgiRecord(4, 1, "\x85\x01") + FcgiRecord(4, 1, ""),
        FcgiRecord(1, 1, std::string("\0\1\0\0\0\0\0\0", 8)) + FcgiRecord(42, 1, "what") + FcgiRecord(4, 1, ""),
        FcgiRecord(1, 0, std::string("\0\1\0\0\0\0\0\0", 8)),
        std::string("\x07\x01\x00\x01\x00\x00\x00\x00", 8), std::string("GET / HTTP/1.1\r\n\r\n")}) {
    FcgiClient bad(socket);
    bad.SendRaw(raw);
    bad.ClosedByHost(300ms);
  }
  // An authorizer is told no, never 200.
  FcgiClient authorizer(socket);
  ASSERT_TRUE(authorizer.Send(GetParams("echo"), "", false, 1, 2));
  EXPECT_EQ(authorizer.Read().Status(), 403);

  EXPECT_EQ(Get("echo").Status(), 200) << "still serving";
  EXPECT_EQ(Stop(), 0);
}

TEST_F(FcgiHost, PeerLeavingMidResponseCostsTheRequestNotTheHost) {
  Start({"--threads", "2"});
  for (int i = 0; i < 4; ++i) {
    FcgiClient leaving(socket);
    ASSERT_TRUE(leaving.Send(GetParams("big&5000000")));
    ASSERT_TRUE(leaving.AwaitOutput(5s)) << "the host writes the response, then the peer is gone";
    leaving.Abandon();
  }
  EXPECT_TRUE(WaitForText(site.accessLog, "big&5000000"));
  FcgiResponse after = Get("big&1000");
  EXPECT_TRUE(after.ended);
  EXPECT_EQ(after.Body(), Pattern(1000));
  EXPECT_EQ(Stop(), 0);
}

TEST_F(FcgiHost, AccessLogCarriesTheExtensionsLogField) {
  Start();
  ASSERT_TRUE(Get("agent").ended);
  EXPECT_TRUE(WaitForText(site.accessLog, "\"GET /portico.dll?agent HTTP/1.1\" 200 2 \"vamu-test\""))
      << Site::ReadFile(site.accessLog);
}

TEST_F(FcgiHost, StopsOnSigtermWithIdleKeptConnectionsAndAfterRunningRequests) {
  Start({"--threads", "3"});
  FcgiClient kept(socket);
  ASSERT_TRUE(kept.Request(GetParams("echo"), "", true).ended);
  FcgiClient slow(socket);
  const std::string entered = site.base + "/entered";
  ASSERT_TRUE(slow.Send(GetParams(SlowCommand(600, entered))));
  ASSERT_TRUE(WaitForText(entered, "entered"));
  auto started = std::chrono::steady_clock::now();
  host.Signal(SIGTERM);
  FcgiResponse finished = slow.Read();
  EXPECT_TRUE(finished.ended) << "a running request finishes";
  EXPECT_EQ(finished.Body(), "done");
  EXPECT_EQ(host.Wait(10s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "the idle kept connection does not hold the stop";
  EXPECT_TRUE(kept.ClosedByHost(1s));
  std::string marker = Site::ReadFile(site.marker);
  EXPECT_NE(marker.find("terminate\nunload\n"), std::string::npos) << marker;
  struct stat st;
  EXPECT_NE(::lstat(socket.c_str(), &st), 0) << "the socket file is removed";
  FcgiClient late(socket);
  EXPECT_FALSE(late.Connected());
}

TEST_F(FcgiHost, StuckRequestEndsTheProcessWithoutUnloading) {
  Start({"--shutdown-timeout", "0.3"});
  FcgiClient slow(socket);
  const std::string entered = site.base + "/entered";
  ASSERT_TRUE(slow.Send(GetParams(SlowCommand(5000, entered))));
  ASSERT_TRUE(WaitForText(entered, "entered"));
  EXPECT_EQ(Stop(), 1);
  std::string marker = Site::ReadFile(site.marker);
  EXPECT_NE(marker.find("terminate"), std::string::npos);
  EXPECT_EQ(marker.find("unload"), std::string::npos) << "unloading under a running request would crash it";
}

TEST_F(FcgiHost, LoopbackPortServesToo) {
  std::vector<std::string> args = Args({});
  args[0] = "--port";
  args[1] = "0";
  ASSERT_TRUE(host.Launch(VAMUFCGI_PATH, args, site.errorLog, site.marker));
  ASSERT_NE(host.Port(), 0);
  FcgiClient client(host.Port());
  FcgiResponse r = client.Request(GetParams("status&201"));
  EXPECT_EQ(r.Status(), 201);
  EXPECT_EQ(Stop(), 0);
}

TEST_F(FcgiHost, SocketFileOfAGoneHostIsReplacedButALiveOneOrAFileIsNot) {
  // A socket file nobody listens on, as a killed host leaves it.
  int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, socket.c_str());
  ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(stale);
  Start();
  struct stat st;
  ASSERT_EQ(::stat(socket.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  EXPECT_EQ(Get("echo").Status(), 200);

  ServerProcess second;
  std::string secondErrors = site.base + "/second.err";
  EXPECT_FALSE(second.Launch(VAMUFCGI_PATH, Args({}), secondErrors, site.marker));
  EXPECT_EQ(second.Wait(10s), 1);
  EXPECT_NE(Site::ReadFile(secondErrors).find("another process listens on"), std::string::npos);
  EXPECT_EQ(Get("echo").Status(), 200) << "the running host keeps its socket";
  EXPECT_EQ(Stop(), 0);

  Site::WriteFile(socket, "not a socket");
  ServerProcess third;
  EXPECT_FALSE(third.Launch(VAMUFCGI_PATH, Args({}), secondErrors, site.marker));
  EXPECT_EQ(third.Wait(10s), 1);
  EXPECT_NE(Site::ReadFile(secondErrors).find("exists and is not a socket"), std::string::npos);
  EXPECT_EQ(Site::ReadFile(socket), "not a socket");
}

TEST_F(FcgiHost, StartUpFailuresAndHelp) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* text;
  } cases[] = {
      {{"--help"}, 0, "--socket PATH"},
      {{"--nonsense"}, 2, "unknown option --nonsense"},
      {{"--socket", "/tmp/x", "--registry", "/nonexistent/registry.reg"}, 1, "names no installation directory"},
      {{"--socket", site.base + "/no/such/dir/s.sock", "--registry", site.registry}, 1, "cannot bind"},
      {{"--socket", socket, "--registry", site.registry, "--extension", NOT_AN_EXTENSION_PATH}, 1,
       "does not export"},
  };
  for (const Case& c : cases) {
    ServerProcess p;
    std::string errors = site.base + "/startup.err";
    std::remove(errors.c_str());
    ASSERT_TRUE(p.Launch(VAMUFCGI_PATH, c.args, errors, site.marker, false));
    std::string out = p.ReadOutput(5s);
    EXPECT_EQ(p.Wait(10s), c.code) << c.text;
    EXPECT_NE((out + Site::ReadFile(errors)).find(c.text), std::string::npos) << out << Site::ReadFile(errors);
  }
}

}  // namespace
}  // namespace host::test
