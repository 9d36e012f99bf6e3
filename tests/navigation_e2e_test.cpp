// The navigation and search pages end to end: vamuserver with libportico.so
// over document bases and a registry file made for the test, fetched over
// HTTP on a loopback port as a browser would ask for them.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "host/tests/server_fixture.h"
#include "platform/registry.h"
#include "portico/tests/harness.h"

namespace {

using host::test::Fetch;

std::string Act(const std::string& title, const std::string& more = "") {
  // Line ends keep words apart: markup alone does not end a word.
  return "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD>\r\n" + more + "\r\n<BODY><P>podatek dochodowy</P></BODY></HTML>";
}

const std::string kImage = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);

std::vector<portico::test::Item> Documents() {
  std::vector<portico::test::Item> items = {
      {"D970005D970005.HTM", Act("Dz.U.97.12.5 - Ustawa o próbie"), ""},                                   // 0
      {"D970006D970006.HTM", Act("Dz.U.97.12.6 - Ustawa C"), ""},                                          // 1
      {"D970006D960033.HTM", Act("Dz.U.97.12.6 zm. Dz.U.96.7.33 - Ustawa C"), ""},                         // 2
      {"M980010M980010.HTM", Act("M.P.98.4.10 - Uchwała", "<!--FOOT<HTML><BODY>Stopka</BODY></HTML>-->"), ""},  // 3
      {"ORZ.HTM", "<HTML><A NAME=\"III CZP 1/10\"></A><!--BEGIN-->Uchwała o podatku<!--END--></HTML>", ""},  // 4
      {"Plan.JPG", kImage, ""},                                                                             // 5
  };
  for (int p = 10; p < 40; ++p)  // more acts than one page of results shows
    items.push_back({"D97" + std::to_string(1000 + p).substr(1) + "0D97" + std::to_string(1000 + p).substr(1) + "0.HTM",
                     Act("Dz.U.97.12." + std::to_string(p * 10) + " - Akt " + std::to_string(p)), ""});
  return items;
}

struct NavigationTest : ::testing::Test {
  portico::test::TestSite site;
  host::test::Site server;  // logs and the process kit; its registry is replaced by ours
  host::test::ServerProcess process;

  void SetUp() override {
    site.AddBase(Documents());
    site.AddBase({{"SPISDZU.TOC", "1 -id \"Dziennik\"\r\n2 -dd\r\nNAME=D970005\r\n", ""}}, "TOC");
    site.SetSetting("Commercials", "Commercial1", "reklama1.gif;Reklama");
    server.registry = site.registryPath;
    ASSERT_TRUE(process.Start(server));
  }
  void TearDown() override {
    std::string errors = host::test::Site::ReadFile(server.errorLog);
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
  }
  std::string Get(const std::string& target) {
    host::test::Response r = Fetch(process.Port(), target);
    EXPECT_EQ(r.Status(), 200) << target << " " << r.error.message();
    EXPECT_EQ(r.Header("Content-type"), "text/html") << target;
    return r.Body();
  }
};

