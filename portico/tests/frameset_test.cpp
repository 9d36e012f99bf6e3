// The frameset page (Main) with its visit counter, and the footer frame
// (Foot): footer comments of documents, the home page's placeholder and the
// advertisements of the section "Commercials".
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "portico/document.h"
#include "portico/settings.h"
#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;

const std::string kDecl = "\r\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">\r\n";
const std::string kFooterBody = " BGCOLOR=#FFFFFF> <FONT SIZE=\"-1\">";

std::string Frameset(const std::string& index) {
  return "<HTML>\r\n<HEAD>\r\n</HEAD>\r\n<FRAMESET ROWS=\"*,120\">\r\n<FRAME NAME=VAMUTEXT FRAMEBORDER=0 "
         "src=portico.dll?Topic&" + index +
         ">\r\n<FRAME NAME=VAMUFOOT src=portico.dll?Foot&-3>\r\n<NOFRAMES>Ta strona wymaga przeglądarki z ramkami. "
         "<A HREF=\"portico.dll?Topic&" + index + "\">Tekst dokumentu bez ramek</A></NOFRAMES></FRAMESET>\r\n</HTML>";
}

// The advertisement page as the footer frame writes it: the footer's
// background and font in its body tag, closing tags at the end.
std::string Advertisement(const std::string& image, const std::string& alt) {
  return "<HTML><HEAD>" + kDecl +
         " <META HTTP-EQUIV=\"Expires\" CONTENT=\"Tue, 04 Dec 1996 21:29:02 GMT\"></HEAD><BODY" + kFooterBody +
         "<CENTER><IMG SRC=\"" + image + (alt.empty() ? "" : "\" ALT=\"" + alt) + "\"></CENTER></BODY></HTML>";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

struct FramesetTest : ::testing::Test {
  TestSite site;
  std::unique_ptr<CPorticoExtension> ext;
  void SetUp() override {
    site.AddBase({
        {"Home.HTM", "<HTML><BODY>dom</BODY></HTML>", ""},                                                     // 0
        {"FOOT.HTM", "<HTML><!--FOOT<HTML><BODY>Stopka <B>aktu</B></BODY></HTML>--><BODY>akt</BODY></HTML>", ""},  // 1
        {"PLAIN.HTM", "<HTML><BODY>bez stopki</BODY></HTML>", ""},                                              // 2
        {"EMPTY.HTM", "", ""},                                                                                  // 3
        {"OPEN.HTM", "<HTML><!--FOOT<body>otwarta", ""},                                                         // 4
        {"TEXT.HTM", "<!--FOOTzwykły tekst-->", ""},                                                            // 5
        {"ZERO.HTM", std::string("<!--FOOTprzed\0po-->", 19), ""},                                            // 6
        {"LATE.HTM", std::string("<HTML>\0<!--FOOTza zerem-->", 26), ""},                                     // 7
    });
    site.SetSetting("Commercials", "Commercial1", "reklama1.gif;Pierwsza reklama");
    ext = StartExtension(site);
  }
  std::optional<DWORD> Counter() const {
    std::optional<RegValue> v = CRegistry::Load(site.registryPath).Value(SettingsKey(""), "Counter");
    if (!v) return std::nullopt;
    return v->dword;
  }
};

TEST_F(FramesetTest, MainWritesTheFramesetAndCountsTheVisit) {
  EXPECT_FALSE(Counter());
  Response r = Query(*ext, "Main&517");
  EXPECT_EQ(r.result, 1u);
  EXPECT_EQ(r.header, kPageHeader);
  EXPECT_EQ(r.body, Frameset("517"));
  EXPECT_EQ(Query(*ext, "Main&Home").body, Frameset("0"));
  EXPECT_EQ(Query(*ext, "Main&Nieznany").body, Frameset("-1"));  // the search page
  EXPECT_EQ(Query(*ext, "Main&-2").body, Frameset("-2"));
  ext->Stop();  // writes the visits counted in memory
  EXPECT_EQ(Counter(), 4u);
  // The counter survives alongside the other settings.
  EXPECT_EQ(ReadSetting("Setup", "Dir"), site.dir);
}

TEST_F(FramesetTest, ConcurrentVisitsEachCountOnce) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([this] {
      for (int i = 0; i < 15; ++i) Query(*ext, "Main&2");
    });
  for (std::thread& th : threads) th.join();
  ext->Stop();
  EXPECT_EQ(Counter(), 90u);
}

