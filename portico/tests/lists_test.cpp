// Related acts (LinkedDoc), the rulings list (LinkedOrz) and the document-list writer.
#include <gtest/gtest.h>

#include <string>

#include "portico/doc_list.h"
#include "portico/document.h"
#include "portico/request.h"
#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;

const std::string kDecl = "\r\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">\r\n";
const std::string kHead =
    "<HTML><HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\"></HEAD><BODY "
    "BGCOLOR=\"#FFFFFF\">";

std::string Entry(const std::string& name, const std::string& title) {
  return "<LI><A HREF=portico.dll?Topic&" + name + " TARGET=VAMUTEXT>" + title + "</A><P>\r\n";
}

struct ListTest : ::testing::Test {
  TestSite site;
  std::unique_ptr<CPorticoExtension> ext;
  void SetUp() override {
    site.AddBase({
        {"DU\\97D0123.HTM", "<HTML><HEAD><TITLE>Ustawa o czymś</TITLE></HEAD>", "K"},            // 0
        {"A1.HTM", "<html><head><title>Małe Litery</title></head>", "K"},                       // 1
        {"NOTITLE.HTM", "<HTML><BODY>bez</BODY></HTML>", "K"},                                  // 2
        {"1234.HTM", "<HTML><TITLE>Liczba</TITLE>", "K"},                                       // 3
        {"LATE.HTM", "<HTML><TITLE>" + Noise(5000) + "</TITLE>", "K;L"},            // 4
        {"OTHER.HTM", "<TITLE>inny</TITLE>", "M"},                                              // 5
        {"ORZ.HTM", "<HTML><!-- c --><BODY>lista<!-- d --></BODY></HTML>", ""},                 // 6
        {"ORZA.HTM", "<HTML><BODY BGCOLOR=#EEEEEE>lista</BODY></HTML>", ""},                    // 7
        {"ORZN.HTM", "<HTML>brak ciała</HTML>", ""},                                            // 8
    });
    ext = StartExtension(site);
  }
};

TEST_F(ListTest, RelatedActsLeaveOutTheGivenItem) {
  Response r = Query(*ext, "LinkedDoc&K&2");
  EXPECT_EQ(r.result, 1u);
  EXPECT_EQ(r.header, kPageHeader);
  // Names with a directory and an extension link by name; a name that would
  // read as an index links by index; a title beyond the bytes read is missing.
  EXPECT_EQ(r.body, kHead + "Akty Powiązane (4 pozycji)<P><UL>\r\n" + Entry("97D0123", "Ustawa o czymś") +
                        Entry("A1", "Małe Litery") + Entry("3", "Liczba") + Entry("LATE", "Bez tytułu") +
                        "</UL>\r\n</BODY></HTML>");
}

TEST_F(ListTest, WithoutExclusionNothingIsLeftOut) {
  // No item named: every item of the key, item 0 too.
  const std::string all = kHead + "Akty Powiązane (5 pozycji)<P><UL>\r\n" + Entry("97D0123", "Ustawa o czymś") +
                          Entry("A1", "Małe Litery") + Entry("NOTITLE", "Bez tytułu") + Entry("3", "Liczba") +
                          Entry("LATE", "Bez tytułu") + "</UL>\r\n</BODY></HTML>";
  EXPECT_EQ(Query(*ext, "LinkedDoc&K").body, all);
  EXPECT_EQ(Query(*ext, "LinkedDoc&K&").body, all);
  EXPECT_EQ(Query(*ext, "LinkedDoc&K&x").body, all);
  // Item 0 named is left out.
  EXPECT_EQ(Query(*ext, "LinkedDoc&K&0").body.find("97D0123"), std::string::npos);
}

TEST_F(ListTest, NothingRelatedSaysSo) {
  EXPECT_EQ(Query(*ext, "LinkedDoc&M&5").body, kHead + "Brak Aktów Powiązanych</BODY></HTML>");
  EXPECT_EQ(Query(*ext, "LinkedDoc&NOKEY").body, kHead + "Brak Aktów Powiązanych</BODY></HTML>");
  EXPECT_EQ(Query(*ext, "LinkedDoc&L&99999999999").body,
            kHead + "Akty Powiązane (1 pozycji)<P><UL>\r\n" + Entry("LATE", "Bez tytułu") + "</UL>\r\n</BODY></HTML>");
}

TEST_F(ListTest, DocListWithTrailerAndUnreadableItems) {
  TestRequest t("");
  CRequest request(t.Ecb());
  std::string last = WriteDocList(*ext, request, {5, 700, 0x10005}, "Nagłówek", "pusto", "<P>dalej");
  request.Flush();
  EXPECT_EQ(t.body, kHead + "Nagłówek<P><UL>\r\n" + Entry("OTHER", "inny") + "</UL>\r\n<P>dalej</BODY></HTML>");
  EXPECT_EQ(last, "</UL>\r\n<P>dalej</BODY></HTML>");
}

TEST_F(ListTest, RulingsListWithPlainBodyGetsWhiteBackground) {
  EXPECT_EQ(Query(*ext, "LinkedOrz&6").body, "<HTML><BODY BGCOLOR=#FFFFFF> <FONT SIZE=\"-1\">lista</BODY></HTML>");
  EXPECT_EQ(Query(*ext, "LinkedOrz&ORZ").body, Query(*ext, "LinkedOrz&6").body);
}

TEST_F(ListTest, RulingsListWithAttributesIsSentUnchanged) {
  EXPECT_EQ(Query(*ext, "LinkedOrz&7").body, "<HTML><HEAD>" + kDecl + "</HEAD><BODY BGCOLOR=#EEEEEE>lista</BODY></HTML>");
  EXPECT_EQ(Query(*ext, "LinkedOrz&8").body, "<HTML><HEAD>" + kDecl + "</HEAD>brak ciała</HTML>");
}

TEST_F(ListTest, MissingRulingsListShowsTheNotFoundPage) {
  const std::string notFound = "<HTML><HEAD><TITLE>Brak tej strony</TITLE></HEAD><BODY BGCOLOR=#FFFFFF> <FONT "
                               "SIZE=\"-1\"><H1>Brak tej strony</H1></BODY></HTML>";
  EXPECT_EQ(Query(*ext, "LinkedOrz&-1").body, notFound);
  EXPECT_EQ(Query(*ext, "LinkedOrz&NOSUCH").body, notFound);
  EXPECT_EQ(Query(*ext, "LinkedOrz&600").body, notFound);
}

}  // namespace
}  // namespace portico
