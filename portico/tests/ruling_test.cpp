// Ruling markers: location keys, ranges, the location order, merging, and
// the icons in the text of an act.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "kasten/file_server.h"
#include "portico/ruling_markers.h"
#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;

std::vector<std::string> Keys(const std::vector<RulingMarker>& list) {
  std::vector<std::string> keys;
  for (const auto& m : list) keys.push_back(m.key);
  return keys;
}

TEST(LocationKey, KindsOfLocations) {
  EXPECT_EQ(LocationKey("O"), "A");
  EXPECT_EQ(LocationKey("ART.5"), "B5");
  EXPECT_EQ(LocationKey("ART.10UST2"), "B10UST2");
  EXPECT_EQ(LocationKey("A5"), "B5");
  EXPECT_EQ(LocationKey("§3"), "C3");
  EXPECT_EQ(LocationKey("ART"), "B");
  EXPECT_EQ(LocationKey(""), "C");
}

TEST(AddMarkers, RangeGivesOneEntryPerNumber) {
  std::vector<RulingMarker> list;
  AddMarkers(list, "B3-5", "1&X");
  EXPECT_EQ(Keys(list), (std::vector<std::string>{"B3", "B4", "B5"}));
  EXPECT_EQ(list[2].text, "1&X");
}

TEST(AddMarkers, ClosingPartGoesToTheLastNumberOnly) {
  std::vector<RulingMarker> list;
  AddMarkers(list, "B3-5(1)UST2", "t");
  EXPECT_EQ(Keys(list), (std::vector<std::string>{"B3UST2", "B4UST2", "B5(1)UST2"}));
}

TEST(AddMarkers, HugeRangeDoesNotExpand) {
  std::vector<RulingMarker> list;
  AddMarkers(list, "B1-99999999", "t");
  EXPECT_EQ(Keys(list), (std::vector<std::string>{"B1"}));
  list.clear();
  AddMarkers(list, "B1-999999999999999999999999", "t");
  EXPECT_EQ(Keys(list), (std::vector<std::string>{"B1"}));
}

TEST(AddMarkers, RangeCapIsAThousandEntries) {
  // 1000 numbers expand, one entry per number; 1001 numbers give one entry.
  std::vector<RulingMarker> list;
  AddMarkers(list, "B1-1000", "t");
  ASSERT_EQ(list.size(), 1000u);
  EXPECT_EQ(list.front().key, "B1");
  EXPECT_EQ(list[499].key, "B500");
  EXPECT_EQ(list.back().key, "B1000");
  list.clear();
  AddMarkers(list, "B1-1001", "t");
  EXPECT_EQ(Keys(list), (std::vector<std::string>{"B1"}));
  list.clear();
  AddMarkers(list, "B0-999UST2", "t");
  ASSERT_EQ(list.size(), 1000u);
  EXPECT_EQ(list.back().key, "B999UST2");
  list.clear();
  AddMarkers(list, "B0-1000UST2", "t");
  EXPECT_EQ(Keys(list), (std::vector<std::string>{"B0UST2"}));
}

TEST(AddMarkers, ReversedAndOneSidedRanges) {
  std::vector<RulingMarker> list;
  AddMarkers(list, "B5-3", "t");
  EXPECT_TRUE(list.empty());
  AddMarkers(list, "B3-", "t");
  EXPECT_TRUE(list.empty());
  AddMarkers(list, "B-2", "t");
  AddMarkers(list, "B3-5(", "t");
  EXPECT_EQ(Keys(list), (std::vector<std::string>{"B0", "B1", "B2", "B3", "B4", "B5("}));
}

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(LocationOrder, ExamplesInDocumentOrder) {
  std::vector<std::string> keys{"C1", "B10UST2", "CIV", "B10", "A", "B2", "CII"};
  std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
    return CompareLocationKeys(a, b) < 0;
  });
  // Keys of one kind letter: numbers before roman numerals.
  EXPECT_EQ(keys, (std::vector<std::string>{"A", "B2", "B10", "B10UST2", "C1", "CII", "CIV"}));
}

