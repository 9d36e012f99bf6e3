// The control block and its callbacks as an extension sees them, and how a
// request ends for each way the extension can end it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "host/extension_request.h"
#include "host/tests/fake_channel.h"

namespace host {
namespace {

using test::FakeChannel;

struct CallFixture : ::testing::Test {
  RequestInfo request;
  FakeChannel channel;

  CallFixture() {
    request.method = "GET";
    request.queryString = "Topic&3";
    request.headers = {{"User-Agent", "Mozilla/4.0 (compatible)"}, {"Content-Type", "text/plain"}};
  }

  BOOL Header(ExtensionCall& call, const char* status, const char* text) {
    EXTENSION_CONTROL_BLOCK* ecb = call.Ecb();
    return ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, const_cast<char*>(status), nullptr,
                                      reinterpret_cast<LPDWORD>(const_cast<char*>(text)));
  }
  BOOL Write(ExtensionCall& call, const std::string& text) {
    EXTENSION_CONTROL_BLOCK* ecb = call.Ecb();
    DWORD n = DWORD(text.size());
    return ecb->WriteClient(ecb->ConnID, const_cast<char*>(text.data()), &n, HSE_IO_SYNC);
  }
};

TEST_F(CallFixture, ControlBlockCarriesTheRequest) {
  request.pathInfo = "/ABC7.ATT";
  request.pathTranslated = "/srv/vamu/ABC7.ATT";
  request.body = "a=1";
  ExtensionCall call(request, channel);
  EXTENSION_CONTROL_BLOCK* ecb = call.Ecb();
  EXPECT_EQ(ecb->cbSize, sizeof(EXTENSION_CONTROL_BLOCK));
  EXPECT_EQ(ecb->dwHttpStatusCode, 200u);
  EXPECT_STREQ(ecb->lpszMethod, "GET");
  EXPECT_STREQ(ecb->lpszQueryString, "Topic&3");
  EXPECT_STREQ(ecb->lpszPathInfo, "/ABC7.ATT");
  EXPECT_STREQ(ecb->lpszPathTranslated, "/srv/vamu/ABC7.ATT");
  EXPECT_STREQ(ecb->lpszContentType, "text/plain");
  EXPECT_EQ(ecb->cbTotalBytes, 3u);
  EXPECT_EQ(ecb->cbAvailable, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(ecb->lpbData), 3), "a=1");
  EXPECT_STREQ(ecb->lpszLogData, "");
}

TEST_F(CallFixture, ServerVariableFollowsTheBufferSizeProtocol) {
  ExtensionCall call(request, channel);
  EXTENSION_CONTROL_BLOCK* ecb = call.Ecb();
  char name[] = "HTTP_USER_AGENT";
  const std::string agent = "Mozilla/4.0 (compatible)";

  char small[4];
  DWORD size = sizeof small;
  errno = 0;
  EXPECT_FALSE(ecb->GetServerVariable(ecb->ConnID, name, small, &size));
  EXPECT_EQ(size, agent.size() + 1) << "a failing call reports the size needed";
  EXPECT_EQ(errno, ENOBUFS);

  std::vector<char> exact(size);
  EXPECT_TRUE(ecb->GetServerVariable(ecb->ConnID, name, exact.data(), &size));
  EXPECT_EQ(std::string(exact.data()), agent);
  EXPECT_EQ(size, agent.size() + 1);

  char unknown[] = "NO_SUCH_VARIABLE";
  char buffer[100];
  size = sizeof buffer;
  EXPECT_FALSE(ecb->GetServerVariable(ecb->ConnID, unknown, buffer, &size));
  EXPECT_EQ(errno, ENOENT);
  char missingHeader[] = "HTTP_REFERER";
  EXPECT_FALSE(ecb->GetServerVariable(ecb->ConnID, missingHeader, buffer, &size));
}

