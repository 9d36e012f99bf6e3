// The rulings page (PartOr): pairs of documents and anchors, sorted and
// merged per document, sections between the BEGIN and END markers; and the
// Image page, which delivers an item byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "portico/document.h"
#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;

const std::string kHead =
    "<HTML><HEAD><META  HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">\r\n"
    "</HEAD><TITLE>Orzeczenia</TITLE><BODY BGCOLOR=#FFFFFF>";
const std::string kEnd = "</BODY></HTML>";

std::string Ruling(const std::string& anchor, const std::string& text) {
  return "<A NAME=\"" + anchor + "\"></A><H3>" + anchor + "</H3><!--BEGIN-->" + text + "<!--END-->\r\n";
}

// Rulings documents at slots 7, 9, 10 and 12; an image at slot 3 and an
// empty item at slot 4.
std::vector<Item> Items() {
  std::vector<Item> items(13, Item{"", "<HTML>inny</HTML>", ""});
  for (std::size_t i = 0; i < items.size(); ++i) items[i].name = "X" + std::to_string(i) + ".HTM";
  items[3] = {"Plan.JPG", std::string("\xFF\xD8\xFF\xE0\0\0JFIF\0<HTML>\0", 17), ""};
  items[4] = {"Pusty.JPG", "", ""};
  items[7] = {"ORZ7.HTM", "<HTML><BODY>" + Ruling("UST2", "Wyrok o ust. 2") + Ruling("ZLY", "bez końca") + "</BODY></HTML>", ""};
  items[7].text.replace(items[7].text.rfind("<!--END-->"), 10, "");  // ZLY has no end marker
  items[9] = {"ORZ9.HTM", "<HTML>" + Ruling("A", "dziewięć") + "</HTML>", ""};
  items[10] = {"ORZ10.HTM", "<HTML>" + Ruling("B", "dziesięć") + "</HTML>", ""};
  // Names with a quote in them; a tag that names "P%41" as sent, with no
  // section behind it, after the section of "PA".
  items[11] = {"ORZ11.HTM",
               "<HTML>" + Ruling("Q\"X", "iks") + Ruling("Q\"R", "er") + Ruling("PA", "pe") + "<A NAME=\"P%41\"></A></HTML>",
               ""};
  items[12] = {"ORZ12.HTM",
               "<HTML><BODY>" + Ruling("ART1", "Wyrok o art. 1") + Ruling("ART5", "Wyrok o art. 5") +
                   Ruling("III CZP 1/10", "Uchwała III CZP 1/10") + Ruling("50%41", "procent") + "</BODY></HTML>",
               ""};
  return items;
}

struct PartOrTest : ::testing::Test {
  TestSite site;
  std::unique_ptr<CPorticoExtension> ext;
  void SetUp() override {
    site.AddBase(Items());
    ext = StartExtension(site);
  }
  std::string Page(const std::string& arguments) {
    Response r = Query(*ext, "PartOr&" + arguments);
    EXPECT_EQ(r.result, 1u);
    EXPECT_EQ(r.header, kPageHeader);
    return r.body;
  }
};

TEST_F(PartOrTest, PairsAreSortedByDocumentTextAndMerged) {
  EXPECT_EQ(Page("12&ART1&12&ART5&7&UST2"),
            kHead + "Wyrok o art. 1<HR>Wyrok o art. 5<HR>Wyrok o ust. 2" + kEnd);
  // Byte-wise: "10" before "9"; the anchors of a document keep the order of the request.
  EXPECT_EQ(Page("9&A&10&B"), kHead + "dziesięć<HR>dziewięć" + kEnd);
  EXPECT_EQ(Page("12&ART5&7&UST2&12&ART1"),
            kHead + "Wyrok o art. 5<HR>Wyrok o art. 1<HR>Wyrok o ust. 2" + kEnd);
}

TEST_F(PartOrTest, WithoutPairsThereAreNoRulings) {
  EXPECT_EQ(Page("12"), kHead + "Brak orzeczeń" + kEnd);
  EXPECT_EQ(Page(""), kHead + "Brak orzeczeń" + kEnd);
  EXPECT_EQ(Page("12&ART1&5"), kHead + "Wyrok o art. 1" + kEnd);  // the trailing 5 is ignored
}

