// The site end to end: vamuserver with libportico.so over document bases and
// a registry file made for the test, fetched over HTTP on a loopback port.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "host/tests/server_fixture.h"
#include "portico/tests/harness.h"

namespace {

using namespace std::chrono_literals;
using host::test::Fetch;

const std::string kAct =
    "<HTML><HEAD><TITLE>Ustawa o próbie</TITLE></HEAD>\r\n"
    "<!--LINE Search@ Home@ LinkedDoc=K@-->\r\n"
    "<!--TOC<HTML><BODY><UL><LI><A HREF=\"portico.dll?Topic&x#a5\">Art. 5</A></UL></BODY></HTML>-->\r\n"
    "<BODY>\r\n<P>Art. 1. Pierwszy.</P>\r\n<P>Art. 5. Piąty.</P>\r\n</BODY></HTML>";

std::vector<portico::test::Item> Documents() {
  return {
      {"ACTS\\ABC123D01456.HTM", kAct, "K;ABC007"},
      {"RUL1.HTM", "<HTML><HEAD><META KEYS=\"ABC123.ART.5=III CZP 1/10\"><TITLE>Wyrok</TITLE></HEAD></HTML>",
       "ABC123OO"},
      {"REL.HTM", "<HTML><HEAD><TITLE>Akt powiązany</TITLE></HEAD><BODY>r</BODY></HTML>", "K"},
      {"ABC007.HTM", "<HTML><BODY>akt ABC7</BODY></HTML>", "ABC007"},
  };
}

// A site with the documents, served by vamuserver with the real extension.
struct SiteTest : ::testing::Test {
  portico::test::TestSite site;
  host::test::Site server;  // logs and the process kit; its registry is replaced by ours
  host::test::ServerProcess process;
  std::string basePath;