TEST(ServerVariables, KnownNamesIgnoreCaseAndHeadersMapToHttpNames) {
  RequestInfo r;
  r.method = "POST";
  r.queryString = "Search&Pattern=ustawa";
  r.pathInfo = "/X.ATT";
  r.pathTranslated = "/srv/X.ATT";
  r.body = "12345";
  r.headers = {{"X-Forwarded-For", "10.0.0.1"}, {"Content-Type", "application/x-www-form-urlencoded"}};
  EXPECT_EQ(ServerVariable(r, "request_method"), "POST");
  EXPECT_EQ(ServerVariable(r, "QUERY_STRING"), "Search&Pattern=ustawa");
  EXPECT_EQ(ServerVariable(r, "PATH_INFO"), "/X.ATT");
  EXPECT_EQ(ServerVariable(r, "PATH_TRANSLATED"), "/srv/X.ATT");
  EXPECT_EQ(ServerVariable(r, "CONTENT_LENGTH"), "5");
  EXPECT_EQ(ServerVariable(r, "CONTENT_TYPE"), "application/x-www-form-urlencoded");
  EXPECT_EQ(ServerVariable(r, "HTTP_X_FORWARDED_FOR"), "10.0.0.1");
  EXPECT_EQ(ServerVariable(r, "ALL_HTTP"),
            "HTTP_X_FORWARDED_FOR:10.0.0.1\nHTTP_CONTENT_TYPE:application/x-www-form-urlencoded\n");
  EXPECT_FALSE(ServerVariable(r, "HTTP_"));
  EXPECT_FALSE(ServerVariable(r, "HTTP_USER_AGENT"));
}

TEST_F(CallFixture, HeaderIsHeldBackUntilTheFirstByteAndSentOnce) {
  ExtensionCall call(request, channel);
  EXPECT_TRUE(Header(call, nullptr, "Content-type: text/html\r\n\r\n"));
  EXPECT_TRUE(channel.heads.empty());
  EXPECT_FALSE(Header(call, "404 Not Found", "Content-type: text/html\r\n\r\n")) << "one header per response";
  EXPECT_TRUE(Write(call, "<HTML>"));
  EXPECT_TRUE(Write(call, "</HTML>"));
  ASSERT_EQ(channel.heads.size(), 1u);
  EXPECT_EQ(channel.heads[0].status, 200);
  ASSERT_EQ(channel.heads[0].fields.size(), 1u);
  EXPECT_EQ(channel.heads[0].fields[0], std::make_pair(std::string("Content-type"), std::string("text/html")));
  EXPECT_EQ(channel.body, "<HTML></HTML>");

  ExtensionOutcome out = call.Finish(HSE_STATUS_SUCCESS, false);
  EXPECT_TRUE(channel.finished);
  EXPECT_FALSE(channel.aborted);
  EXPECT_EQ(out.status, 200);
  EXPECT_EQ(out.bytes, 13u);
}

TEST_F(CallFixture, WriteWithoutHeaderSendsTheDefaultStatus) {
  ExtensionCall call(request, channel);
  EXPECT_TRUE(Write(call, "x"));
  ASSERT_EQ(channel.heads.size(), 1u);
  EXPECT_EQ(channel.heads[0].status, 200);
  EXPECT_TRUE(channel.heads[0].fields.empty());
  EXPECT_FALSE(Header(call, nullptr, "Content-type: text/html\r\n\r\n")) << "too late once bytes went out";
}

TEST_F(CallFixture, ZeroByteWriteIsNoOutput) {
  ExtensionCall call(request, channel);
  EXPECT_TRUE(Write(call, ""));
  EXPECT_TRUE(channel.heads.empty());
  call.Finish(HSE_STATUS_ERROR, false);
  ASSERT_EQ(channel.heads.size(), 1u);
  EXPECT_EQ(channel.heads[0].status, 500);
}

TEST(HeaderText, FieldsUpToTheEmptyLineAndBodyBehindIt) {
  ResponseHead head;
  std::string body;
  ParseHeaderText("Content-type: text/html\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n<HTML>", head, body);
  ASSERT_EQ(head.fields.size(), 3u);
  EXPECT_EQ(head.fields[1].second, "a=1");
  EXPECT_EQ(head.fields[2].second, "b=2");
  EXPECT_EQ(body, "<HTML>");
}