TEST(LocationOrder, SeparatorsBetweenNumbersDoNotCountButOtherTextDoes) {
  EXPECT_LT(CompareLocationKeys("B5.3", "B5.10"), 0);
  EXPECT_LT(CompareLocationKeys("B5UST2", "B5UST10"), 0);
  EXPECT_LT(CompareLocationKeys("B5PKT2", "B5UST2"), 0);
  EXPECT_LT(CompareLocationKeys("B5", "B5UST2"), 0);
}

TEST(LocationOrder, IsATotalOrderEvenOnOddKeys) {
  std::vector<std::string> keys{"",    "A",     "AX",   "B",     "B5",     "B5.",   "B5.3",  "B5A3",   "B5B3",
                                "B5AB", "B53",  "B10",  "B10UST2", "B5(1)", "B5UST", "B05",   "B5UST3", "B5UST2A",
                                "B5UST2B", "BX", "BIV", "C",   "CII",   "CIV",   "CIIUST2", "C§2", "C3-", "\xff"};
  for (const auto& a : keys) {
    EXPECT_EQ(CompareLocationKeys(a, a), 0) << a;
    for (const auto& b : keys) {
      int ab = CompareLocationKeys(a, b);
      EXPECT_EQ(Sign(ab), -Sign(CompareLocationKeys(b, a))) << a << " " << b;
      EXPECT_EQ(ab == 0, a == b) << a << " " << b;
      for (const auto& c : keys) {
        if (ab < 0 && CompareLocationKeys(b, c) < 0) {
          EXPECT_LT(CompareLocationKeys(a, c), 0) << a << " " << b << " " << c;
        }
      }
    }
  }
}

TEST(SortAndMerge, EqualLocationsMergeUpToTheLimit) {
  std::vector<RulingMarker> list;
  for (int i = 0; i < 100; ++i) list.push_back({i % 2 ? "B7" : "B3", std::to_string(i) + "&" + std::string(40, 'V')});
  SortAndMerge(list);
  ASSERT_GE(list.size(), 4u);
  EXPECT_EQ(list[0].key, "B3");
  EXPECT_EQ(list[0].text.substr(0, 5), "0&VVV");
  for (const auto& m : list) EXPECT_LT(m.text.size(), kMaxMergedText + 45) << m.key;
  EXPECT_GE(list[0].text.size(), kMaxMergedText);
  EXPECT_EQ(list[1].key, "B3");  // what did not fit stays a separate entry
  std::size_t pieces = 0;
  for (const auto& m : list) pieces += std::count(m.text.begin(), m.text.end(), '&') / 2 + 1;
  EXPECT_EQ(pieces, 100u);
}

// An act with its rulings in one base: the act is item 0, rulings follow.
const std::string kAct =
    "<HTML><HEAD><TITLE>Ustawa</TITLE></HEAD><BODY>\r\n"
    "<H1>Ustawa o próbie</H1>\r\n"
    "<P>Art. 1. Przepisy ogólne.</P>\r\n"
    "<P>Art. 5. Tekst artykułu.</P>\r\n"
    "<P>1. Pierwszy ustęp.</P>\r\n"
    "<P>2. Drugi ustęp.</P>\r\n"
    "<P>3. Trzeci ustęp.</P>\r\n"
    "<P>Art. 53. Inny artykuł.</P>\r\n"
    "</BODY></HTML>";

std::string Ruling(const std::string& references) {
  return "<HTML><HEAD><META KEYS=\"" + references + "\"><TITLE>Wyrok</TITLE></HEAD><BODY>wyrok</BODY></HTML>";
}

std::string Icon(const std::string& text, bool again = false) {
  return "<A TARGET=\"VAMUFOOT\" HREF=\"portico.dll?PartOr&" + text + "\"><img src=\"" +
         (again ? "orbmplus.gif" : "orbmp.gif") + "\" alt=\"Orzeczenia\" border=\"0\"></A>";
}

