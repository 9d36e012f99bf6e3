// The reader pages through the extension: the page without frames at every
// address form, its versions, rulings and related acts, the not-found
// pages, the comparison of versions, hostile input, and the link from the
// frameset's document page.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "portico/publications.h"
#include "portico/reader_page.h"
#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;

std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

std::string ActDoc(const std::string& title, const std::string& line, const std::string& articles) {
  return "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD>\r\n<!--LINE Search@ Home@ " + line + " -->\r\n"
         "<!--TOC<HTML><BODY><UL><LI><A HREF=\"portico.dll?Topic&x#H1\">Rozdział I</A><UL>"
         "<LI><A HREF=\"portico.dll?Topic&x#A1\">Art. 1.</A></UL></UL></BODY></HTML>-->\r\n"
         "<BODY>\r\n<H1>Ustawa o próbie</H1>\r\n<A NAME=\"H1\"></A><H3>Rozdział I</H3>\r\n" + articles +
         "</BODY></HTML>\r\n";
}

const std::string kArticle1 =
    "<A NAME=\"A1\"></A><P>Art. 1. 1. Ustęp pierwszy.\r\n<P>2. Ustęp drugi:\r\n<P>1) punkt pierwszy,\r\n"
    "<P>a) litera a,\r\n<P>2) punkt drugi.\r\n";

std::vector<Item> Documents() {
  return {
      {"D97005D97005.HTM",
       ActDoc("Dz.U.97.1.5 - Ustawa o próbie", "Notes=D97005D97005@ LinkedDoc=GRUPA@",
              kArticle1 + "<P>Art. 2. Stare brzmienie artykułu.\r\n"),
       "D97005;GRUPA"},  // 0
      {"D97005D09010.HTM",
       ActDoc("Dz.U.97.1.5 - Ustawa o próbie (zmiana: Dz.U.09.2.10)", "Notes=D97005D09010@ LinkedDoc=GRUPA@",
              kArticle1 + "<P>Art. 2. Nowe brzmienie artykułu.\r\n<P>Art. 2[1]. Dodany.\r\n"),
       "D97005;GRUPA"},  // 1
      {"D98007D98007.HTM", ActDoc("Dz.U.98.3.7 - Kodeks <i>próbny</i>", "LinkedDoc=GRUPA@", "<P>Art. 1. K.\r\n"),
       "D98007;GRUPA"},  // 2
      {"O1100001.HTM",
       "<HTML><HEAD><TITLE>Wyrok TK K 1/11</TITLE>\r\n<META KEYS=\"D97005 ART.2=SENT\r\nD97005 "
       "ART.1UST2PKT1=SENT\r\nD97005 ART.99=SENT\r\n\">\r\n</HEAD><BODY><A NAME=\"SENT\"></A><!--BEGIN--><P>Sentencja "
       "<B>jeden</B> <script>x</script><!--END--></BODY></HTML>",
       "D97005OO"},  // 3
      {"O1100002.HTM",
       "<HTML><HEAD><TITLE>Uchwała SN</TITLE>\r\n<META KEYS=\"D97005 O=R2\r\n\">\r\n</HEAD><BODY>"
       "<A NAME=\"R2\"></A><!--BEGIN-->O całości<!--END--></BODY></HTML>",
       "D97005OO"},  // 4
  };
}

struct ReaderPages : ::testing::Test {
  TestSite site;
  std::unique_ptr<CPorticoExtension> ext;
  void SetUp() override {
    site.AddBase(Documents());
    site.WriteStatic("Home.htm", "<HTML><BODY>start</BODY></HTML>");
    ext = StartExtension(site);
  }
  Response Get(const std::string& path, const std::string& query = "") {
    TestRequest request(query);
    request.variables["URL"] = path;
    return Query(*ext, request);
  }
  std::string Page(const std::string& path, const std::string& query = "") {
    Response r = Get(path, query);
    EXPECT_EQ(r.statusText, "200 OK") << path;
    EXPECT_EQ(r.header, "Content-type: text/html; charset=utf-8\r\n\r\n") << path;
    return r.body;
  }
};

bool Has(const std::string& page, const std::string& text) { return page.find(text) != std::string::npos; }

