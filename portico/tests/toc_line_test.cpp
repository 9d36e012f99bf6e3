// The contents frame (TOC and the contents reader) and the button bar (Line).
#include <gtest/gtest.h>

#include <string>

#include "portico/document.h"
#include "portico/pages.h"
#include "portico/tests/harness.h"
#include "portico/toc.h"

namespace portico {
namespace {

using namespace test;

const std::string kDecl = "\r\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">\r\n";
const std::string kStyle =
    " BACKGROUND=\"gs.gif\" BGCOLOR=\"#E0FFE0\"  aLink=\"#FF0000\" vLink=\"#0000FF\" Link=\"#0000FF\"> <FONT "
    "SIZE=\"-2\">";

const std::string kContents =
    "<HTML><HEAD><TITLE>Spis</TITLE></HEAD><BODY><UL><LI><A HREF=\"portico.dll?Topic&whatever#art5\">Art. 5</A>"
    "<LI><A HREF=\"portico.dll?Topic&#art6\">Art. 6</A></UL></BODY></HTML>";

struct TocLineTest : ::testing::Test {
  TestSite site;
  std::unique_ptr<CPorticoExtension> ext;
  void SetUp() override {
    site.AddBase({
        {"T.HTM", "<HTML><!--TOC" + kContents + "--><BODY>akt</BODY></HTML>", ""},                            // 0
        {"N.HTM", "<HTML><BODY>bez spisu</BODY></HTML>", ""},                                                  // 1
        {"FAR.HTM", "<HTML><!--" + Noise(100000) + "--><!--TOC" + kContents + "-->", ""},                   // 2
        {"P.HTM", "<!--TOC<HTML><Body>x ?Topic&y#a ?Topic&z--><BODY>", ""},                                    // 3
        {"L.HTM", "<!--LINE Search@ Home@ Notes=Moje notatki@ LinkedDoc=K@ LinkedOrz=R1@--><BODY>", ""},  // 4
        {"E.HTM", "<!--LINE LinkedDoc=@--><BODY>", ""},                                                        // 5
    });
    ext = StartExtension(site);
  }
};

TEST_F(TocLineTest, ContentsLinksLeadToTheDocument) {
  Response r = Query(*ext, "TOC&0");
  std::string page = kContents;
  page.replace(page.find("whatever"), 8, "0");
  page.replace(page.find("&#art6"), 1, "&0");
  std::size_t body = page.find("<BODY>");
  EXPECT_EQ(r.body, "<HTML><HEAD>" + kDecl + page.substr(12, body + 5 - 12) + kStyle + page.substr(body + 6));
  EXPECT_EQ(Query(*ext, "TOC&T").body, r.body);
}

TEST_F(TocLineTest, ContentsReaderRetargetsToTheIndex) {
  CPageText text = ReadContents(*ext, 0x11170);  // base 1 does not exist: not found
  EXPECT_EQ(text.View(), kNotFoundPage);
  EXPECT_EQ(kNotFoundPage.size(), 93u);
  CPageText t = ReadContents(*ext, 0);
  EXPECT_NE(t.View().find("portico.dll?Topic&0#art5"), std::string::npos);
  EXPECT_NE(t.View().find("portico.dll?Topic&0#art6"), std::string::npos);
}

TEST_F(TocLineTest, DocumentsWithoutReachableContentsShowTheNotFoundPage) {
  const std::string notFound =
      "<HTML><HEAD>" + kDecl + "<TITLE>Brak tej strony</TITLE></HEAD><BODY" + kStyle + "<H1>Brak tej strony</H1></BODY></HTML>";
  EXPECT_EQ(Query(*ext, "TOC&1").body, notFound);
  EXPECT_EQ(Query(*ext, "TOC&2").body, notFound);  // beyond the first 40000 stored bytes
  EXPECT_EQ(Query(*ext, "TOC&-1").body, notFound);
  EXPECT_EQ(Query(*ext, "TOC&99").body, notFound);
}

TEST_F(TocLineTest, ContentsWithoutPlainBodyTagAreSentUnchanged) {
  // The link without an anchor stays as it is.
  EXPECT_EQ(Query(*ext, "TOC&3").body, "<HTML><Body>x ?Topic&3#a ?Topic&z");
}

const std::string kBarHead =
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\"><html><head><meta http-equiv=\"Content-Type\"content=\"text/html; "
    "charset=windows-1250\"><meta name=\"GENERATOR\" content=\"Microsoft FrontPage 2.0\"><title>Vamu "
    "Qad'97</title></head><body  topmargin=\"1\" >";

TEST(Button, AddressesAndFrames) {
  EXPECT_EQ(Button(0, "ignored"),
            "<INPUT LANGUAGE=\"JavaScript\" TYPE=BUTTON VALUE=\"Szukaj\" "
            "onClick=\"window.top.frames['MAIN'].location.href='portico.dll?Main&-1'\" >");
  EXPECT_EQ(Button(2, "Moje notatki"),
            "<INPUT LANGUAGE=\"JavaScript\" TYPE=BUTTON VALUE=\"Notatki\" "
            "onClick=\"window.top.frames['MAIN'].frames['VAMUFOOT'].location.href='portico.dll?Topic&-4&Moje+notatki'\" >");
  EXPECT_EQ(Button(3, "b"),
            "<INPUT LANGUAGE=\"JavaScript\" TYPE=BUTTON VALUE=\"Zakładki\" "
            "onClick=\"window.top.frames['MAIN'].frames['VAMUFOOT'].location.href='portico.dll?Topic&-5&b'\" >");
}

TEST_F(TocLineTest, ButtonBarFromTheNavigationLine) {
  Response r = Query(*ext, "Line&4");
  EXPECT_EQ(r.body, kBarHead + "<FORM NAME=\"Vamu\">" + Button(0, "") + Button(1, "") + Button(2, "Moje notatki") +
                        Button(4, "K&4") + Button(5, "R1") + "</FORM></BODY></HTML>");
  EXPECT_NE(r.body.find("portico.dll?LinkedDoc&K&4'"), std::string::npos);
}

TEST_F(TocLineTest, EmptyRelatedValueStillGivesTheButton) {
  EXPECT_EQ(Query(*ext, "Line&5").body,
            kBarHead + "<FORM NAME=\"Vamu\">" + Button(4, "&5") + "</FORM></BODY></HTML>");
}

TEST_F(TocLineTest, SearchPageBarAndPlainDocuments) {
  EXPECT_EQ(Query(*ext, "Line&-1").body,
            kBarHead + "<FORM NAME=\"Vamu\">" + Button(1, "") + Button(2, "SrchNotes") + "</FORM></BODY></HTML>");
  EXPECT_NE(Query(*ext, "Line&-1").body.find("portico.dll?Topic&-4&SrchNotes"), std::string::npos);
  EXPECT_EQ(Query(*ext, "Line&1").body,
            kBarHead + "<FORM NAME=\"Vamu\">" + Button(0, "") + Button(1, "") + "</FORM></BODY></HTML>");
}

TEST_F(TocLineTest, UnreadableAndReservedDocumentsHaveNoButtons) {
  const std::string empty = kBarHead + "<FORM NAME=\"Vamu\"></FORM></BODY></HTML>";
  EXPECT_EQ(Query(*ext, "Line&77").body, empty);
  EXPECT_EQ(Query(*ext, "Line&-3").body, empty);
  EXPECT_EQ(Query(*ext, "Line&-4").body, empty);
}

}  // namespace
}  // namespace portico