// The act's body as the page writes it, icons at the given places.
std::string Body(const std::vector<std::pair<std::string, std::string>>& at) {
  std::string body = kAct.substr(kAct.find("<BODY>") + 6);
  body = body.substr(0, body.find("</BODY>"));
  // Insert from the back so earlier places stay valid.
  std::vector<std::pair<std::size_t, std::string>> places;
  for (const auto& [behind, icon] : at) places.push_back({body.find(behind) + behind.size(), icon});
  std::stable_sort(places.begin(), places.end(), [](auto& a, auto& b) { return a.first > b.first; });
  for (const auto& [pos, icon] : places) body.insert(pos, icon);
  return body;
}

struct MarkerTest : ::testing::Test {
  TestSite site;
  std::unique_ptr<CPorticoExtension> ext;
  void Start(const std::vector<std::string>& references, const std::vector<std::string>& rawRulings = {}) {
    std::vector<Item> items{{"ACTS\\ABC123D01456.HTM", kAct, ""}};
    for (const auto& r : references) items.push_back({"ORZ" + std::to_string(items.size()) + ".HTM", Ruling(r), "ABC123OO"});
    for (const auto& r : rawRulings) items.push_back({"RAW" + std::to_string(items.size()) + ".HTM", r, "ABC123OO"});
    site.AddBase(items);
    ext = StartExtension(site);
  }
  std::string ActBody() {
    std::string page = Query(*ext, "Topic&0").body;
    std::size_t start = page.find("//--></script>\r\n");
    EXPECT_NE(start, std::string::npos);
    start += 16;
    return page.substr(start, page.rfind("<P><P><FONT COLOR=\"#0000FF\"") - start);  // up to the publisher footer
  }
};

TEST_F(MarkerTest, IconRightBehindTheArticleHeading) {
  Start({"ABC123.ART.5=X\r\n"});
  EXPECT_EQ(ActBody(), Body({{"<P>Art. 5. ", Icon("1&X")}}));
}

TEST_F(MarkerTest, TwoRulingsOnOneArticleShareOneIcon) {
  Start({"ABC123.ART.5=X\r\n", "XYZ9.ART.1=Q\r\nABC123.ART.5=Y"});
  EXPECT_EQ(ActBody(), Body({{"<P>Art. 5. ", Icon("1&X&2&Y")}}));
}

TEST_F(MarkerTest, ParagraphOfAnArticle) {
  Start({"ABC123.ART.5UST2=P\r\n"});
  EXPECT_EQ(ActBody(), Body({{"<P>2. ", Icon("1&P")}}));
}

TEST_F(MarkerTest, ArticleFiftyThreeIsNotTakenForArticleFiveParagraphThree) {
  Start({"ABC123.ART.5UST3=A\r\nABC123.ART.53=B\r\n"});
  EXPECT_EQ(ActBody(), Body({{"<P>3. ", Icon("1&A")}, {"<P>Art. 53. ", Icon("1&B")}}));
}

TEST_F(MarkerTest, WholeActIconBeforeTheTitleHeadingEnds) {
  Start({"ABC123.O=W\r\n"});
  EXPECT_EQ(ActBody(), Body({{"<H1>Ustawa o próbie", Icon("1&W")}}));
}

TEST_F(MarkerTest, RangeMarksEveryArticleAndHugeRangesStayBounded) {
  Start({"ABC123.ART.1-5=R\r\n", "ABC123.ART.1-99999999=H\r\n"});
  // Articles 2 to 4 are not in the text: their icons gather where the search stood.
  EXPECT_EQ(ActBody(), Body({{"<P>Art. 1. ", Icon("1&R&2&H") + Icon("1&R") + Icon("1&R") + Icon("1&R")},
                             {"<P>Art. 5. ", Icon("1&R")}}));
}