TEST_F(ReaderPages, TextInForceWithVersionsContentsRulingsAndRelatedActs) {
  const std::string page = Page("/eli/DU/1997/5");
  EXPECT_EQ(page.rfind("<!DOCTYPE html>\n<html lang=\"pl\">\n<head>\n<meta charset=\"utf-8\">", 0), 0u) << page;
  EXPECT_TRUE(Has(page, U8(u8"<h1>Ustawa o próbie</h1>")));
  EXPECT_TRUE(Has(page, "<p class=\"cite\">Dz.U. 1997 nr 1 poz. 5, po zmianie: Dz.U. 2009 nr 2 poz. 10</p>"));
  // Versions: both linked, the one shown marked.
  EXPECT_TRUE(Has(page, "<li><a href=\"/eli/DU/1997/5/pierwotny\">tekst pierwotny</a></li>"));
  EXPECT_TRUE(Has(page, "<li><a href=\"/eli/DU/1997/5/po/DU/2009/10\" aria-current=\"page\">po zmianie: Dz.U. 2009 nr 2 poz. 10</a>"));
  EXPECT_TRUE(Has(page, "<a href=\"/eli/DU/1997/5/zmiany?z=pierwotny&amp;na=DU/2009/10\">"));
  // The document's own contents, linked to its anchors in the text.
  EXPECT_TRUE(Has(page, U8(u8"<li><a href=\"#d-H1\">Rozdział I</a>\n<ul>\n<li><a href=\"#d-A1\">Art. 1.</a></li>")));
  EXPECT_TRUE(Has(page, "<h3><span id=\"d-H1\"></span>"));
  // Articles as sections with headings; units with their ids.
  EXPECT_TRUE(Has(page, "<section class=\"art\" id=\"art-1\" aria-labelledby=\"art-1-h\">\n<h4 id=\"art-1-h\"><span id=\"d-A1\"></span>Art. 1.</h4>"));
  EXPECT_TRUE(Has(page, U8(u8"<p id=\"art-1-ust-1\">1. Ustęp pierwszy.</p>")));
  EXPECT_TRUE(Has(page, "<p id=\"art-1-ust-2-pkt-1\" class=\"u-pkt\">1) punkt pierwszy,"));
  EXPECT_TRUE(Has(page, "<p id=\"art-1-ust-2-pkt-1-lit-a\" class=\"u-lit\">a) litera a,</p>"));
  EXPECT_TRUE(Has(page, "<section class=\"art\" id=\"art-2(1)\" aria-labelledby=\"art-2(1)-h\">\n<h4 id=\"art-2(1)-h\">Art. 2<sup>1</sup>.</h4>"));
  EXPECT_TRUE(Has(page, U8(u8"Nowe brzmienie artykułu.")));
  EXPECT_FALSE(Has(page, "Stare brzmienie"));
  // The ruling on art. 2 and art. 1 ust. 2 pkt 1: a marker linking to it at
  // both places, the ruling in place, linking back to both.
  EXPECT_TRUE(Has(page, "<a class=\"m\" href=\"#o-art-2\" aria-label=\"Orzeczenia do art. 2: 1\">orzeczenia (1)</a>"));
  EXPECT_TRUE(Has(page, "<a class=\"m\" href=\"#o-art-1-ust-2-pkt-1\""));
  EXPECT_TRUE(Has(page, "<details class=\"orz\" id=\"o-art-2\"><summary>Orzeczenia do art. 2 (1)</summary>"));
  const std::string backLinks = "Dotyczy: <a href=\"#art-2\">art. 2</a>, <a href=\"#art-1-ust-2-pkt-1\">art. 1 ust. 2 pkt 1</a>, art. 99</p>";
  EXPECT_TRUE(Has(page, backLinks)) << "art. 99 is not in the text: named, not linked";
  EXPECT_TRUE(Has(page, "<div class=\"os\"><p>Sentencja <b>jeden</b></p></div>")) << "the section, without its script";
  // The ruling on the whole act, once, near the top.
  EXPECT_TRUE(Has(page, U8(u8"<details class=\"orz\" id=\"o-akt\"><summary>Orzeczenia dotyczące całego aktu (1)</summary>")));
  EXPECT_TRUE(Has(page, U8(u8"Uchwała SN</a></p>\n<div class=\"os\"><p>O całości</p></div>\n<p class=\"od\">Dotyczy: całego aktu</p>")))
      << page.substr(page.find("o-akt"), 600);
  // The related act by its address and title (tags in the title are no markup of the page).
  EXPECT_TRUE(Has(page, U8(u8"<li><a href=\"/eli/DU/1998/7\">Kodeks próbny</a></li>")));
  EXPECT_FALSE(Has(page, "<script"));
}