TEST_F(NavigationTest, SearchResultsPagesAndTheNextPageScript) {
  std::string first = Get("/portico.dll?Portico=Search&Pattern=podatek&TypyDoc=1&Length=20");
  // Act 97/12/6 counts once (its latest version): 32 acts.
  EXPECT_NE(first.find("Dokumenty znalezione (32 pozycji) Wyświetlono od pozycji 1 do pozycji 20<P><UL>\r\n"
                       "<LI><A HREF=portico.dll?Topic&D970005D970005 TARGET=VAMUTEXT>Dz.U.97.12.5 - Ustawa o próbie</A>"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("val=\"portico.dll?Search&Pattern=podatek&TypyDoc=1&Start=21&Length=\";"), std::string::npos);
  EXPECT_NE(first.find("VALUE=\"12\"> pozycji</FORM></BODY></HTML>"), std::string::npos);
  // The next page as the script asks for it.
  std::string second = Get("/portico.dll?Search&Pattern=podatek&TypyDoc=1&Start=21&Length=12");
  EXPECT_NE(second.find("(32 pozycji) Wyświetlono od pozycji 21 do pozycji 32"), std::string::npos);
  EXPECT_EQ(second.find("GetNext"), std::string::npos);
  // A Polish word arrives as windows-1250 %XX escapes.
  std::string polish = Get("/portico.dll?Search&Pattern=Uchwa%B3a&TypyDoc=2");
  EXPECT_NE(polish.find("(1 pozycji)"), std::string::npos) << polish;
}

TEST_F(NavigationTest, SearchQueryCannotEscapeTheScript) {
  std::string page = Get("/portico.dll?Search&TypyDoc=1&x=%22%3E</script><script>alert(1)</script>&Length=1");
  EXPECT_EQ(page.find("<script>alert"), std::string::npos) << page;
  EXPECT_NE(page.find("\\x3C/script\\x3E\\x3Cscript\\x3Ealert(1)\\x3C/script\\x3E&Start=2&Length=\";"), std::string::npos)
      << page;
}

TEST_F(NavigationTest, ContentsTreeLevelsAndListPages) {
  EXPECT_EQ(Get("/portico.dll?TreeToc&Publ=Vamu&Name=D"),
            "1 -id \"Rocznik 1997\"\r\n2 -t portico.dll?TreeToc&Publ=Vamu&Name=D97 \"Ładuje...\"\r\n\r\n");
  std::string versions = Get("/portico.dll?TreeToc&Publ=Vamu&Name=D9700120006");
  EXPECT_EQ(versions, "1 -t portico.dll?Topic&1 \"Tekst Pierwotny\"\r\n\r\n"
                      "1 -t portico.dll?Topic&2 \"Zmiana  Dz.U.96.7.33 \"\r\n\r\n\r\n");
  EXPECT_EQ(Get("/portico.dll?TreeToc&Publ=VamuSpis&Name=DzU"),
            "1 -id \"Dziennik\"\r\n1 -t portico.dll?Topic&0 \"Dz.U.97.12.5 - Ustawa o próbie\"\r\n\r\n");
  std::string html = Get("/portico.dll?TreeToc&Publ=Vamu&Name=D&HTML=YES&TITLE=Dz.U.%3Cb%3E");
  EXPECT_NE(html.find("<title>Vamu Qad'98\\Dz.U.&lt;b&gt;</title>"), std::string::npos) << html;
  EXPECT_NE(html.find("<LI><A HREF=\"portico.dll?TreeToc&Publ=Vamu&Name=D97&HTML=YES&TITLE=Dz.U.%3Cb%3E\\Rocznik 1997\" "
                      ">Rocznik 1997</A></LI>"),
            std::string::npos)
      << html;
  EXPECT_EQ(Get("/portico.dll?TreeToc&Publ=Nic&Name=D"), "Sekcja nie jest dostępna");
}

TEST_F(NavigationTest, SynchronizeAnswersWithTheTreeLines) {
  EXPECT_EQ(Get("/portico.dll?Synchronize&PUBL=VAMU&NAME=D9700120005D9700120005"), "0,1,2,3,35/35,35");
  EXPECT_EQ(Get("/portico.dll?Synchronize&PUBL=VAMU&NAME=D9700000006D9600070033"), "0,1,2,3,34,36/36,36");
  EXPECT_EQ(Get("/portico.dll?Synchronize&PUBL=VAMU&NAME=D9900010001"), "0/0,0");
}

TEST_F(NavigationTest, FramesetCountsEveryVisitOfConcurrentClients) {
  std::string frameset = Get("/portico.dll?Main&D970005D970005");
  EXPECT_NE(frameset.find("src=portico.dll?Topic&0>\r\n<FRAME NAME=VAMUFOOT src=portico.dll?Foot&-3>"), std::string::npos);
  std::vector<std::future<int>> visits;
  for (int i = 0; i < 20; ++i)
    visits.push_back(std::async(std::launch::async, [this] { return Fetch(process.Port(), "/portico.dll?Main&1").Status(); }));
  for (auto& v : visits) EXPECT_EQ(v.get(), 200);
  // The server writes its visits once a second: all 21 within a few.
  auto counter = [this] {
    std::optional<RegValue> value =
        CRegistry::Load(site.registryPath).Value("HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server", "Counter");
    return value ? static_cast<long long>(value->dword) : -1;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  while (counter() != 21 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(counter(), 21);
  // Visits made just before a stop are written by the stop.
  for (int i = 0; i < 5; ++i) Get("/portico.dll?Main&2");
  process.Signal(SIGTERM);
  EXPECT_EQ(process.Wait(std::chrono::seconds(15)), 0);
  EXPECT_EQ(counter(), 26);
}

TEST_F(NavigationTest, FooterFrameStates) {
  EXPECT_NE(Get("/portico.dll?Foot&-2").find("<BODY BGCOLOR=#FFFFFF> <FONT SIZE=\"-1\"><CENTER><FONT SIZE=3>Miejsce na Twoją reklamę."),
            std::string::npos);
  EXPECT_NE(Get("/portico.dll?Foot&-3").find("<IMG SRC=\"reklama1.gif\" ALT=\"Reklama\"></CENTER>"), std::string::npos);
  EXPECT_NE(Get("/portico.dll?Foot&3").find("<BODY BGCOLOR=#FFFFFF> <FONT SIZE=\"-1\">Stopka</BODY></HTML>"),
            std::string::npos);
}

TEST_F(NavigationTest, RulingsOfAnActPartWithAnEncodedSignature) {
  EXPECT_EQ(Get("/portico.dll?PartOr&ORZ&III%20CZP%201/10"),
            "<HTML><HEAD><META  HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">\r\n"
            "</HEAD><TITLE>Orzeczenia</TITLE><BODY BGCOLOR=#FFFFFF>Uchwała o podatku</BODY></HTML>");
  EXPECT_NE(Get("/portico.dll?PartOr&4").find("Brak orzeczeń"), std::string::npos);
}

TEST_F(NavigationTest, ImageBytesArriveWhole) {
  EXPECT_EQ(Get("/portico.dll?Image&Plan"), kImage);
  EXPECT_NE(Get("/portico.dll?Image&Brak").find("<H1>Brak tej strony</H1>"), std::string::npos);
}

// /healthz of the real extension: 503 while a listed base cannot be opened
// (nothing to serve from), 200 once the registry lists one that can.
TEST(HealthOfTheSite, NothingToServeFromUntilABaseCanBeOpened) {
  portico::test::TestSite site;
  site.Registry().SetString("HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion", "1",
                            site.root + "/missing.vq");
  site.WriteRegistry();
  host::test::Site server;
  server.registry = site.registryPath;
  host::test::ServerProcess process;
  ASSERT_TRUE(process.Start(server));
  host::test::Response health;
  for (int i = 0; i < 200; ++i) {
    health = Fetch(process.Port(), "/healthz");
    if (health.Body() != "starting\n") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(health.Status(), 503);
  EXPECT_EQ(health.Body(), "nothing to serve from\n");
  EXPECT_EQ(Fetch(process.Port(), "/metrics").Status(), 200);

  portico::test::TestSite::WriteBase(site.root + "/missing.vq", Documents());
  for (int i = 0; i < 200 && health.Status() != 200; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    health = Fetch(process.Port(), "/healthz");
  }
  EXPECT_EQ(health.Status(), 200) << "the base published in place is taken up without a restart";
  EXPECT_EQ(health.Body(), "ok\n");
}

}  // namespace
