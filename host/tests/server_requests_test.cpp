// Requests to the extension through the running server: what the extension
// sees, how its output reaches the client, and how each way of ending a
// request looks on the wire and in the access log.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/tests/server_fixture.h"

namespace host::test {
namespace {

// The value of "key=value" in the echo command's output.
std::string Line(const std::string& body, const std::string& key) {
  std::string text = "\n" + body;
  std::size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return "<missing>";
  std::size_t start = at + key.size() + 2;
  return text.substr(start, text.find('\n', start) - start);
}

using ExtensionRequests = ServerTest;

TEST_F(ExtensionRequests, ExtensionSeesTheRawQueryAndServerVariables) {
  StartServer();
  Response r = Fetch(Port(), "/portico.dll?echo&Pattern=ust%B1wa+1&x=%22", "X-Custom-Field: 42\r\n");
  ASSERT_EQ(r.Status(), 200) << r.error.message();
  EXPECT_EQ(r.Header("Content-type"), "text/plain");
  EXPECT_EQ(Line(r.Body(), "method"), "GET");
  EXPECT_EQ(Line(r.Body(), "query"), "echo&Pattern=ust%B1wa+1&x=%22") << "undecoded";
  EXPECT_EQ(Line(r.Body(), "var:QUERY_STRING"), "echo&Pattern=ust%B1wa+1&x=%22");
  EXPECT_EQ(Line(r.Body(), "var:REQUEST_METHOD"), "GET");
  EXPECT_EQ(Line(r.Body(), "var:HTTP_USER_AGENT"), "vamu-test");
  EXPECT_EQ(Line(r.Body(), "var:HTTP_X_CUSTOM_FIELD"), "42");
  EXPECT_EQ(Line(r.Body(), "var:NO_SUCH_VARIABLE"), "<fail>");
  EXPECT_EQ(Line(r.Body(), "pathinfo"), "");
  EXPECT_EQ(Line(r.Body(), "registry"), site.registry) << "the extension reads the server's registry file";
}

TEST_F(ExtensionRequests, PathInfoIsTranslatedIntoTheInstallationDirectory) {
  StartServer();
  Response r = Fetch(Port(), "/portico.dll/ABC7.ATT?echo");
  ASSERT_EQ(r.Status(), 200);
  std::string translated = std::filesystem::canonical(site.dir).string() + "/ABC7.ATT";
  EXPECT_EQ(Line(r.Body(), "pathinfo"), "/ABC7.ATT");
  EXPECT_EQ(Line(r.Body(), "var:PATH_INFO"), "/ABC7.ATT");
  EXPECT_EQ(Line(r.Body(), "pathtranslated"), translated);
  EXPECT_EQ(Line(r.Body(), "var:PATH_TRANSLATED"), translated);
  EXPECT_EQ(Fetch(Port(), "/PORTICO.DLL?echo").Status(), 200) << "the name ignores case, as it did on its first server";
  EXPECT_EQ(Fetch(Port(), "/portico.dll/a/../../x.ATT?echo").Status(), 400);
}

TEST_F(ExtensionRequests, ReaderAddressesReachTheExtensionWithTheirPathAsScriptName) {
  StartServer();
  // The test extension answers any query it does not know with nothing;
  // "echo" as the query shows what it was given.
  for (const char* path : {"/eli/DU/1997/483/art/22(1)", "/api/v1/akty/DU/1997", "/feed/nowe.atom", "/sitemap.xml",
                           "/robots.txt"}) {
    Response r = Fetch(Port(), std::string(path) + "?echo");
    ASSERT_EQ(r.Status(), 200) << path;
    EXPECT_EQ(Line(r.Body(), "var:URL"), path);
    EXPECT_EQ(Line(r.Body(), "var:SCRIPT_NAME"), path);
    EXPECT_EQ(Line(r.Body(), "pathinfo"), "");
    EXPECT_EQ(Line(r.Body(), "query"), "echo");
  }
  Response decoded = Fetch(Port(), "/eli/DU/1997/483/art/22%281%29?echo&z=%C5%82");
  EXPECT_EQ(Line(decoded.Body(), "var:URL"), "/eli/DU/1997/483/art/22(1)");
  EXPECT_EQ(Line(decoded.Body(), "query"), "echo&z=%C5%82") << "the query stays raw";
  // Near misses are static files (none of which exists).
  for (const char* path : {"/eli", "/ELI/DU/1997/483", "/elix/1", "/sitemap.xml.gz", "/apix"})
    EXPECT_EQ(Fetch(Port(), std::string(path) + "?echo").Status(), 404) << path;
  // The extension's own requests keep their script name.
  EXPECT_EQ(Line(Fetch(Port(), "/portico.dll?echo").Body(), "var:SCRIPT_NAME"), "/portico.dll");
}

TEST_F(ExtensionRequests, PostBodyReachesTheExtension) {
  StartServer();
  Client c(Port());
  c.Send("POST /portico.dll?echo HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
         "Content-Length: 9\r\n\r\nPattern=x");
  Response r = c.Read();
  ASSERT_EQ(r.Status(), 200);
  EXPECT_EQ(Line(r.Body(), "method"), "POST");
  EXPECT_EQ(Line(r.Body(), "body"), "Pattern=x");
  EXPECT_EQ(Line(r.Body(), "total"), "9");
  EXPECT_EQ(Line(r.Body(), "contenttype"), "application/x-www-form-urlencoded");

  c.Send("POST /portico.dll?echo HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\nExpect: 100-continue\r\n\r\n");
  Response interim = c.Read();
  EXPECT_EQ(interim.Status(), 100);
  c.Send("abc");
  EXPECT_EQ(Line(c.Read().Body(), "body"), "abc");
}

TEST_F(ExtensionRequests, SeveralRequestsShareOneKeptAliveConnection) {
  StartServer();
  Client c(Port());
  Response a = c.Get("/portico.dll?echo&1");
  Response b = c.Get("/Home.htm");
  Response big = c.Get("/portico.dll?big&250000");
  Response empty = c.Get("/portico.dll?Nothing");
  Response d = c.Get("/portico.dll?echo&2");
  EXPECT_EQ(Line(a.Body(), "query"), "echo&1");
  EXPECT_EQ(b.Body(), "<HTML>home</HTML>");
  EXPECT_EQ(big.Body(), Pattern(250000));
  EXPECT_EQ(empty.Status(), 200);
  EXPECT_EQ(Line(d.Body(), "query"), "echo&2");
  EXPECT_TRUE(d.message.keep_alive());
}

TEST_F(ExtensionRequests, PipelinedRequestsAreAnsweredInOrder) {
  StartServer();
  Client c(Port());
  c.Send("GET /portico.dll?echo&first HTTP/1.1\r\nHost: x\r\n\r\nGET /portico.dll?echo&second HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(Line(c.Read().Body(), "query"), "echo&first");
  EXPECT_EQ(Line(c.Read().Body(), "query"), "echo&second");
}

TEST_F(ExtensionRequests, LargeOutputIsChunked) {
  StartServer();
  Response r = Fetch(Port(), "/portico.dll?big&3000000");
  ASSERT_EQ(r.Status(), 200);
  EXPECT_TRUE(r.message.chunked());
  EXPECT_EQ(r.Body().size(), 3000000u);
  EXPECT_TRUE(r.Body() == Pattern(3000000));
}

TEST_F(ExtensionRequests, Http10ClientGetsTheBodyUntilClose) {
  StartServer();
  Client c(Port());
  c.Send("GET /portico.dll?big&1000 HTTP/1.0\r\n\r\n");
  Response r = c.Read();
  ASSERT_EQ(r.Status(), 200);
  EXPECT_FALSE(r.message.chunked());
  EXPECT_EQ(r.Body(), Pattern(1000));
}

TEST_F(ExtensionRequests, HeadGetsTheHeaderWithoutBody) {
  StartServer();
  Client c(Port());
  c.Send("HEAD /portico.dll?big&5000 HTTP/1.1\r\nHost: x\r\n\r\n");
  Response r = c.Read(true);
  EXPECT_EQ(r.Status(), 200);
  EXPECT_EQ(r.Header("Content-type"), "text/plain");
  EXPECT_EQ(Line(c.Get("/portico.dll?echo&after").Body(), "query"), "echo&after") << "no stray body on the connection";
}

TEST_F(ExtensionRequests, NoOutputGivesAWellFormedEmptyResponse) {
  StartServer();
  Client c(Port());
  Response r = c.Get("/portico.dll?empty");
  EXPECT_EQ(r.Status(), 200);
  EXPECT_EQ(r.Body(), "");
  Response header = c.Get("/portico.dll?headeronly");
  EXPECT_EQ(header.Status(), 200);
  EXPECT_EQ(header.Header("Content-type"), "text/html");
  EXPECT_EQ(header.Body(), "");
  Response status = c.Get("/portico.dll?emptystatus&404");
  EXPECT_EQ(status.Status(), 404);
  EXPECT_EQ(c.Get("/portico.dll?echo").Status(), 200) << "the connection stays usable";
}

TEST_F(ExtensionRequests, ExtensionHeaderSetsStatusAndFieldsButNotFraming) {
  StartServer();
  Response r = Fetch(Port(), "/portico.dll?status&404");
  EXPECT_EQ(r.Status(), 404);
  EXPECT_EQ(std::string(r.message.reason()), "Custom");
  EXPECT_EQ(r.Header("X-Test"), "yes");
  EXPECT_EQ(r.Header("Content-Length"), "") << "the extension's length would contradict the chunks";
  EXPECT_EQ(r.Body(), "status 404");
  EXPECT_EQ(Fetch(Port(), "/portico.dll?bodyinheader").Body(), "Hello world");
  EXPECT_EQ(Fetch(Port(), "/portico.dll?twoheaders").Body(), "second=refused");
  Response bad = Fetch(Port(), "/portico.dll?badstatus");
  EXPECT_EQ(bad.Status(), 200);
  EXPECT_EQ(bad.Body(), "refused");
  Response moved = Fetch(Port(), "/portico.dll?redirect&/Home.htm");
  EXPECT_EQ(moved.Status(), 302);
  EXPECT_EQ(moved.Header("Location"), "/Home.htm");
}

TEST_F(ExtensionRequests, FailureBeforeOutputIsA500AndKeepsTheConnection) {
  StartServer();
  Client c(Port());
  for (const char* query : {"fail", "throw", "throwint", "pending"}) {
    Response r = c.Get(std::string("/portico.dll?") + query);
    EXPECT_EQ(r.Status(), 500) << query;
  }
  EXPECT_EQ(c.Get("/portico.dll?echo").Status(), 200);
  std::string errors = Site::ReadFile(site.errorLog);
  EXPECT_NE(errors.find("test failure; query string: throw"), std::string::npos) << errors;
  EXPECT_NE(errors.find("query string: throwint"), std::string::npos) << errors;
}

TEST_F(ExtensionRequests, FailureAfterOutputClosesTheConnectionMidResponse) {
  StartServer();
  for (const char* query : {"failafter&300000", "throwafter&300000"}) {
    Client c(Port());
    Response r = c.Get(std::string("/portico.dll?") + query);
    EXPECT_TRUE(r.error) << query << ": the client must see an incomplete message";
    EXPECT_EQ(r.message.result_int(), 200);
    EXPECT_EQ(r.Body().size(), 300000u);
    EXPECT_TRUE(c.ClosedByServer());
  }
  EXPECT_NE(Site::ReadFile(site.errorLog).find("query string: throwafter&300000"), std::string::npos);
  EXPECT_EQ(Fetch(Port(), "/portico.dll?echo").Status(), 200);
}

TEST_F(ExtensionRequests, AccessLogCarriesStatusAndTheExtensionsLogField) {
  StartServer();
  Fetch(Port(), "/portico.dll?log&Mozilla/4.0%20(compatible)");
  Fetch(Port(), "/portico.dll?agent", "");
  Fetch(Port(), "/portico.dll?status&404");
  Fetch(Port(), "/portico.dll?unterminatedlog");
  Fetch(Port(), "/Home.htm");
  Client c(Port());
  c.Send("GET /portico.dll?agent HTTP/1.1\r\nHost: x\r\nUser-Agent: \"" + std::string(100, 'A') + "\r\n\r\n");
  c.Read();
  std::string log = Site::ReadFile(site.accessLog);
  EXPECT_NE(log.find("\"GET /portico.dll?log&Mozilla/4.0%20(compatible) HTTP/1.1\" 200 2 \"Mozilla/4.0%20(compatible)\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\"GET /portico.dll?agent HTTP/1.1\" 200 2 \"vamu-test\""), std::string::npos) << log;
  EXPECT_NE(log.find("\"GET /portico.dll?status&404 HTTP/1.1\" 404 10 \"-\""), std::string::npos) << log;
  EXPECT_NE(log.find("\" 200 0 \"" + std::string(80, 'x') + "\""), std::string::npos) << "80 bytes, never more";
  EXPECT_NE(log.find("\"GET /Home.htm HTTP/1.1\" 200 17 \"-\""), std::string::npos) << log;
  EXPECT_NE(log.find("\" 200 2 \"\\x22" + std::string(78, 'A') + "\""), std::string::npos)
      << "cut to 79 by the extension, the quote escaped";
}

TEST_F(ExtensionRequests, ClientThatLeavesStopsTheOutputAndTheServerGoesOn) {
  StartServer({"--threads", "1"});
  {
    Client c(Port());
    c.Send("GET /portico.dll?big&200000000 HTTP/1.1\r\nHost: x\r\n\r\n");
  }  // gone without reading
  Response r = Fetch(Port(), "/portico.dll?echo");
  EXPECT_EQ(r.Status(), 200) << "the only worker was released";
  std::string log = Site::ReadFile(site.accessLog);
  const std::string entry = "big&200000000 HTTP/1.1\" 200 ";
  std::size_t at = log.find(entry);
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_LT(std::stoull(log.substr(at + entry.size())), 200000000ull);
}

}  // namespace
}  // namespace host::test