TEST_F(ReaderPages, EveryVersionAddressAndProvisionAddress) {
  EXPECT_EQ(Page("/eli/DU/1997/5"), Page("/eli/DU/1997/5/po/DU/2009/10")) << "the in-force text is the last version";
  const std::string first = Page("/eli/DU/1997/5/pierwotny");
  EXPECT_TRUE(Has(first, "Stare brzmienie"));
  EXPECT_TRUE(Has(first, "aria-current=\"page\">tekst pierwotny</a>"));
  EXPECT_FALSE(Has(first, "zmiany?z=")) << "the first text has no version before it";

  const std::string point = Page("/eli/DU/1997/5/art/1/ust/2/pkt/1");
  EXPECT_TRUE(Has(point, "<p id=\"art-1-ust-2-pkt-1\" class=\"u-pkt\">1) punkt pierwszy,"));
  EXPECT_TRUE(Has(point, "a) litera a,")) << "a point shows its letters";
  EXPECT_FALSE(Has(point, "punkt drugi"));
  EXPECT_FALSE(Has(point, "Spis tre")) << "a provision has no table of contents";
  EXPECT_TRUE(Has(point, "<a href=\"/eli/DU/1997/5/pierwotny/art/1/ust/2/pkt/1\">tekst pierwotny</a>"));
  EXPECT_TRUE(Has(point, "<link rel=\"canonical\" href=\"/eli/DU/1997/5/po/DU/2009/10/art/1/ust/2/pkt/1\">"));
  // Back links of a ruling leave a provision page for the provision's address.
  EXPECT_TRUE(Has(point, "<a href=\"/eli/DU/1997/5/po/DU/2009/10/art/2\">art. 2</a>"));

  const std::string sup = Page("/eli/DU/1997/5/art/2(1)");
  EXPECT_TRUE(Has(sup, "Dodany."));
  EXPECT_TRUE(Has(Page("/eli/DU/1997/5/art/1/ust/1"), U8(u8"1. Ustęp pierwszy.")));
}

TEST_F(ReaderPages, WhatIsNotFoundIsNamedWithALinkToTheSearch) {
  struct Case {
    const char* path;
    std::string said;
  };
  for (const Case& c : std::vector<Case>{
           {"/eli/DU/1997/6", "akt Dz.U. 1997 poz. 6"},
           {"/eli/MP/1997/5", "akt M.P. 1997 poz. 5"},
           {"/eli/DU/1997/5/po/DU/2009/11", "wersja aktu Dz.U. 1997 poz. 5 po zmianie Dz.U. 2009 poz. 11"},
           {"/eli/DU/1998/7/art/2", "art. 2 w akcie Dz.U. 1998 poz. 7"},
           {"/eli/DU/1997/5/pierwotny/art/2(1)", "art. 2(1) w akcie Dz.U. 1997 poz. 5"},
           {"/eli/DU/1997/5/art/1/ust/3", "art. 1 ust. 3 w akcie Dz.U. 1997 poz. 5"},
           {"/eli/DU/1997/5/art/x", "adres /eli/DU/1997/5/art/x"},
           {"/eli/", "adres /eli/"},
           {"/nic", "adres /nic"},
       }) {
    Response r = Get(c.path);
    EXPECT_EQ(r.statusText, "404 Not Found") << c.path;
    EXPECT_TRUE(Has(r.body, "<strong>" + c.said + "</strong>")) << c.path << "\n" << r.body;
    EXPECT_TRUE(Has(r.body, "<a href=\"/Search.htm\">")) << c.path;
  }
  EXPECT_TRUE(Has(Get("/eli/DU/1997/5/art/1/ust/3").body, U8(u8"<a href=\"/eli/DU/1997/5/po/DU/2009/10\">cały akt</a>")));
}

TEST_F(ReaderPages, ChangesBetweenVersionsArticleByArticle) {
  const std::string page = Page("/eli/DU/1997/5/zmiany", "z=pierwotny&na=DU%2F2009%2F10");
  EXPECT_TRUE(Has(page, U8(u8"<p class=\"sum\">Zmienione: 1, dodane: 1, usunięte: 0, bez zmian: 1.</p>")));
  EXPECT_TRUE(Has(page, U8(u8"<p class=\"old\">Art. 2. <del>Stare</del> brzmienie artykułu.</p>")));
  EXPECT_TRUE(Has(page, U8(u8"<p class=\"new\">Art. 2. <ins>Nowe</ins> brzmienie artykułu.</p>")));
  EXPECT_TRUE(Has(page, "<h3>Art. 2<sup>1</sup> (dodany)</h3>"));
  EXPECT_TRUE(Has(page, "<p class=\"new\"><ins>Art. 2[1]. Dodany.</ins></p>"));
  EXPECT_FALSE(Has(page, "Art. 1 (")) << "unchanged articles are counted, not shown";
  // The other way round the article is removed; the defaults compare the
  // text in force with the version before it.
  const std::string back = Page("/eli/DU/1997/5/zmiany", "z=DU/2009/10&na=pierwotny");
  EXPECT_TRUE(Has(back, U8(u8"<h3>Art. 2<sup>1</sup> (usunięty)</h3>")));
  EXPECT_EQ(Page("/eli/DU/1997/5/zmiany"), Page("/eli/DU/1997/5/zmiany", "z=pierwotny&na=obowiazujacy"));
  EXPECT_EQ(Get("/eli/DU/1997/5/zmiany", "z=DU/2009/11").statusText, "404 Not Found");
  EXPECT_EQ(Get("/eli/DU/1997/5/zmiany", "na=DU/2009").statusText, "400 Bad Request");
  EXPECT_EQ(Get("/eli/DU/1997/6/zmiany").statusText, "404 Not Found");
}