TEST(HeaderText, FramingFieldsAndBrokenLinesAreDropped) {
  ResponseHead head;
  std::string body;
  ParseHeaderText(
      "Content-Length: 5\r\nTransfer-Encoding: chunked\r\nConnection: close\r\nno colon\r\n: empty name\r\n"
      "Bad Name: x\r\nX-Ctl: a\rb\r\nX-Ok:   padded  \nLast: no blank line",
      head, body);
  ASSERT_EQ(head.fields.size(), 2u);
  EXPECT_EQ(head.fields[0], std::make_pair(std::string("X-Ok"), std::string("padded")));
  EXPECT_EQ(head.fields[1].first, "Last");
  EXPECT_TRUE(body.empty());
}

TEST(StatusText, AcceptsFinalStatusesOnly) {
  ResponseHead head;
  EXPECT_TRUE(ParseStatusText("404 Not Found", head));
  EXPECT_EQ(head.status, 404);
  EXPECT_EQ(head.reason, "Not Found");
  EXPECT_TRUE(ParseStatusText("302", head));
  EXPECT_EQ(head.status, 302);
  EXPECT_EQ(head.reason, "");
  for (const char* bad : {"", "20", "100 Continue", "600 Beyond", "2OO OK", "2000 OK", "200 O\nK"})
    EXPECT_FALSE(ParseStatusText(bad, head)) << bad;
}

TEST_F(CallFixture, BodyTextInTheHeaderGoesOutFirst) {
  ExtensionCall call(request, channel);
  EXPECT_TRUE(Header(call, "201 Created", "Content-type: text/plain\r\n\r\nHello"));
  EXPECT_TRUE(Write(call, " world"));
  EXPECT_EQ(channel.body, "Hello world");
  EXPECT_EQ(channel.heads.at(0).status, 201);
  EXPECT_EQ(call.Finish(HSE_STATUS_SUCCESS, false).bytes, 11u);
}

TEST_F(CallFixture, NothingWrittenGivesAnEmptyResponseWithTheBlockStatus) {
  {
    ExtensionCall call(request, channel);
    ExtensionOutcome out = call.Finish(0, false);
    EXPECT_EQ(out.status, 200);
  }
  ASSERT_EQ(channel.heads.size(), 1u);
  EXPECT_TRUE(channel.finished);
  EXPECT_TRUE(channel.body.empty());

  FakeChannel other;
  ExtensionCall call(request, other);
  call.Ecb()->dwHttpStatusCode = 404;
  EXPECT_EQ(call.Finish(HSE_STATUS_SUCCESS, false).status, 404);
  EXPECT_EQ(other.heads.at(0).status, 404);

  FakeChannel third;
  ExtensionCall odd(request, third);
  odd.Ecb()->dwHttpStatusCode = 7;  // not a status a response can carry
  EXPECT_EQ(odd.Finish(HSE_STATUS_SUCCESS, false).status, 200);
}

TEST_F(CallFixture, HeaderOnlyResponseIsFinished) {
  ExtensionCall call(request, channel);
  Header(call, "404 Not Found", "Content-type: text/html\r\n\r\n");
  ExtensionOutcome out = call.Finish(HSE_STATUS_SUCCESS, false);
  EXPECT_EQ(out.status, 404);
  EXPECT_TRUE(channel.finished);
  EXPECT_EQ(channel.heads.at(0).reason, "Not Found");
}

TEST_F(CallFixture, ErrorBeforeOutputBecomesA500Page) {
  for (bool threw : {false, true}) {
    FakeChannel ch;
    ExtensionCall call(request, ch);
    Header(call, nullptr, "Content-type: text/html\r\n\r\n");  // sent, but no byte yet
    ExtensionOutcome out = call.Finish(HSE_STATUS_ERROR, threw);
    EXPECT_EQ(out.status, 500);
    ASSERT_EQ(ch.heads.size(), 1u);
    EXPECT_EQ(ch.heads[0].status, 500);
    EXPECT_NE(ch.body.find("500"), std::string::npos);
    EXPECT_TRUE(ch.finished);
    EXPECT_FALSE(out.aborted);
  }
}