TEST_F(FramesetTest, CounterOfAnotherTypeStartsAgainAndMissingKeyCountsNothing) {
  site.SetSetting("", "Counter", "tekst");
  Query(*ext, "Main&1");
  ext->Visits().Flush();
  EXPECT_EQ(Counter(), 1u);

  site.RemoveSetting("Commercials");
  site.RemoveSetting("Setup");
  site.RemoveSetting("");
  const std::string before = ReadFile(site.registryPath);
  EXPECT_EQ(Query(*ext, "Main&1").body, Frameset("1"));
  ext->Visits().Flush();
  EXPECT_FALSE(Counter());
  EXPECT_EQ(ReadFile(site.registryPath), before);
}

TEST_F(FramesetTest, HomePageFooterIsThePlaceholder) {
  EXPECT_EQ(Query(*ext, "Foot&-2").body, "<HTML><HEAD>" + kDecl + "</HEAD><BODY" + kFooterBody +
                                             "<CENTER><FONT SIZE=3>Miejsce na Twoją reklamę.</CENTER></BODY></HTML>");
}

TEST_F(FramesetTest, OtherReservedPagesShowAnAdvertisement) {
  for (const char* arg : {"-1", "-3", "-4", "-99999999999"})
    EXPECT_EQ(Query(*ext, std::string("Foot&") + arg).body, Advertisement("reklama1.gif", "Pierwsza reklama")) << arg;
}

TEST_F(FramesetTest, DocumentFooterIsItsFootComment) {
  EXPECT_EQ(Query(*ext, "Foot&1").body,
            "<HTML><HEAD>" + kDecl + "</HEAD><BODY" + kFooterBody + "Stopka <B>aktu</B></BODY></HTML>");
  EXPECT_EQ(Query(*ext, "Foot&FOOT").body, Query(*ext, "Foot&1").body);
  // Without its end the footer runs to the end of the document.
  EXPECT_EQ(Query(*ext, "Foot&4").body, "<body" + kFooterBody + "otwarta");
  // A footer without a body tag is written as it is.
  EXPECT_EQ(Query(*ext, "Foot&5").body, "zwykły tekst");
  EXPECT_EQ(Query(*ext, "Foot&2").body, Advertisement("reklama1.gif", "Pierwsza reklama"));
  // The text of a document ends at its first zero byte.
  EXPECT_EQ(Query(*ext, "Foot&6").body, "przed");
  EXPECT_EQ(Query(*ext, "Foot&7").body, Advertisement("reklama1.gif", "Pierwsza reklama"));
}

TEST_F(FramesetTest, MissingOrEmptyDocumentGivesTheNotFoundFooter) {
  const std::string notFound = "<HTML><HEAD>" + kDecl + "<TITLE>Brak tej strony</TITLE></HEAD><BODY" + kFooterBody +
                               "<H1>Brak tej strony</H1></BODY></HTML>";
  EXPECT_EQ(Query(*ext, "Foot&3").body, notFound);
  EXPECT_EQ(Query(*ext, "Foot&77").body, notFound);
  EXPECT_EQ(Query(*ext, "Foot&99999999999").body, notFound);
  // An unknown name is the search page (-1): an advertisement.
  EXPECT_EQ(Query(*ext, "Foot&Nieznany").body, Advertisement("reklama1.gif", "Pierwsza reklama"));
}

TEST_F(FramesetTest, AdvertisementIsChosenAmongAllConfigured) {
  site.SetSetting("Commercials", "Commercial2", "reklama2.gif");
  site.SetSetting("Commercials", "Commercial3", "reklama3.gif;Trzecia");
  std::set<std::string> seen;
  for (int i = 0; i < 80; ++i) seen.insert(Query(*ext, "Foot&-3").body);
  EXPECT_EQ(seen, (std::set<std::string>{Advertisement("reklama1.gif", "Pierwsza reklama"),
                                         Advertisement("reklama2.gif", ""), Advertisement("reklama3.gif", "Trzecia")}));
}

TEST_F(FramesetTest, NumbersOfAdvertisementsAreHexadecimal) {
  for (int n = 1; n <= 10; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "Commercial%x", n);
    site.SetSetting("Commercials", name, n == 10 ? "dziesiata.gif" : "inna.gif");
  }
  bool tenth = false;
  for (int i = 0; i < 200 && !tenth; ++i) tenth = Query(*ext, "Foot&-3").body == Advertisement("dziesiata.gif", "");
  EXPECT_TRUE(tenth);
}

TEST_F(FramesetTest, NoAdvertisementsGiveAnEmptyImage) {
  site.RemoveSetting("Commercials");
  EXPECT_EQ(Query(*ext, "Foot&-3").body, Advertisement("", ""));
}

}  // namespace
}  // namespace portico