TEST_F(ReaderPages, HostileAddressesAndFieldsAreRefusedAndNeverReflectedRaw) {
  const std::vector<std::pair<std::string, std::string>> requests = {
      {"/eli/DU/1997/5/art/<script>alert(1)</script>", ""},
      {"/eli/DU/1997/5/zmiany", "z=<script>alert(1)</script>"},
      {"/eli/DU/1997/5/zmiany", "na=%3Cscript%3Ealert(1)%3C/script%3E"},
      {"/eli/DU/1997/5/zmiany", "z=%22%3E%3Cimg%20src=x%20onerror=alert(1)%3E"},
      {"/eli/\"><img src=x onerror=alert(1)>", ""},
      {"/eli/DU/1997/5/art/" + std::string(20000, '9'), ""},
      {"/eli/DU/1997/5/zmiany", "z=%FF%FE&na=%C0%AF"},
      {"/eli/DU/1997/5/zmiany", "z&na&z=&na=%"},
      {"/eli/DU/99999999999999999999/5", ""},
      {"/eli/DU/1997/5/po/DU/1997/5", ""},
      {"/\xFF\xFE<b>", ""},
  };
  for (const auto& [path, query] : requests) {
    Response r = Get(path, query);
    EXPECT_TRUE(r.statusText == "404 Not Found" || r.statusText == "400 Bad Request") << path << "?" << query;
    EXPECT_FALSE(Has(r.body, "<script")) << path << "?" << query;
    EXPECT_FALSE(Has(r.body, "<img")) << path << "?" << query;
    EXPECT_LT(r.body.size(), 5000u) << "nothing long is reflected";
  }
  // Fields without names or values are no fields: the defaults answer.
  EXPECT_EQ(Get("/eli/DU/1997/5/zmiany", std::string(100000, '&')).statusText, "200 OK");
}

