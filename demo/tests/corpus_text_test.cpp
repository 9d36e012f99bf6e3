// Reading the corpus: citations, the places rulings concern, acts and rulings.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "demo/corpus_text.h"
#include "demo/synthetic.h"

using namespace vamucorpus;

namespace {

std::string Corpus() { return SyntheticCorpus::DefaultCorpusDir(); }

TEST(JournalCitation, ReadsBothJournals) {
  ActRef r;
  ASSERT_TRUE(ParseJournalCitation("Dz.U. 1997 nr 78 poz. 483", r));
  EXPECT_EQ(r, (ActRef{'D', 97, 78, 483}));
  ASSERT_TRUE(ParseJournalCitation("M.P. 2001 nr 5 poz. 1012", r));
  EXPECT_EQ(r, (ActRef{'M', 1, 5, 1012}));
}

TEST(JournalCitation, RefusesWhatIsNoCitation) {
  ActRef r;
  for (const char* bad : {"", "Dz.U.", "Dz.U. 97 nr 78 poz. 483", "Dz.U. 1997 poz. 483", "Dz.U. 1997 nr 78 poz. ",
                          "Monitor 1997 nr 1 poz. 2", "Dz.U. 1997 nr x poz. 483"})
    EXPECT_FALSE(ParseJournalCitation(bad, r)) << bad;
}

TEST(Locations, ArticlesParagraphsAndPoints) {
  std::vector<std::string> cited;
  auto l = ParseLocations("art. 146 ust. 3, art. 146 ust. 4 pkt 3, art. 153", &cited);
  EXPECT_EQ(l, (std::vector<std::string>{"ART.146UST3", "ART.146UST4PKT3", "ART.153"}));
  EXPECT_EQ(cited, (std::vector<std::string>{"art. 146 ust. 3", "art. 146 ust. 4 pkt 3", "art. 153"}));
  EXPECT_EQ(ParseLocations("art. 11 \xa7 2; art. 5 \xa7 2 pkt 4"),
            (std::vector<std::string>{"ART.11\xa7" "2", "ART.5\xa7" "2PKT4"}));
}

TEST(Locations, RangesAndSuperscripts) {
  EXPECT_EQ(ParseLocations("art. 87-94"), std::vector<std::string>{"ART.87-94"});
  EXPECT_EQ(ParseLocations("art. 15 ust. 1 pkt 2-6"), std::vector<std::string>{"ART.15UST1PKT2-6"});
  EXPECT_EQ(ParseLocations("art. 424(1) \xa7 2"), std::vector<std::string>{"ART.424(1)\xa7" "2"});
  // A backward "range" is no range: the article alone.
  EXPECT_EQ(ParseLocations("art. 9-3"), std::vector<std::string>{"ART.9"});
}

TEST(Locations, LeavesOutWhatNoMarkerCanFind) {
  std::vector<std::string> cited;
  EXPECT_TRUE(ParseLocations("art. 33a, art. 165 ust. 2 zd. 2, art. 7oraz, art. 19 ust. 1a", &cited).empty());
  EXPECT_EQ(cited.size(), 4u);  // still shown to the reader
  EXPECT_EQ(ParseLocations("art. 5, art. 5"), std::vector<std::string>{"ART.5"});  // once
}

TEST(Locations, HostileTextIsHarmless) {
  for (const char* text : {"art. ", "art. (", "art. 5(", "art. 5(1", "art. 5 ust.", "art. 5 ust. x", "art. 5 \xa7",
                           "art. 99999999999999999999999 ust. 1", "art. 1-", "art. 424(99999999999999999999)"})
    ParseLocations(text);  // must not read outside the text (the sanitizer build checks)
  EXPECT_EQ(ParseLocations("art. 5 ust. 1 pkt 2 ust. 3 pkt 4"), std::vector<std::string>{});  // too deep
}

TEST(Act, ReadsTheConstitution) {
  ActText act;
  ASSERT_TRUE(ReadAct(Corpus() + "/acts/konstytucja.txt", act));
  EXPECT_EQ(act.ref, (ActRef{'D', 97, 78, 483}));
  EXPECT_EQ(act.ArticleCount(), 243u);
  ASSERT_NE(act.FindArticle("55"), nullptr);
  EXPECT_EQ(act.FindArticle("55")->lines.size(), 7u);  // ust. 1-5 and two points
  EXPECT_EQ(act.blocks.front().kind, ActBlock::Text);
  int chapters = 0, subheadings = 0;
  for (const auto& b : act.blocks)
    if (b.kind == ActBlock::Heading) (b.lines[0].rfind("Rozdzia", 0) == 0 ? chapters : subheadings)++;
  EXPECT_EQ(chapters, 13);
  EXPECT_GT(subheadings, 0);  // "ZASADY OGÓLNE" and the like
}

TEST(Act, SuperscriptAndLetterArticles) {
  ActText kk, kc;
  ASSERT_TRUE(ReadAct(Corpus() + "/acts/kodeks_karny.txt", kk));
  EXPECT_NE(kk.FindArticle("37a"), nullptr);
  ASSERT_TRUE(ReadAct(Corpus() + "/acts/kodeks_cywilny.txt", kc));
  EXPECT_NE(kc.FindArticle("22^1"), nullptr);
}

TEST(Act, RefusesFilesWithoutArticlesOrCitation) {
  const std::string path = ::testing::TempDir() + "/vamucorpus_act.txt";
  ActText act;
  EXPECT_FALSE(ReadAct(path + ".missing", act));
  std::ofstream(path) << "Title: x\nJournal: Dz.U. 1997 nr 1 poz. 2\n\nno articles here\n";
  EXPECT_FALSE(ReadAct(path, act));
  std::ofstream(path) << "Title: x\nJournal: none\n\nArt. 1.\nText.\n";
  EXPECT_FALSE(ReadAct(path, act));
  std::ofstream(path) << "Title: x\nJournal: Dz.U. 1997 nr 1 poz. 2\n";  // no body at all
  EXPECT_FALSE(ReadAct(path, act));
  std::remove(path.c_str());
}

TEST(Ruling, ReadsTheActsItConcerns) {
  RulingText r;
  ASSERT_TRUE(ReadRuling(Corpus() + "/rulings/tk_K_2_09.txt", r));
  EXPECT_EQ(r.Year(), 2011);
  EXPECT_EQ(r.Field("Signature"), "K 2/09");
  const Concern* konst = nullptr;
  for (const auto& c : r.concerns)
    if (c.act == ActRef{'D', 97, 78, 483}) konst = &c;
  ASSERT_NE(konst, nullptr);
  EXPECT_EQ(konst->locations.front(), "ART.146UST3");
  EXPECT_GT(r.concerns.size(), 10u);
}

TEST(Ruling, CommaBeforePositionIsRead) {
  RulingText r;  // "(Dz. U. z 1964 r. Nr 16, poz. 93 - art. 355; ...)"
  ASSERT_TRUE(ReadRuling(Corpus() + "/rulings/so_II_Ca_1350_13.txt", r));
  ASSERT_EQ(r.concerns.size(), 1u);
  EXPECT_EQ(r.concerns[0].act, (ActRef{'D', 64, 16, 93}));
  EXPECT_EQ(r.concerns[0].locations, (std::vector<std::string>{"ART.213", "ART.231", "ART.231\xa7" "1"}));
}

}  // namespace
