// The FastCGI host's parts that need no connection: its command line, the
// parameters of a request turned into what the extension is asked about, and
// the CGI head it writes.
#include <gtest/gtest.h>

#include "host/fcgi_channel.h"
#include "host/fcgi_options.h"
#include "host/fcgi_request.h"

namespace host {
namespace {

std::optional<FcgiOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
  std::string ignored;
  return ParseFcgiOptions(args, error ? error : &ignored);
}

TEST(FcgiOptions, SocketOrPortAndTheSharedFlags) {
  std::optional<FcgiOptions> o = Parse({"--socket", "/run/vamu/vamufcgi.sock", "--registry", "/etc/vamu/r.reg"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->socketPath, "/run/vamu/vamufcgi.sock");
  EXPECT_FALSE(o->port);
  EXPECT_EQ(o->socketMode, 0660u);
  EXPECT_EQ(o->threads, 8u);
  EXPECT_EQ(o->registryPath, "/etc/vamu/r.reg");

  o = Parse({"--port=0", "--threads", "3", "--log", "a.log", "--extension", "x.so", "--socket-mode", "0666",
             "--max-params", "2048", "--max-body", "0", "--idle-timeout", "0.5", "--shutdown-timeout", "2",
             "--header-timeout", "1.5"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->port, 0);
  EXPECT_EQ(o->threads, 3u);
  EXPECT_EQ(o->logDestination, "a.log");
  EXPECT_EQ(o->extensionPath, "x.so");
  EXPECT_EQ(o->socketMode, 0666u);
  EXPECT_EQ(o->maxParamBytes, 2048u);
  EXPECT_EQ(o->maxBodyBytes, 0u);
  EXPECT_EQ(o->idleTimeout, std::chrono::milliseconds(500));
  EXPECT_EQ(o->headerTimeout, std::chrono::milliseconds(1500));
  EXPECT_EQ(o->shutdownTimeout, std::chrono::seconds(2));

  o = Parse({"--help"});
  ASSERT_TRUE(o);
  EXPECT_TRUE(o->help);
}

TEST(FcgiOptions, BadCommandLinesAreRefusedWithAReason) {
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{}, "give --socket PATH or --port N"},
      {{"--socket", "/a", "--port", "9000"}, "not both"},
      {{"--socket", "relative.sock"}, "bad value for --socket"},
      {{"--port", "70000"}, "bad value for --port"},
      {{"--port", "1", "--threads", "0"}, "bad value for --threads"},
      {{"--port", "1", "--threads", "257"}, "bad value for --threads"},
      {{"--port", "1", "--socket-mode", "0460"}, "bad value for --socket-mode"},
      {{"--port", "1", "--socket-mode", "0968"}, "bad value for --socket-mode"},
      {{"--port", "1", "--max-params", "10"}, "bad value for --max-params"},
      {{"--port", "1", "--read-timeout", "-1"}, "bad value for --read-timeout"},
      {{"--port", "1", "--bind", "0.0.0.0"}, "unknown option --bind"},
      {{"--port"}, "--port needs a value"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(Parse(c.args, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

struct ParamsFixture : ::testing::Test {
  std::vector<std::string> entries;
  FcgiRequest request;
  int Convert(std::size_t limit = 64 * 1024) {
    std::vector<const char*> pointers;
    for (const std::string& e : entries) pointers.push_back(e.c_str());
    pointers.push_back(nullptr);
    return RequestFromParams(pointers.data(), limit, &request);
  }
};

TEST_F(ParamsFixture, CgiVariablesBecomeTheRequestTheExtensionSees) {
  entries = {"FCGI_ROLE=RESPONDER",
             "REQUEST_METHOD=GET",
             "QUERY_STRING=Topic&5",
             "SCRIPT_NAME=/portico.dll",
             "PATH_INFO=/D9793.ATT",
             "PATH_TRANSLATED=/opt/vamu/site/D9793.ATT",
             "REQUEST_URI=/portico.dll/D9793.ATT?Topic&5",
             "SERVER_PROTOCOL=HTTP/1.1",
             "REMOTE_ADDR=10.0.0.7",
             "SERVER_PORT=8090",
             "CONTENT_TYPE=",
             "CONTENT_LENGTH=",
             "HTTP_USER_AGENT=Mozilla/4.0 (compatible; MSIE 4.01)",
             "HTTP_ACCEPT_LANGUAGE=pl",
             "HTTP_X_A=b=c",
             "NOEQUALS",
             "=empty name"};
  ASSERT_EQ(Convert(), 0);
  const RequestInfo& info = request.info;
  EXPECT_EQ(info.method, "GET");
  EXPECT_EQ(info.queryString, "Topic&5");
  EXPECT_EQ(info.url, "/portico.dll/D9793.ATT");
  EXPECT_EQ(info.pathInfo, "/D9793.ATT");
  EXPECT_EQ(info.pathTranslated, "/opt/vamu/site/D9793.ATT");
  EXPECT_EQ(request.target, "/portico.dll/D9793.ATT?Topic&5");
  EXPECT_EQ(info.remoteAddress, "10.0.0.7");
  EXPECT_FALSE(request.contentLength) << "nginx sends an empty CONTENT_LENGTH for a GET";
  EXPECT_EQ(info.Header("Content-Type"), std::nullopt);
  EXPECT_EQ(info.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 4.01)");
  EXPECT_EQ(info.Header("Accept-Language"), "pl");
  EXPECT_EQ(info.Header("X-A"), "b=c");
  // The extension asks through server variables: the names come back as sent.
  EXPECT_EQ(ServerVariable(info, "HTTP_USER_AGENT"), "Mozilla/4.0 (compatible; MSIE 4.01)");
  EXPECT_EQ(ServerVariable(info, "HTTP_ACCEPT_LANGUAGE"), "pl");
  EXPECT_EQ(ServerVariable(info, "PATH_TRANSLATED"), "/opt/vamu/site/D9793.ATT");
}

TEST_F(ParamsFixture, MissingVariablesAreEmptyAndTheTargetIsRebuilt) {
  entries = {"FCGI_ROLE=RESPONDER", "SCRIPT_NAME=/portico.dll", "QUERY_STRING=Main", "CONTENT_LENGTH=12",
             "CONTENT_TYPE=application/x-www-form-urlencoded"};
  ASSERT_EQ(Convert(), 0);
  EXPECT_EQ(request.info.method, "");
  EXPECT_EQ(request.info.pathInfo, "");
  EXPECT_EQ(request.target, "/portico.dll?Main");
  EXPECT_EQ(request.contentLength, 12u);
  EXPECT_EQ(ServerVariable(request.info, "CONTENT_TYPE"), "application/x-www-form-urlencoded");
}

TEST_F(ParamsFixture, UntrustedParametersAreBoundedAndChecked) {
  entries = {"FCGI_ROLE=RESPONDER", "QUERY_STRING=" + std::string(5000, 'q')};
  EXPECT_EQ(Convert(4096), 431) << "the parameters together exceed the limit";
  request = {};
  EXPECT_EQ(Convert(8192), 0);

  entries = {"FCGI_ROLE=AUTHORIZER", "REQUEST_METHOD=GET"};
  request = {};
  EXPECT_EQ(Convert(), 403) << "an authorizer must never hear 200 from the site";
  entries = {"REQUEST_METHOD=GET"};
  request = {};
  EXPECT_EQ(Convert(), 403) << "no role at all";

  for (const char* bad : {"CONTENT_LENGTH=12x", "CONTENT_LENGTH=-1", "CONTENT_LENGTH=99999999999999999999999"}) {
    entries = {"FCGI_ROLE=RESPONDER", bad};
    request = {};
    EXPECT_EQ(Convert(), 400) << bad;
  }
}

TEST(FcgiNames, VariableTailsBecomeFieldNames) {
  EXPECT_EQ(FieldNameOf("USER_AGENT"), "User-Agent");
  EXPECT_EQ(FieldNameOf("HOST"), "Host");
  EXPECT_EQ(FieldNameOf("X__Y"), "X--Y");
  EXPECT_EQ(FieldNameOf(""), "");
}

TEST(FcgiHead, StatusLineAndFieldsInCgiForm) {
  ResponseHead head;
  EXPECT_EQ(FcgiChannel::HeadText(head), "Status: 200 OK\r\n\r\n") << "nginx copies the phrase into its status line";
  head.status = 299;
  EXPECT_EQ(FcgiChannel::HeadText(head), "Status: 299 Success\r\n\r\n");
  head.status = 404;
  head.reason = "Brak";
  head.fields = {{"Content-type", "text/html"}, {"X-Test", "yes"}};
  EXPECT_EQ(FcgiChannel::HeadText(head), "Status: 404 Brak\r\nContent-type: text/html\r\nX-Test: yes\r\n\r\n");
}

}  // namespace
}  // namespace host