// Sets a file's modification time (seconds since 1970).
void SetFileTime(const std::string& path, std::time_t t) {
  const struct timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Whether iconv takes the text as UTF-8 from end to end.
bool IsUtf8(const std::string& text) {
  iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  std::string in = text;
  char* pin = in.data();
  std::size_t inLeft = in.size();
  bool ok = true;
  while (inLeft > 0 && ok) {
    char out[4096];
    char* pout = out;
    std::size_t outLeft = sizeof out;
    ok = iconv(cd, &pin, &inLeft, &pout, &outLeft) != static_cast<std::size_t>(-1) || errno == E2BIG;
  }
  iconv_close(cd);
  return ok;
}

// Every segment of every address and every field of every page and API
// operation, given each hostile value in turn: the answer is a page of its
// own kind (HTML in UTF-8, or JSON that parses, with the status in it), a
// 200, 400 or 404, with no markup and nothing long taken from the request.
TEST_F(ReaderPages, HostileValueInEverySegmentAndFieldOfEveryAddress) {
  const std::vector<std::string> values = {
      "<script>alert(1)</script>", "%3Cscript%3Ealert(1)%3C%2Fscript%3E", "\"><img src=x onerror=alert(1)>",
      "'><img src=x>", "%FF%FE", "\xFF\xFE\xC0\xAF", "%00", std::string("a\0b", 3), std::string(3000, '9'),
      "-1", "0", "99999999999999999999", "4294967297", "../../../etc/passwd", "..%2F..%2Fetc%2Fpasswd", "%",
      "%G1", "", " 1", "1e3", "(", ")(", "22(", "22()", "22(1", "DU/2009/10<b>", "&", "=", "%26z%3D1"};
  const std::vector<std::string> paths = {
      "/eli/{}", "/eli/{}/1997/5", "/eli/DU/{}/5", "/eli/DU/1997/{}", "/eli/DU/1997/5/{}",
      "/eli/DU/1997/5/po/{}/2009/10", "/eli/DU/1997/5/po/DU/{}/10", "/eli/DU/1997/5/po/DU/2009/{}",
      "/eli/DU/1997/5/po/DU/2009/10/{}", "/eli/DU/1997/5/art/{}", "/eli/DU/1997/5/art/1/{}",
      "/eli/DU/1997/5/art/1/ust/{}", "/eli/DU/1997/5/art/1/ust/2/pkt/{}", "/eli/DU/1997/5/art/1/ust/2/pkt/1/lit/{}",
      "/eli/DU/1997/5/art/1/ust/2/pkt/1/lit/a/{}", "/eli/DU/1997/5/pierwotny/art/{}", "/eli/DU/1997/5/zmiany/{}",
      "/feed/{}", "/sitemap.xml{}", "/robots.txt/{}", "/api/{}", "/api/v1/{}", "/api/v1/akty/{}/1997",
      "/api/v1/akty/DU/{}", "/api/v1/akty/DU/1997/{}", "/api/v1/szukaj/{}"};
  const std::vector<std::pair<std::string, std::vector<std::string>>> fields = {
      {"/eli/DU/1997/5/zmiany", {"z", "na"}},
      {"/api/v1/akty/DU/1997", {"start", "dlugosc"}},
      {"/api/v1/szukaj",
       {"q", "dziennik", "rok_od", "rok_do", "poz_od", "poz_do", "nr_od", "nr_do", "zmiany", "start", "dlugosc"}},
      {"/eli/DU/1997/5", {"z", "<script>"}},
      {"/api/v1/eli/DU/1997/5", {"q", "<script>"}},
  };
  std::vector<std::pair<std::string, std::string>> requests;
  for (const std::string& value : values) {
    for (const std::string& path : paths) {
      std::string p = path;
      p.replace(p.find("{}"), 2, value);
      requests.emplace_back(p, "");
      if (path.rfind("/eli/", 0) == 0) requests.emplace_back("/api/v1" + p, "");
    }
    for (const auto& [path, names] : fields)
      for (const std::string& name : names) requests.emplace_back(path, name + "=" + value);
  }
  for (const auto& [path, query] : requests) {
    SCOPED_TRACE(path + "?" + query);
    Response r = Get(path, query);
    ASSERT_TRUE(r.statusText == "200 OK" || r.statusText == "404 Not Found" || r.statusText == "400 Bad Request")
        << r.statusText;
    EXPECT_FALSE(Has(r.body, "<script")) << r.body.substr(0, 2000);
    EXPECT_FALSE(Has(r.body, "<img")) << r.body.substr(0, 2000);
    EXPECT_TRUE(IsUtf8(r.body));
    if (path.rfind("/api/", 0) == 0) {
      EXPECT_EQ(r.header, "Content-type: application/json; charset=utf-8\r\n\r\n");
      nlohmann::json j = nlohmann::json::parse(r.body, nullptr, false);
      ASSERT_FALSE(j.is_discarded()) << r.body.substr(0, 2000);
      if (r.statusText != "200 OK") {
        EXPECT_EQ(j.value("status", 0), std::stoi(r.statusText));
      } else if (query.rfind("q=", 0) == 0) {
        j.erase("q");  // the search names the query it ran: the one field given back whole
      }
      EXPECT_FALSE(Has(j.dump(), std::string(300, '9'))) << "a long value is not repeated";
    } else if (path.rfind("/eli/", 0) == 0) {
      EXPECT_EQ(r.header, "Content-type: text/html; charset=utf-8\r\n\r\n");
      EXPECT_EQ(r.body.rfind("<!DOCTYPE html>", 0), 0u);
    }
    if (path.rfind("/api/", 0) != 0) {
      EXPECT_FALSE(Has(r.body, std::string(300, '9'))) << "a long value is not repeated";
    }
  }
  // The extension goes on answering.
  EXPECT_TRUE(Has(Page("/eli/DU/1997/5/art/2"), "Nowe brzmienie"));
}

TEST_F(ReaderPages, FramesetDocumentLinksToThePageWithoutFrames) {
  Response act = Query(*ext, "Topic&1");
  const std::string link = "//--></script>\r\n<A HREF=\"/eli/DU/1997/5/po/DU/2009/10\" TARGET=_top>wersja bez ramek</A>\r\n\r\n<H1>";
  EXPECT_TRUE(Has(act.body, link)) << act.body.substr(0, 2000);
  EXPECT_TRUE(Has(Query(*ext, "Topic&0").body, "<A HREF=\"/eli/DU/1997/5/pierwotny\" TARGET=_top>wersja bez ramek</A>"));
  EXPECT_FALSE(Has(Query(*ext, "Topic&3").body, "wersja bez ramek")) << "a ruling is no act";
  EXPECT_FALSE(Has(Query(*ext, "Topic&-2").body, "wersja bez ramek"));
  // The frameset's own requests stay with the command table.
  TestRequest legacy("Topic&0");
  legacy.variables["URL"] = "/portico.dll";
  EXPECT_TRUE(Has(Query(*ext, legacy).body, "window.top.Rebuild()"));
}

}  // namespace
}  // namespace portico

