// The response conventions: WritePage and its code-page declaration,
// chunked writing, gathering of small writes, failed writes, the epilogue.
#include <gtest/gtest.h>

#include <string>

#include "portico/request.h"
#include "portico/tests/harness.h"

namespace portico {
namespace {

using test::TestRequest;

const std::string kDecl = "\r\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">\r\n";

std::string Written(const std::string& text, const char* extra = nullptr) {
  TestRequest t("");
  CRequest r(t.Ecb());
  EXPECT_TRUE(WritePage(r, text.data(), text.size(), extra));
  r.Flush();
  return t.body;
}

TEST(WritePage, DeclarationGoesBehindTheHeadTag) {
  EXPECT_EQ(Written("<HTML><HEAD><TITLE>t</TITLE></HEAD><BODY>"),
            "<HTML><HEAD>" + kDecl + "<TITLE>t</TITLE></HEAD><BODY>");
  EXPECT_EQ(Written("<html>< head id=1><body>"), "<html>< head id=1>" + kDecl + "<body>");
}

TEST(WritePage, ExtraHeadTextFollowsTheDeclaration) {
  EXPECT_EQ(Written("<HTML><HEAD></HEAD><BODY>", "<X>"), "<HTML><HEAD>" + kDecl + "<X></HEAD><BODY>");
}

TEST(WritePage, DeclaredCodePageIsNotDeclaredAgain) {
  std::string page = "<HTML><HEAD><META CONTENT=\"text/html; charset=windows-1250\"></HEAD><BODY>";
  EXPECT_EQ(Written(page), page);
  EXPECT_EQ(Written(page, "<X>"), "<HTML><HEAD><X><META CONTENT=\"text/html; charset=windows-1250\"></HEAD><BODY>");
}

TEST(WritePage, PageWithoutHeadGetsOneBehindItsHtmlTag) {
  EXPECT_EQ(Written("<HTML><BODY>x"), "<HTML><HEAD>" + kDecl + "</HEAD><BODY>x");
  EXPECT_EQ(Written("< html >\r\n<BODY>"), "< html ><HEAD>" + kDecl + "</HEAD>\r\n<BODY>");
  // Behind the tag's ">", whatever attributes come before it.
  EXPECT_EQ(Written("<HTML lang=pl><BODY>x"), "<HTML lang=pl><HEAD>" + kDecl + "</HEAD><BODY>x");
  EXPECT_EQ(Written("<html\r\n  dir=ltr lang=\"pl\"\r\n><body>"),
            "<html\r\n  dir=ltr lang=\"pl\"\r\n><HEAD>" + kDecl + "</HEAD><body>");
  // An HTML tag never closed gets no head.
  EXPECT_EQ(Written("<HTML lang=pl"), "<HTML lang=pl");
}

TEST(WritePage, HeadTagBeyondTheLimitIsNotSeen) {
  std::string page = "<HTML>" + std::string(3094, 'x') + "<HEAD></HEAD><BODY>";
  ASSERT_EQ(page.find("<HEAD>"), 3100u);
  EXPECT_EQ(Written(page), "<HTML><HEAD>" + kDecl + "</HEAD>" + page.substr(6));
}

TEST(WritePage, CodePageMarkBeyondTheLimitDoesNotCount) {
  std::string page = "<HTML><HEAD></HEAD>" + std::string(3000, ' ') + "charset=windows-1250";
  EXPECT_EQ(Written(page), "<HTML><HEAD>" + kDecl + page.substr(12));
}

TEST(WritePage, PlainTextIsWrittenUnchanged) {
  EXPECT_EQ(Written("plain text <B>bold</B>"), "plain text <B>bold</B>");
  EXPECT_EQ(Written(""), "");
  EXPECT_EQ(Written("<HTML>"), "<HTML>");  // no room behind the tag
  EXPECT_EQ(Written("<HEAD"), "<HEAD");    // no ">" behind the head tag, no HTML tag
}

TEST(WriteChunked, PiecesOfAtMostTheLimitFirstThroughWritePage) {
  TestRequest t("");
  CRequest r(t.Ecb());
  std::string text = "<HTML><BODY>" + std::string(250000, 'a');
  EXPECT_TRUE(WriteChunked(r, text.data(), text.size()));
  r.Flush();
  EXPECT_EQ(t.body, "<HTML><HEAD>" + kDecl + "</HEAD>" + text.substr(6));
  for (std::size_t size : t.writeSizes) EXPECT_LE(size, kPieceSize);
}

TEST(WriteChunked, StopsAtTheFirstFailedPiece) {
  TestRequest t("");
  t.failAfterWrites = 1;
  CRequest r(t.Ecb());
  std::string text(350000, 'a');
  EXPECT_FALSE(WriteChunked(r, text.data(), text.size()));
  EXPECT_EQ(t.body.size(), kPieceSize);
  EXPECT_EQ(t.failedWrites, 1u);
  EXPECT_FALSE(r.Write("more"));
  EXPECT_EQ(t.failedWrites, 1u);
}

TEST(Request, SmallWritesAreGatheredInOrder) {
  TestRequest t("");
  CRequest r(t.Ecb());
  for (int i = 0; i < 1000; ++i) r.Write("0123456789");
  r.Write(std::string(20000, 'x'));
  r.Write("end");
  r.Flush();
  EXPECT_EQ(t.body.size(), 10000u + 20000u + 3u);
  EXPECT_EQ(t.body.substr(t.body.size() - 3), "end");
  EXPECT_EQ(t.writeSizes.size(), 3u);
}

TEST(Epilogue, CopiesTheUserAgentCutTo79AndSetsStatus200) {
  TestRequest t("");
  t.variables["HTTP_USER_AGENT"] = std::string(200, 'u');
  CRequest r(t.Ecb());
  RunEpilogue(r);
  EXPECT_EQ(std::string(t.Ecb()->lpszLogData), std::string(79, 'u'));
  EXPECT_EQ(t.Ecb()->dwHttpStatusCode, 200u);
}

TEST(Epilogue, MissingOrHugeUserAgentLeavesTheLogFieldEmpty) {
  TestRequest t("");
  t.variables.erase("HTTP_USER_AGENT");
  std::strcpy(t.Ecb()->lpszLogData, "old");
  CRequest r(t.Ecb());
  RunEpilogue(r);
  EXPECT_EQ(std::string(t.Ecb()->lpszLogData), "");

  TestRequest huge("");
  huge.variables["HTTP_USER_AGENT"] = std::string(6000, 'u');  // beyond the 5000-byte buffer
  CRequest h(huge.Ecb());
  RunEpilogue(h);
  EXPECT_EQ(std::string(huge.Ecb()->lpszLogData), "");
}

TEST(Request, HeaderIsTheHtmlContentType) {
  TestRequest t("");
  CRequest r(t.Ecb());
  EXPECT_TRUE(r.SendHeader());
  EXPECT_EQ(t.header, "Content-type: text/html\r\n\r\n");
}

}  // namespace
}  // namespace portico