TEST_F(PartOrTest, DocumentByName) {
  EXPECT_EQ(Page("ORZ12&ART5"), kHead + "Wyrok o art. 5" + kEnd);
  EXPECT_EQ(Page("ORZ12&ART5&12&ART1"), Page("12&ART5&12&ART1"));
}

TEST_F(PartOrTest, MissingDocumentsAnchorsAndMarkersAddNothing) {
  EXPECT_EQ(Page("12&BRAK&12&ART1"), kHead + "Wyrok o art. 1" + kEnd);
  EXPECT_EQ(Page("7&ZLY&7&UST2"), kHead + "Wyrok o ust. 2" + kEnd);
  // An unreadable document's block is empty; the separator before it stays.
  EXPECT_EQ(Page("12&ART1&99&X"), kHead + "Wyrok o art. 1<HR>" + kEnd);
  EXPECT_EQ(Page("100&X&12&ART1"), kHead + "Wyrok o art. 1" + kEnd);
  EXPECT_EQ(Page("Nieznany&X&-5&Y&99999999999&Z"), kHead + kEnd);
  // An empty anchor ends the anchors of its document.
  EXPECT_EQ(Page("12&&12&ART1"), kHead + "" + kEnd);
}

TEST_F(PartOrTest, AnchorsSentByBrowsersAreDecoded) {
  // The ruling icons link with the signature's blanks, which browsers send as %20.
  EXPECT_EQ(Page("12&III%20CZP%201%2F10"), kHead + "Uchwała III CZP 1/10" + kEnd);
  EXPECT_EQ(Page("12&III CZP 1/10"), kHead + "Uchwała III CZP 1/10" + kEnd);
  EXPECT_EQ(Page("12&%&12&ART1%"), kHead + "" + kEnd);
  // An anchor found as sent is not decoded.
  EXPECT_EQ(Page("12&50%41"), kHead + "procent" + kEnd);
}

TEST_F(PartOrTest, AnchorsWithQuotesAndAnchorsFoundAsSentWithoutSection) {
  // "Q" is found by the tag of Q"X, which begins with <A NAME="Q".
  EXPECT_EQ(Page("11&Q\"R&11&Q\"X&11&Q"), kHead + "er<HR>iks<HR>iks" + kEnd);
  // Found as sent (without a section behind it): not looked for decoded.
  EXPECT_EQ(Page("11&P%41"), kHead + kEnd);
  EXPECT_EQ(Page("11&PA"), kHead + "pe" + kEnd);
}

TEST_F(PartOrTest, PairsAreBoundedAndAskedAnchorsFoundInOneDocumentRead) {
  std::string pairs = "12&ART1";
  std::string sections = "Wyrok o art. 1";
  for (int i = 1; i < 512; ++i) {
    pairs += i % 2 ? "&12&ART5" : "&12&ART1";
    sections += i % 2 ? "<HR>Wyrok o art. 5" : "<HR>Wyrok o art. 1";
  }
  EXPECT_EQ(Page(pairs), kHead + sections + kEnd);
  EXPECT_EQ(Page(pairs + "&7&UST2"), kHead + "Zbyt wiele orzeczeń w jednym żądaniu" + kEnd);
  // A trailing document without its anchor is no pair.
  EXPECT_EQ(Page(pairs + "&7"), kHead + sections + kEnd);
}

TEST_F(PartOrTest, ImageIsDeliveredWholeInOnePiece) {
  Response r = Query(*ext, "Image&Plan");
  EXPECT_EQ(r.result, 1u);
  EXPECT_EQ(r.header, kPageHeader);
  EXPECT_EQ(r.body, Items()[3].text);  // zero bytes and all, no code-page declaration
  EXPECT_EQ(r.writes, 1u);
  EXPECT_EQ(Query(*ext, "Image&3").body, Items()[3].text);
  EXPECT_EQ(r.status, 200u);
}

TEST_F(PartOrTest, EmptyImageIsAnEmptyBody) {
  Response r = Query(*ext, "Image&Pusty");
  EXPECT_EQ(r.result, 1u);
  EXPECT_EQ(r.body, "");
}

TEST_F(PartOrTest, MissingImageGivesTheNotFoundPage) {
  for (const char* arg : {"Image&Brak", "Image&77", "Image&-1", "Image&99999999999", "Image&", "Image&%00"})
    EXPECT_EQ(Query(*ext, arg).body, kNotFoundPage) << arg;
}

}  // namespace
}  // namespace portico