namespace portico {
namespace {

using namespace test;

TEST(PublicationRecord, ReadsBackWhatItWritesAndSkipsWhatItDoesNotKnow) {
  PublicationRecord r;
  r.known = {"DU/1997/5/pierwotny", "MP/2001/7/po/DU/2002/9"};
  r.publications = {{100, {"DU/1997/5/pierwotny"}}, {200, {"MP/2001/7/po/DU/2002/9"}}};
  const std::string text = WriteRecord(r);
  EXPECT_EQ(text, "VAMU-PUBLICATIONS 1\nK DU/1997/5/pierwotny\nK MP/2001/7/po/DU/2002/9\nP 100\n"
                  "N DU/1997/5/pierwotny\nP 200\nN MP/2001/7/po/DU/2002/9\n");
  PublicationRecord back = ReadRecord(text);
  EXPECT_EQ(back.known, r.known);
  ASSERT_EQ(back.publications.size(), 2u);
  EXPECT_EQ(back.publications[1].time, 200);
  EXPECT_EQ(back.publications[1].added, r.publications[1].added);
  // Damage: unknown lines, paths that are no address, a time that is no number.
  PublicationRecord damaged = ReadRecord("VAMU-PUBLICATIONS 1\nK ../../etc\nK DU/1997/5/pierwotny\nX y\nP 1x\nN DU/1997/6/pierwotny\n"
                                         "P 5\nN <b>\nN DU/1997/6/pierwotny\n");
  EXPECT_EQ(damaged.known, (std::set<std::string>{"DU/1997/5/pierwotny"}));
  ASSERT_EQ(damaged.publications.size(), 1u);
  EXPECT_EQ(damaged.publications[0].added, std::vector<std::string>{"DU/1997/6/pierwotny"});
  EXPECT_TRUE(ReadRecord("something else\nK DU/1997/5/pierwotny\n").known.empty());
}

TEST(PublicationRecord, APublicationIsWhatTheTableHasAndTheRecordHadNot) {
  PublicationRecord r;
  r.known = {"DU/1997/5/pierwotny"};
  PublicationRecord same = Advance(r, {"DU/1997/5/pierwotny"}, 50);
  EXPECT_TRUE(same.publications.empty());
  PublicationRecord more = Advance(r, {"DU/1997/5/pierwotny", "DU/1997/5/po/DU/2009/10", "DU/1998/7/pierwotny"}, 60);
  ASSERT_EQ(more.publications.size(), 1u);
  EXPECT_EQ(more.publications[0].time, 60);
  EXPECT_EQ(more.publications[0].added, (std::vector<std::string>{"DU/1997/5/po/DU/2009/10", "DU/1998/7/pierwotny"}));
  // Removed versions are forgotten; at most kKeptPublications are kept.
  PublicationRecord fewer = Advance(more, {"DU/1998/7/pierwotny"}, 70);
  EXPECT_EQ(fewer.known, (std::set<std::string>{"DU/1998/7/pierwotny"}));
  EXPECT_EQ(fewer.publications.size(), 1u);
  PublicationRecord many;
  for (int i = 1; i <= 30; ++i) many = Advance(many, {"DU/1997/" + std::to_string(i) + "/pierwotny"}, i);
  ASSERT_EQ(many.publications.size(), kKeptPublications);
  EXPECT_EQ(many.publications.front().time, 30 - static_cast<std::int64_t>(kKeptPublications) + 1);
}

std::string host_read(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "(none)";
  std::string s;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  std::fclose(f);
  return s;
}

TEST_F(ReaderPages, SitemapRobotsAndTheFeedOfNewActs) {
  TestRequest sitemap("");
  sitemap.variables = {{"URL", "/sitemap.xml"}, {"HTTP_HOST", "prawo.example:8090"}};
  Response map = Query(*ext, sitemap);
  EXPECT_EQ(map.header, "Content-type: application/xml; charset=utf-8\r\n\r\n");
  std::vector<std::string> locs;
  for (std::size_t at = map.body.find("<loc>"); at != std::string::npos; at = map.body.find("<loc>", at + 1))
    locs.push_back(map.body.substr(at + 5, map.body.find("</loc>", at) - at - 5));
  EXPECT_EQ(locs, (std::vector<std::string>{"http://prawo.example:8090/eli/DU/1997/5",
                                            "http://prawo.example:8090/eli/DU/1997/5/pierwotny",
                                            "http://prawo.example:8090/eli/DU/1997/5/po/DU/2009/10",
                                            "http://prawo.example:8090/eli/DU/1998/7",
                                            "http://prawo.example:8090/eli/DU/1998/7/pierwotny"}));

  // All fit in one file: its only part is the same file; no other part.
  TestRequest first("czesc=1");
  first.variables = sitemap.variables;
  EXPECT_EQ(Query(*ext, first).body, map.body);
  for (const char* part : {"czesc=2", "czesc=0", "czesc=01", "czesc=x", "czesc=99999999999", "czesc="}) {
    TestRequest other(part);
    other.variables = sitemap.variables;
    EXPECT_EQ(Query(*ext, other).statusText, "404 Not Found") << part;
  }

  TestRequest robots("");
  robots.variables = {{"URL", "/robots.txt"}, {"HTTP_HOST", "\"><script>"}, {"SERVER_NAME", "serwer.example"}, {"SERVER_PORT", "80"}};
  Response r = Query(*ext, robots);
  EXPECT_EQ(r.header, "Content-type: text/plain; charset=utf-8\r\n\r\n");
  EXPECT_TRUE(Has(r.body, "\nDisallow: /portico.dll\n"));
  EXPECT_TRUE(Has(r.body, "Sitemap: http://serwer.example/sitemap.xml\n")) << "a hostile Host field is not used";

  // The first look at the table is the first publication: everything is new,
  // dated when the base was published (its file's time), not when asked.
  SetFileTime(site.root + "/base0.vq", 1767323045);  // 2026-01-02 03:04:05 UTC
  TestRequest feed("");
  feed.variables = {{"URL", "/feed/nowe.atom"}, {"HTTP_HOST", "prawo.example"}};
  Response atom = Query(*ext, feed);
  EXPECT_EQ(atom.header, "Content-type: application/atom+xml; charset=utf-8\r\n\r\n");
  EXPECT_EQ(atom.body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\"", 0), 0u);
  EXPECT_TRUE(Has(atom.body, "<entry>\n<id>http://prawo.example/eli/DU/1997/5/pierwotny</id>\n<title>" + U8(u8"Ustawa o próbie") + "</title>"));
  EXPECT_TRUE(Has(atom.body, "<summary>Dz.U. 1997 nr 1 poz. 5, po zmianie: Dz.U. 2009 nr 2 poz. 10</summary>"));
  EXPECT_TRUE(Has(atom.body, "<id>http://prawo.example/eli/DU/1998/7/pierwotny</id>"));
  EXPECT_TRUE(Has(atom.body, "</title>\n<updated>2026-01-02T03:04:05Z</updated>\n<author>")) << "the feed's time";
  EXPECT_TRUE(Has(atom.body, "</title>\n<updated>2026-01-02T03:04:05Z</updated>\n<link rel=\"alternate\" type=\"text/html\" "
                             "href=\"http://prawo.example/eli/DU/1998/7/pierwotny\"/>"))
      << atom.body;