TEST_F(CallFixture, ErrorAfterOutputClosesTheConnection) {
  for (DWORD result : {DWORD(HSE_STATUS_ERROR), DWORD(HSE_STATUS_PENDING), DWORD(77)}) {
    FakeChannel ch;
    ExtensionCall call(request, ch);
    Write(call, "partial");
    ExtensionOutcome out = call.Finish(result, false);
    EXPECT_TRUE(out.aborted) << result;
    EXPECT_TRUE(ch.aborted);
    EXPECT_FALSE(ch.finished);
    EXPECT_EQ(ch.heads.size(), 1u);
  }
}

TEST_F(CallFixture, GoneClientFailsEveryLaterWriteAndTheResponseIsAborted) {
  channel.failAfterWrites = 1;
  ExtensionCall call(request, channel);
  EXPECT_TRUE(Write(call, "one"));
  EXPECT_FALSE(Write(call, "two"));
  EXPECT_FALSE(Write(call, "three"));
  EXPECT_EQ(channel.writes, 1);
  ExtensionOutcome out = call.Finish(HSE_STATUS_SUCCESS, false);
  EXPECT_TRUE(out.aborted);
  EXPECT_EQ(out.bytes, 3u);
}

TEST_F(CallFixture, LogFieldIsReadWithinItsEightyBytes) {
  ExtensionCall call(request, channel);
  std::memset(call.Ecb()->lpszLogData, 'x', HSE_LOG_BUFFER_LEN);  // no terminating zero
  EXPECT_EQ(call.Finish(0, false).logData, std::string(80, 'x'));
}

TEST_F(CallFixture, BadCallsFailWithoutHarm) {
  ExtensionCall call(request, channel);
  EXTENSION_CONTROL_BLOCK* ecb = call.Ecb();
  char data[] = "x";
  DWORD n = 1;
  EXPECT_FALSE(ecb->WriteClient(nullptr, data, &n, 0));
  int notACall = 0;
  EXPECT_FALSE(ecb->WriteClient(&notACall, data, &n, 0)) << "a handle that is no request is refused";
  EXPECT_FALSE(ecb->WriteClient(ecb->ConnID, nullptr, &n, 0));
  EXPECT_FALSE(ecb->WriteClient(ecb->ConnID, data, nullptr, 0));
  EXPECT_FALSE(ecb->WriteClient(ecb->ConnID, data, &n, HSE_IO_ASYNC));
  EXPECT_FALSE(ecb->ServerSupportFunction(ecb->ConnID, 9999, nullptr, nullptr, nullptr));
  EXPECT_FALSE(Header(call, "99 Low", nullptr));
  EXPECT_TRUE(channel.heads.empty());
}

TEST_F(CallFixture, RedirectSendsALocation) {
  ExtensionCall call(request, channel);
  EXTENSION_CONTROL_BLOCK* ecb = call.Ecb();
  char bad[] = "/x\r\nSet-Cookie: a=1";
  EXPECT_FALSE(ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, bad, nullptr, nullptr));
  char url[] = "/Home.htm";
  EXPECT_TRUE(ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, url, nullptr, nullptr));
  EXPECT_EQ(call.Finish(HSE_STATUS_SUCCESS, false).status, 302);
  ASSERT_EQ(channel.heads.at(0).fields.size(), 1u);
  EXPECT_EQ(channel.heads[0].fields[0].second, "/Home.htm");
}

TEST_F(CallFixture, ReadClientDeliversNothingBeyondTheAvailableBody) {
  request.body = "abc";
  ExtensionCall call(request, channel);
  EXTENSION_CONTROL_BLOCK* ecb = call.Ecb();
  char buffer[8];
  DWORD size = sizeof buffer;
  EXPECT_TRUE(ecb->ReadClient(ecb->ConnID, buffer, &size));
  EXPECT_EQ(size, 0u);
}

}  // namespace
}  // namespace host