TEST_F(MarkerTest, MergedTextStopsGrowingAndTheRestGetsTheSecondImage) {
  std::string v1(1000, 'A'), v2(1000, 'B'), v3(10, 'C');
  Start({"ABC123.ART.1=" + v1, "ABC123.ART.1=" + v2, "ABC123.ART.1=" + v3});
  EXPECT_EQ(ActBody(), Body({{"<P>Art. 1. ", Icon("1&" + v1 + "&2&" + v2) + Icon("3&" + v3, true)}}));
}

TEST_F(MarkerTest, UnlocatedEntryGetsItsIconAtTheCurrentPlace) {
  Start({"ABC123.ART.99=Z\r\n"});
  EXPECT_EQ(ActBody(), Icon("1&Z") + Body({}));
}

TEST_F(MarkerTest, RulingsWithoutReferencesLeaveTheTextAlone) {
  Start({"", "ABC12.ART.1=x"}, {"<HTML><HEAD><META KEYS=\"ABC123.ART.1=never closed", "<META KEYS=ABC123.ART.1=x\"",
                                 "<!--" + Noise(60000) + "-->" + Ruling("ABC123.ART.1=late")});
  EXPECT_EQ(ActBody(), Body({}));
}

TEST_F(MarkerTest, OddReferencesDoNotReadOutsideTheText) {
  Start({"ABC123.", "ABC123.ART", "ABC123.ART.5(", "ABC123.ART.5(1=x", "ABC123.=", "ABC123.ART.5UST=", "ABC123.ART.5§=q",
         "ABC123.ART.5UST2PKT3LIT4=z\r\nABC123.ART.5UST2PKT=y"});
  std::string body = ActBody();
  EXPECT_NE(body.find("Inny artykuł."), std::string::npos);
}

// Overwrites the stored (deflated) bytes of slot `slot` behind the zlib header,
// so that inflating it fails.
void DamageStoredBytes(const std::string& base, DWORD slot) {
  CFileServer::ItemInfo info;
  {
    CFileServer fs;
    ASSERT_TRUE(fs.Init(base.c_str(), nullptr, CFile::modeRead));
    ASSERT_TRUE(fs.GetItemInfo(slot, info));
  }
  ASSERT_EQ(info.method, 2u);
  ASSERT_GT(info.storedLength, 40u);
  std::fstream file(base, std::ios::in | std::ios::out | std::ios::binary);
  unsigned char size[2];
  file.seekg(info.recordOffset);
  file.read(reinterpret_cast<char*>(size), 2);
  const std::size_t data = info.recordOffset + (size[0] | size[1] << 8) + 12;
  file.seekp(static_cast<std::streamoff>(data + 2));
  file << std::string(info.storedLength - 2, '\xFF');
  ASSERT_TRUE(file.good());
}

TEST_F(MarkerTest, UnreadableRulingIsLeftOutAndTheActShownWhole) {
  MessageCapture log;
  std::vector<Item> items{{"ACTS\\ABC123D01456.HTM", kAct, ""},
                          {"ORZ1.HTM", Ruling("ABC123.ART.1=D\r\n") + Noise(3000), "ABC123OO"},
                          {"ORZ2.HTM", Ruling("ABC123.ART.5=X\r\n"), "ABC123OO"}};
  DamageStoredBytes(site.AddBase(items), 1);
  ext = StartExtension(site);
  Response r = Query(*ext, "Topic&0");
  EXPECT_EQ(r.result, static_cast<DWORD>(HSE_STATUS_SUCCESS));
  EXPECT_EQ(ActBody(), Body({{"<P>Art. 5. ", Icon("2&X")}}));
  EXPECT_NE(r.body.find("Vamu Qad - akty normatywne i orzeczenia</A></FONT></BODY></HTML>"), std::string::npos);
  ASSERT_FALSE(log.lines.empty());
  EXPECT_NE(log.lines[0].find("Topic&0: ruling 1 left out ("), std::string::npos) << log.lines[0];
}

}  // namespace
}  // namespace portico