  // A later publication adds an act: the next life of the extension lists it first.
  ext.reset();
  SetFileTime(site.AddBase({{"D99001D99001.HTM", "<HTML><HEAD><TITLE>Dz.U.99.1.1 - Nowa ustawa</TITLE></HEAD><BODY><P>Art. 1. X.</BODY></HTML>", "D99001"}}),
              1767409445);  // a day later
  ext = StartExtension(site);
  TestRequest again("");
  again.variables = feed.variables;
  Response next = Query(*ext, again);
  const std::size_t firstEntry = next.body.find("<entry>");
  ASSERT_NE(firstEntry, std::string::npos);
  EXPECT_EQ(next.body.find("<id>http://prawo.example/eli/DU/1999/1/pierwotny</id>"), firstEntry + 8)
      << next.body << "\nrecord:\n" << host_read(site.root + "/biblion.pub");
  EXPECT_TRUE(Has(next.body, "<id>http://prawo.example/eli/DU/1997/5/pierwotny</id>")) << "the earlier publication follows";
  EXPECT_TRUE(Has(next.body, "Vamu Qad \xE2\x80\x93 nowe akty</title>\n<updated>2026-01-03T03:04:05Z</updated>"));
  EXPECT_TRUE(Has(next.body, "<id>http://prawo.example/eli/DU/1999/1/pierwotny</id>\n<title>Nowa ustawa</title>\n"
                             "<updated>2026-01-03T03:04:05Z</updated>"));
  EXPECT_TRUE(Has(next.body, "<id>http://prawo.example/eli/DU/1997/5/pierwotny</id>\n<title>" + U8(u8"Ustawa o próbie") +
                             "</title>\n<updated>2026-01-02T03:04:05Z</updated>"))
      << "the earlier publication keeps its date";
}

// More addresses than a file holds: an index of the parts, each part its
// share in order, nothing beyond the last.
TEST(Sitemap, AddressesBeyondOneFileGoIntoPartsNamedByAnIndex) {
  const std::vector<std::string> addresses = {"/eli/DU/1997/5", "/eli/DU/1997/5/pierwotny", "/eli/DU/1997/5/po/DU/2009/10",
                                              "/eli/DU/1998/7", "/eli/DU/1998/7/pierwotny"};
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::string ns = " xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
  EXPECT_EQ(SitemapXml("http://h", addresses, 0, 2),
            head + "<sitemapindex" + ns + "<sitemap><loc>http://h/sitemap.xml?czesc=1</loc></sitemap>\n" +
                "<sitemap><loc>http://h/sitemap.xml?czesc=2</loc></sitemap>\n" +
                "<sitemap><loc>http://h/sitemap.xml?czesc=3</loc></sitemap>\n</sitemapindex>\n");
  EXPECT_EQ(SitemapXml("http://h", addresses, 2, 2),
            head + "<urlset" + ns + "<url><loc>http://h/eli/DU/1997/5/po/DU/2009/10</loc></url>\n" +
                "<url><loc>http://h/eli/DU/1998/7</loc></url>\n</urlset>\n");
  EXPECT_EQ(SitemapXml("http://h", addresses, 3, 2),
            head + "<urlset" + ns + "<url><loc>http://h/eli/DU/1998/7/pierwotny</loc></url>\n</urlset>\n");
  EXPECT_EQ(SitemapXml("http://h", addresses, 4, 2), std::nullopt);
  // Exactly one file's worth: the file itself, also as its part 1.
  const std::optional<std::string> whole = SitemapXml("http://h", addresses, 0, 5);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->find("<sitemapindex"), std::string::npos);
  EXPECT_EQ(std::count(whole->begin(), whole->end(), '\n'), 8);
  EXPECT_EQ(SitemapXml("http://h", addresses, 1, 5), whole);
  EXPECT_EQ(SitemapXml("http://h", addresses, 2, 5), std::nullopt);
  // No acts: an empty file.
  EXPECT_EQ(SitemapXml("http://h", {}, 0, 5), head + "<urlset" + ns + "</urlset>\n");
}

