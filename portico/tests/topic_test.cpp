// The Topic page, byte for byte: document text, frameset script, navigation
// line, synchronisation name, static pages, publisher footer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "portico/document.h"
#include "portico/tests/harness.h"
#include "portico/topic.h"

namespace portico {
namespace {

using namespace test;

const std::string kDecl = "\r\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">\r\n";
const std::string kPlainBody = " BACKGROUND=gt.gif BGCOLOR=#FFFFFF";

// The frameset script of a page; `lines` are the navigation lines (catalogue
// documents) and decide the logo line.
std::string Script(const std::string& index, const std::string& lines, bool reserved) {
  return "\r\n<script language=\"JavaScript\"><!--\r\n"
         "if (location.href==top.location.href)\r\n{\r\n"
         "var inframes=" + index + "\r\n"
         "inframes='<A HREF=\"default.htm?'+inframes+'\" TARGET=_top><small><small>zobacz w ramkach</small></small></A><P>';\r\n"
         "document.write(inframes);\r\n"
         "}\r\nelse\r\n{\r\n"
         "while(window.top.VAMUNAV.frames.length<3 && window.top.MAIN.frames.length<2);\r\n"
         "if (window.top.MAIN.VAMUFOOT.location.search==\"?Foot&-3\") "
         "window.top.MAIN.VAMUFOOT.location.href=\"portico.dll?Foot&-4\";\r\n"
         "else window.top.MAIN.VAMUFOOT.location.href=\"portico.dll?Foot&-3\";\r\n" +
         (reserved ? std::string("window.top.GetLogo=\"1\";\r\n") : lines + "window.top.GetLogo=0;\r\n") +
         "window.top.Rebuild();\r\n}\r\n//--></script>\r\n";
}

const std::string kAct =
    "<HTML><HEAD><TITLE>Akt</TITLE></HEAD>\r\n"
    "<!--LINE Search@ Home@ Notes=abc123d01456@ LinkedDoc=K1@-->\r\n"
    "<BODY><P>Tekst <a href=x?main&7 target=MAIN>link</a></P><!-- uwaga -->\r\n"
    "</BODY></HTML>";

struct TopicTest : ::testing::Test {
  TestSite site;
  std::unique_ptr<CPorticoExtension> ext;
  void SetUp() override {
    site.AddBase({
        {"ACTS\\ABC123D01456.HTM", kAct, "K1"},                                            // 0
        {"ABC123O.HTM", "<HTML><BODY>orzeczenia</BODY></HTML>", ""},                      // 1: rulings list of 0
        {"ATTR.HTM", "<HTML><BODY BGCOLOR=#EEEEEE>x</BODY></HTML>", ""},                   // 2
        {"MIXED.HTM", "<HTML><Body>x</Body></HTML>", ""},                                  // 3
        {"SYN.HTM", "<!--LINE Synchro=x@ LinkedOrz=R@ Notes=ABC123D01456--><BODY>s</BODY>", ""},  // 4
        {"EMPTY.HTM", "", ""},                                                             // 5
        {"97D0123.HTM", "<BODY>digits</BODY>", ""},                                        // 6
        {"ZERO.HTM", std::string("<BODY>ab\0cd</BODY>", 18), ""},                          // 7
        {"LATE.HTM", "<HTML></BODY>x<BODY>tail", ""},                                      // 8
        {"OPEN.HTM", "<BODY>a<!-- never closed </BODY>", ""},                              // 9
    });
    site.WriteStatic("Search.htm", "<HTML><BODY>szukaj<!-- kept --></BODY></HTML>");
    site.WriteStatic("Notes.htm", "<HTML><BODY>notatki</BODY></HTML>");
    site.SetSetting("Publisher", "Notice", "Wydawca");
    site.SetSetting("Publisher", "Address", "http://wydawca.example/");
    ext = StartExtension(site);
  }
  const std::string footer =
      "<P><P><FONT COLOR=\"#0000FF\" FACE=\"Arial\" SIZE=\"-2\"><A HREF=\"http://wydawca.example/\" "
      "TARGET=_top>Wydawca</A></FONT>";
};

TEST_F(TopicTest, ActPageByteForByte) {
  Response r = Query(*ext, "Topic&0");
  const std::string lines =
      "window.top.urlNotes=\"ABC123D01456\";\r\n"
      "window.top.TopicSynchro=\"PUBL=VAMU&NAME=ABC00000123D0100000456\";\r\n"
      "window.top.urlRel=\"K1\";\r\n"
      "window.top.urlOr=\"ABC123O\";\r\n";
  EXPECT_EQ(r.result, 1u);
  EXPECT_EQ(r.header, kPageHeader);
  EXPECT_EQ(r.body, "<HTML><HEAD>" + kDecl + "<TITLE>Akt</TITLE></HEAD>\r\n\r\n<BODY" + kPlainBody + ">" +
                        Script("0", lines, false) +
                        "<P>Tekst <a href=x?Topic&7" + std::string(11, ' ') + ">link</a></P>\r\n" + footer + "</BODY></HTML>");
}

TEST_F(TopicTest, NameAndIndexGiveTheSamePage) {
  EXPECT_EQ(Query(*ext, "Topic&ABC123D01456").body, Query(*ext, "Topic&0").body);
}

TEST_F(TopicTest, NameStartingWithDigitsReachesItsItem) {
  Response r = Query(*ext, "Topic&97D0123");
  EXPECT_NE(r.body.find("digits"), std::string::npos) << r.body;
  EXPECT_NE(r.body.find("var inframes=6\r\n"), std::string::npos);
}

TEST_F(TopicTest, DigitLedArgumentThatNamesNoItemIsItsLeadingNumber) {
  EXPECT_EQ(Query(*ext, "Topic&2x").body, Query(*ext, "Topic&2").body);
  EXPECT_EQ(Query(*ext, "Topic&6D0123").body, Query(*ext, "Topic&6").body);
  EXPECT_EQ(Query(*ext, "Topic&97D0123").body, Query(*ext, "Topic&6").body);  // the name wins
}

TEST_F(TopicTest, UnknownNameShowsTheSearchPageAsStored) {
  Response r = Query(*ext, "Topic&NOSUCH");
  EXPECT_EQ(r.body, "<HTML><HEAD>" + kDecl + "</HEAD><BODY" + kPlainBody + ">" + Script("-1", "", true) +
                        "szukaj<!-- kept -->" + footer + "</BODY></HTML>");
}

TEST_F(TopicTest, BodyTagWithAttributesKeepsThem) {
  EXPECT_EQ(Query(*ext, "Topic&2").body, "<HTML><HEAD>" + kDecl + "</HEAD><BODY BGCOLOR=#EEEEEE>" +
                                           Script("2", "", false) + "x" + footer + "</BODY></HTML>");
}

TEST_F(TopicTest, MixedCaseBodyTagGetsNoScript) {
  EXPECT_EQ(Query(*ext, "Topic&3").body, "<HTML><HEAD>" + kDecl + "</HEAD><Body>x</Body></HTML>");
}

TEST_F(TopicTest, SynchroValueAndKeyWithoutAt) {
  Response r = Query(*ext, "Topic&4");
  // Notes has no "@" behind it: an empty value, so no synchronisation name either.
  EXPECT_EQ(r.body, "<BODY" + kPlainBody + ">" +
                        Script("4",
                               "window.top.urlNotes=\"\";\r\n"
                               "window.top.TopicSynchro=\"X\";\r\n"
                               "window.top.urlOr=\"R\";\r\n",
                               false) +
                        "s" + footer + "</BODY>");
}

TEST_F(TopicTest, NotesPageHasNoScript) {
  EXPECT_EQ(Query(*ext, "Topic&-4").body,
            "<HTML><HEAD>" + kDecl + "</HEAD><BODY" + kPlainBody + ">notatki" + footer + "</BODY></HTML>");
}

TEST_F(TopicTest, StaticPagesAreReadOnlyFromInsideTheSiteDirectory) {
  namespace fs = std::filesystem;
  std::ofstream(site.root + "/outside.htm") << "<HTML><BODY>tajne</BODY></HTML>";
  fs::create_directories(site.dir + "/sub");
  std::ofstream(site.dir + "/sub/notes.htm") << "<HTML><BODY>notatki z podkatalogu</BODY></HTML>";
  fs::remove(site.dir + "/Search.htm");
  fs::remove(site.dir + "/Notes.htm");
  fs::create_symlink("../outside.htm", site.dir + "/Search.htm");
  fs::create_symlink(site.root + "/outside.htm", site.dir + "/Home.htm");
  fs::create_symlink("sub/../../outside.htm", site.dir + "/Bookmark.htm");
  fs::create_symlink("sub/notes.htm", site.dir + "/Notes.htm");  // a link that stays inside
  MessageCapture log;
  for (const char* query : {"Topic&-1", "Topic&-2", "Topic&-5"}) {
    Response r = Query(*ext, query);
    EXPECT_EQ(r.result, static_cast<DWORD>(HSE_STATUS_ERROR)) << query;
    EXPECT_EQ(r.body.find("tajne"), std::string::npos) << query;
  }
  EXPECT_EQ(log.lines.size(), 3u);
  EXPECT_NE(Query(*ext, "Topic&-4").body.find("notatki z podkatalogu"), std::string::npos);
  // The installation directory may itself be reached through a link.
  fs::create_directory_symlink(site.dir, site.root + "/link");
  site.SetSetting("Setup", "Dir", site.root + "/link");
  EXPECT_NE(Query(*ext, "Topic&-4").body.find("notatki z podkatalogu"), std::string::npos);
  EXPECT_EQ(Query(*ext, "Topic&-2").body.find("tajne"), std::string::npos);
}

TEST_F(TopicTest, NotADocumentShowsTheNotFoundPage) {
  const std::string page = "<HTML><HEAD>" + kDecl + "<TITLE>Brak tej strony</TITLE></HEAD><BODY" + kPlainBody + ">";
  EXPECT_EQ(Query(*ext, "Topic&-3").body,
            page + Script("-3", "", true) + "<H1>Brak tej strony</H1>" + footer + "</BODY></HTML>");
  EXPECT_EQ(Query(*ext, "Topic&-77").body,
            page + Script("-77", "", true) + "<H1>Brak tej strony</H1>" + footer + "</BODY></HTML>");
  // Missing and empty items: the not-found page with the script of their index.
  EXPECT_EQ(Query(*ext, "Topic&500").body,
            page + Script("500", "", false) + "<H1>Brak tej strony</H1>" + footer + "</BODY></HTML>");
  EXPECT_EQ(Query(*ext, "Topic&5").body,
            page + Script("5", "", false) + "<H1>Brak tej strony</H1>" + footer + "</BODY></HTML>");
}

TEST_F(TopicTest, TextEndsAtItsFirstZeroByte) {
  // The cut text "<BODY>ab" has no closing tag: no footer.
  EXPECT_EQ(Query(*ext, "Topic&7").body, "<BODY" + kPlainBody + ">" + Script("7", "", false) + "ab");
}

TEST_F(TopicTest, ClosingTagBeforeTheBodyTagGivesNoNegativeBody) {
  EXPECT_EQ(Query(*ext, "Topic&8").body,
            "<HTML><HEAD>" + kDecl + "</HEAD></BODY>x<BODY" + kPlainBody + ">" + Script("8", "", false) + "tail");
}

TEST_F(TopicTest, UnterminatedCommentRunsToTheEnd) {
  EXPECT_EQ(Query(*ext, "Topic&9").body, "<BODY" + kPlainBody + ">" + Script("9", "", false) + "a");
}

TEST_F(TopicTest, FooterHasDefaultsWhereNothingIsConfigured) {
  site.RemoveSetting("Publisher");
  EXPECT_EQ(Query(*ext, "Topic&2").body,
            "<HTML><HEAD>" + kDecl + "</HEAD><BODY BGCOLOR=#EEEEEE>" + Script("2", "", false) +
                "x<P><P><FONT COLOR=\"#0000FF\" FACE=\"Arial\" SIZE=\"-2\"><A HREF=\"Home.htm\" TARGET=_top>"
                "Vamu Qad - akty normatywne i orzeczenia</A></FONT></BODY></HTML>");
  site.SetSetting("Publisher", "Address", "http://x.example/?a=\"b\"&c");
  EXPECT_NE(Query(*ext, "Topic&2").body.find("<A HREF=\"http://x.example/?a=&quot;b&quot;&amp;c\" TARGET=_top>"
                                             "Vamu Qad - akty normatywne i orzeczenia</A>"),
            std::string::npos);
}

TEST_F(TopicTest, LargeDocumentIsWrittenInBoundedPieces) {
  TestSite big;
  std::string text = "<HTML><BODY>" + std::string(450000, 'x') + "</BODY></HTML>";
  big.AddBase({{"BIG.HTM", text, ""}});
  auto bigExt = StartExtension(big);
  TestRequest request("Topic&0");
  Response r = Query(*bigExt, request);
  const std::string defaultFooter =
      "<P><P><FONT COLOR=\"#0000FF\" FACE=\"Arial\" SIZE=\"-2\"><A HREF=\"Home.htm\" TARGET=_top>"
      "Vamu Qad - akty normatywne i orzeczenia</A></FONT>";
  EXPECT_EQ(r.body.size(),
            text.size() + kDecl.size() + 13 + kPlainBody.size() + Script("0", "", false).size() + defaultFooter.size());
  for (std::size_t size : request.writeSizes) EXPECT_LE(size, 100000u);
}

TEST_F(TopicTest, ClientGoneMidPageStillEndsTheRequest) {
  TestSite big;
  big.AddBase({{"BIG.HTM", "<HTML><BODY>" + std::string(450000, 'x') + "</BODY></HTML>", ""}});
  auto bigExt = StartExtension(big);
  TestRequest request("Topic&0");
  request.failAfterWrites = 1;
  Response r = Query(*bigExt, request);
  EXPECT_EQ(r.result, 1u);
  EXPECT_EQ(r.status, 200u);
  EXPECT_EQ(request.writeSizes.size(), 1u);
}

TEST(NavigationLine, FixedLinesAndDefaults) {
  TestSite site;
  site.AddBase({{"A.HTM", "<BODY>no line</BODY>", ""}, {"B.HTM", "<!--LINE Notes=n@ x", ""}});
  auto ext = StartExtension(site);
  EXPECT_EQ(NavigationLine(*ext, -1), "Home@ Notes=SrchNotes@ Book=SrchBk&Wyszukiwanie@");
  EXPECT_EQ(NavigationLine(*ext, -2), "Search@ Notes=HmNotes@ Book=HmBk&Strona główna@");
  EXPECT_EQ(NavigationLine(*ext, -4), "");
  EXPECT_EQ(NavigationLine(*ext, 0), "Search@ Home@");
  EXPECT_EQ(NavigationLine(*ext, 1), " Notes=n@ x");
  EXPECT_EQ(NavigationLine(*ext, 9), std::string(kNotFoundPage));
}

}  // namespace
}  // namespace portico