  void SetUp() override {
    basePath = site.AddBase(Documents());
    site.WriteStatic("gt.gif", std::string("GIF89a\0\x01", 8));
    site.WriteStatic("Search.htm", "<HTML><BODY>Szukaj</BODY></HTML>");
    server.registry = site.registryPath;
  }
  void Start() { ASSERT_TRUE(process.Start(server)); }
  host::test::Response Get(const std::string& target) { return Fetch(process.Port(), target); }
};

TEST_F(SiteTest, DocumentPageWithItsRulingIcon) {
  Start();
  host::test::Response r = Get("/portico.dll?Topic&0");
  ASSERT_EQ(r.Status(), 200) << r.error.message();
  EXPECT_EQ(r.Header("Content-type"), "text/html");
  const std::string& body = r.Body();
  EXPECT_EQ(body.rfind("<HTML><HEAD>\r\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">", 0),
            0u);
  EXPECT_NE(body.find("var inframes=0\r\n"), std::string::npos);
  EXPECT_NE(body.find("window.top.urlRel=\"K\";"), std::string::npos);
  EXPECT_NE(body.find("<P>Art. 5. <A TARGET=\"VAMUFOOT\" HREF=\"portico.dll?PartOr&1&III CZP 1/10\"><img src=\"orbmp.gif\""),
            std::string::npos);
  EXPECT_EQ(body.find("<!--LINE"), std::string::npos);
  EXPECT_TRUE(host::test::WaitForText(server.accessLog, "vamu-test"));
}

TEST_F(SiteTest, ContentsButtonBarAndRelatedList) {
  Start();
  host::test::Response toc = Get("/portico.dll?TOC&0");
  ASSERT_EQ(toc.Status(), 200);
  EXPECT_NE(toc.Body().find("HREF=\"portico.dll?Topic&0#a5\""), std::string::npos);
  EXPECT_NE(toc.Body().find("BGCOLOR=\"#E0FFE0\""), std::string::npos);

  host::test::Response line = Get("/portico.dll?Line&ABC123D01456");
  ASSERT_EQ(line.Status(), 200);
  EXPECT_NE(line.Body().find("VALUE=\"Szukaj\""), std::string::npos);
  EXPECT_NE(line.Body().find("portico.dll?LinkedDoc&K&0'"), std::string::npos);

  host::test::Response related = Get("/portico.dll?LinkedDoc&K&0");
  ASSERT_EQ(related.Status(), 200);
  EXPECT_NE(related.Body().find("Akty Powiązane (1 pozycji)"), std::string::npos);
  EXPECT_NE(related.Body().find("<LI><A HREF=portico.dll?Topic&REL TARGET=VAMUTEXT>Akt powiązany</A>"),
            std::string::npos);
}

TEST_F(SiteTest, StaticFileAndActReference) {
  Start();
  host::test::Response gif = Get("/gt.gif");
  ASSERT_EQ(gif.Status(), 200);
  EXPECT_EQ(gif.Body(), std::string("GIF89a\0\x01", 8));
  host::test::Response act = Get("/portico.dll/ABC7.ATT?0");
  ASSERT_EQ(act.Status(), 200);
  EXPECT_NE(act.Body().find("var inframes=3\r\n"), std::string::npos);
  EXPECT_NE(act.Body().find("akt ABC7"), std::string::npos) << act.Body();
}

TEST_F(SiteTest, MissingDocumentAndUnknownCommand) {
  Start();
  host::test::Response missing = Get("/portico.dll?Topic&77");
  ASSERT_EQ(missing.Status(), 200);
  EXPECT_NE(missing.Body().find("<H1>Brak tej strony</H1>"), std::string::npos);
  host::test::Response unknown = Get("/portico.dll?Bogus&1");
  EXPECT_EQ(unknown.Status(), 200);
  EXPECT_EQ(unknown.Body(), "");
  host::test::Response noAct = Get("/portico.dll/NOPE.ATT");
  ASSERT_EQ(noAct.Status(), 200);
  EXPECT_NE(noAct.Body().find("Brak takiego aktu"), std::string::npos);
}

TEST_F(SiteTest, FailingPageClosesTheResponseAndIsLogged) {
  Start();
  // No Home.htm in the installation directory: the page fails after its header.
  host::test::Response r = Get("/portico.dll?Topic&-2");
  EXPECT_EQ(r.Status(), 500);
  EXPECT_TRUE(host::test::WaitForText(server.errorLog, "Error: Topic&-2"));
  EXPECT_EQ(Get("/portico.dll?Topic&0").Status(), 200) << "the server goes on serving";
}

TEST_F(SiteTest, ClientsWaitWhileTheCataloguesInitialise) {
  // A writer holds the base: the catalogue waits for it, and so do the pages.
  int fd = ::open(basePath.c_str(), O_RDWR | O_CLOEXEC);  // the server must not inherit the lock
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  Start();
  std::vector<std::future<host::test::Response>> answers;
  const int kClients = 24;
  for (int i = 0; i < kClients; ++i) {
    std::string target = i % 3 == 0 ? "/portico.dll?Topic&0" : i % 3 == 1 ? "/portico.dll?TOC&0" : "/portico.dll?Line&0";
    answers.push_back(std::async(std::launch::async, [this, target] { return Get(target); }));
  }
  std::this_thread::sleep_for(700ms);
  for (auto& a : answers) EXPECT_EQ(a.wait_for(0ms), std::future_status::timeout) << "answered before the bases opened";
  ::close(fd);
  for (int i = 0; i < kClients; ++i) {
    host::test::Response r = answers[i].get();
    ASSERT_EQ(r.Status(), 200) << i << " " << r.error.message() << "\n" << host::test::Site::ReadFile(server.errorLog);
    const char* expected = i % 3 == 0 ? "<P>Art. 5. <A TARGET" : i % 3 == 1 ? "portico.dll?Topic&0#a5" : "LinkedDoc&K&0";
    EXPECT_NE(r.Body().find(expected), std::string::npos) << i;
  }
}

}  // namespace