TEST_F(ReaderPages, ApiAnswersInJsonAndRefusesWhatItDoesNotTake) {
  Response act = Get("/api/v1/eli/DU/1997/5");
  EXPECT_EQ(act.statusText, "200 OK");
  EXPECT_EQ(act.header, "Content-type: application/json; charset=utf-8\r\n\r\n");
  EXPECT_TRUE(Has(act.body, "\"adres\":\"/eli/DU/1997/5\""));
  EXPECT_TRUE(Has(act.body, U8(u8"\"tytul\":\"Ustawa o próbie\"")));
  EXPECT_TRUE(Has(act.body, "{\"adres\":\"/eli/DU/1997/5/po/DU/2009/10/art/2\",\"orzeczenia\":[0],\"przepis\":\"art. 2\"}"));
  Response provision = Get("/api/v1/eli/DU/1997/5/pierwotny/art/2");
  EXPECT_TRUE(Has(provision.body, "\"tekst\":\"Art. 2. Stare brzmienie artyku\xC5\x82u.\""));
  for (const auto& [path, query, status] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"/api/v1/eli/DU/1997/6", "", "404 Not Found"},
           {"/api/v1/eli/DU/1997/5/art/9", "", "404 Not Found"},
           {"/api/v1/eli/DU/1997/5/zmiany", "", "404 Not Found"},
           {"/api/v2/eli/DU/1997/5", "", "404 Not Found"},
           {"/api/v1/akty/DU/19975", "", "404 Not Found"},
           {"/api/v1/akty/DU/1997", "start=0", "400 Bad Request"},
           {"/api/v1/szukaj", "q=%C0%AF", "400 Bad Request"},
           {"/api/v1/szukaj", "rok_od=1959", "400 Bad Request"},
           {"/api/v1/szukaj", "zmiany=3", "400 Bad Request"},
           {"/api/v1/<script>", "", "404 Not Found"},
       }) {
    Response r = Get(path, query);
    EXPECT_EQ(r.statusText, status) << path << "?" << query;
    EXPECT_EQ(r.header, "Content-type: application/json; charset=utf-8\r\n\r\n") << path;
    EXPECT_FALSE(Has(r.body, "<script>")) << path;
  }
  // Across 2000 both ranges are searched; one document per version (zmiany=2).
  Response found = Get("/api/v1/szukaj", "q=brzmienie&rok_od=1990&rok_do=2010&zmiany=2");
  EXPECT_TRUE(Has(found.body, "\"razem\":2")) << found.body;
  EXPECT_TRUE(Has(found.body, "\"adres_wersji\":\"/eli/DU/1997/5/po/DU/2009/10\"")) << found.body;
  EXPECT_TRUE(Has(Get("/api/v1/szukaj", "q=brzmienie&rok_od=1998&rok_do=2010&zmiany=2").body, "\"razem\":0"));
  // A query over the budget of a search (25 patterns with wildcards at both
  // ends, each a walk of the whole word table) is refused as the page refuses it.
  std::string walks;
  for (char c = 'a'; c < 'a' + 25; ++c) walks += std::string(walks.empty() ? "" : "%20") + "*" + c + "*";
  Response refused = Get("/api/v1/szukaj", "q=" + walks);
  EXPECT_EQ(refused.statusText, "400 Bad Request");
  EXPECT_TRUE(Has(refused.body, U8(u8"zbyt złożone"))) << refused.body;
  EXPECT_EQ(Get("/api/v1/szukaj", "q=" + walks.substr(0, walks.rfind("%20"))).statusText, "200 OK");
}

}  // namespace
}  // namespace portico
