// The contents tree (TreeToc): act tree levels, versions and their captions,
// a document's contents as tree lines, contents files with splice
// directives, the HTML list pages; and Synchronize, which counts the tree's
// lines along the path to an act.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "portico/act_tree.h"
#include "portico/settings.h"
#include "portico/tests/harness.h"
#include "portico/tree_script.h"

namespace portico {
namespace {

using namespace test;

std::string Doc(const std::string& title, const std::string& more = "") {
  return "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD>" + more + "<BODY>tekst</BODY></HTML>";
}

const std::string kBigToc =
    "<!--TOC<HTML><HEAD><TITLE>Spis</TITLE></HEAD><BODY><UL><LI><A HREF=\"portico.dll?Topic&x#r1\">Rozdział\r\n1</A>"
    "<UL><LI><A HREF=portico.dll?Topic&x#a1>Art. <B>1</B></A><LI><A HREF=\"portico.dll?Topic&x#a2\" "
    "TARGET=\"_self\">Art. \"2\"</A></UL><LI>Bez linku</UL></BODY></HTML>-->";
const std::string kAmendmentToc =
    "<!--TOC<HTML><HEAD><TITLE>Spis treści zmiany</TITLE></HEAD><BODY><UL><LI><A "
    "HREF=\"portico.dll?Topic&x#z1\">Zmiana pierwsza</A></UL></BODY></HTML>-->";

// Dz.U.: 1995 (number 1), 1997 (numbers 3 and 12), 1998, 1999, 2000 (year
// 0) and 2007; M.P. 1998. Act 97/12/6 has its first text and two amendments; 97/12/8
// has a ruling, which is no version; 97/3/9 has only a ruling.
std::vector<Item> Acts() {
  return {
      {"D950001D950001.HTM", Doc("Dz.U.95.1.1 - Ustawa A"), ""},                                        // 0
      {"D970001D970001.HTM", Doc("Dz.U.97.3.1 - Ustawa B"), ""},                                        // 1
      {"D970009O970002.HTM", Doc("Dz.U.97.3.9 - Wyrok"), ""},                                           // 2
      {"D970005D970005.HTM", Doc("Dz.U.97.12.5 - Ustawa o \"próbie\""), ""},                            // 3
      {"D970006D970006.HTM", Doc("Dz.U.97.12.6 - Ustawa C"), ""},                                       // 4
      {"D970006D960033.HTM", Doc("Dz.U.97.12.6 zm. Dz.U.96.7.33 - Ustawa C", kAmendmentToc), ""},       // 5
      {"D970006M980010.HTM", Doc("Dz.U.97.12.6 zm. M.P.98.4.10 - Ustawa C"), ""},                       // 6
      {"D970007D970007.HTM", Doc("Dz.U.97.12.7 - Ustawa ze spisem", kBigToc), ""},                      // 7
      {"D970008D970008.HTM", Doc("Dz.U.97.12.8 - Ustawa D", "<!--TOC<HTML><BODY>x</BODY></HTML>-->"), ""},  // 8
      {"D970008O970003.HTM", Doc("Dz.U.97.12.8 - Wyrok do D"), ""},                                     // 9
      {"D980001D980001.HTM", Doc("Dz.U.98.1.1 - Ustawa E"), ""},                                        // 10
      {"D990001D990001.HTM", Doc("Dz.U.99.1.1 - Ustawa F"), ""},                                        // 11
      {"D000001D000001.HTM", Doc("Dz.U.00.5.1 - Ustawa 2000"), ""},                                     // 12
      {"M980010M980010.HTM", Doc("M.P.98.4.10 - Uchwała"), ""},                                         // 13
      {"D070002D070002.HTM", Doc("Dz.U.07.1.2 - Ustawa 2007"), ""},                                     // 14
  };
}

const std::string kBase = "portico.dll?TreeToc&Publ=Vamu&Name=";
const std::string kUnavailable = "Sekcja nie jest dostępna";

std::string Placeholder(const std::string& name) { return "2 -t " + kBase + name + " \"Ładuje...\"\r\n"; }
std::string Node(const std::string& caption, const std::string& child) {
  return "1 -id \"" + caption + "\"\r\n" + Placeholder(child);
}
std::string Link(int index, const std::string& caption) {
  return "1 -t portico.dll?Topic&" + std::to_string(index) + " \"" + caption + "\"\r\n";
}
std::string ListHead(const std::string& title) {
  return "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\"><html><head><meta http-equiv=\"Content-Type\"content=\"text/html; "
         "charset=windows-1250\"><meta name=\"GENERATOR\" content=\"Vamu Qad\"><title>Vamu Qad'98\\" +
         title + "</title></head><body  topmargin=\"1\" ><P>Spis treści dla <B>" + title + "</B></P><UL>";
}
std::string ListEntry(const std::string& url, const std::string& caption) {
  return "<LI><A HREF=\"" + url + "\" >" + caption + "</A></LI>";
}

struct TreeTest : ::testing::Test {
  TestSite site;
  std::unique_ptr<CPorticoExtension> ext;
  void SetUp() override {
    site.AddBase(Acts());
    site.AddBase({{"SPISDZU.TOC",
                   "1 -id \"Dziennik Ustaw\"\r\n2 -dd\r\nNAME= d970005 x\r\n1 -t portico.dll?Topic&1 \"Inny\"\r\n"
                   "3 -dd bez nazwy\r\n1 -id \"Koniec\"\r\n",
                   ""},
                  {"SPISPLAIN.TOC", "1 -id \"A\"\r\n2 -t x \"B\"\r\n  -dd", ""},
                  {"SPISCASE.TOC", "1 -dd\r\n2 -t portico.dll?TreeToc&Publ=Vamu&Name=D97 \"R\"\r\n", ""}},
                 "TOC");
    ext = StartExtension(site);
  }
  std::string Tree(const std::string& arguments) {
    Response r = Query(*ext, "TreeToc&" + arguments);
    EXPECT_EQ(r.result, 1u);
    EXPECT_EQ(r.header, kPageHeader);
    return r.body;
  }
  std::string Sync(const std::string& arguments) { return Query(*ext, "Synchronize&" + arguments).body; }
};

TEST_F(TreeTest, JournalListsItsYearsNewestFirst) {
  // Two-digit years below 50 are 20xx: 2007 and 2000 are the newest.
  EXPECT_EQ(Tree("Publ=Vamu&Name=D"), Node("Rocznik 2007", "D07") + Node("Rocznik 2000", "D00") +
                                          Node("Rocznik 1999", "D99") + Node("Rocznik 1998", "D98") +
                                          Node("Rocznik 1997", "D97") + Node("Rocznik 1995", "D95") + "\r\n");
  EXPECT_EQ(Tree("publ=vamu&name=m"), Node("Rocznik 1998", "M98") + "\r\n");
}

TEST_F(TreeTest, YearPivotOfTheRegistryDecidesTheCentury) {
  site.SetSetting("Setup", "YearPivot", "0");  // every year 19xx
  EXPECT_EQ(Tree("Publ=Vamu&Name=D"), Node("Rocznik 1999", "D99") + Node("Rocznik 1998", "D98") +
                                          Node("Rocznik 1997", "D97") + Node("Rocznik 1995", "D95") +
                                          Node("Rocznik 1907", "D07") + Node("Rocznik 1900", "D00") + "\r\n");
  // Synchronize counts the lines in the same order: 1997 is the third year now.
  EXPECT_EQ(Sync("PUBL=VAMU&NAME=D9700120005D9700120005"), "0,1,4,5,9/9,9");
  site.SetSetting("Setup", "YearPivot", "96");
  EXPECT_EQ(Tree("Publ=Vamu&Name=D").substr(0, Node("Rocznik 2095", "D95").size()), Node("Rocznik 2095", "D95"));
  // A number value counts as well; what is no number leaves the default.
  ASSERT_TRUE(CRegistry::Update(site.registryPath, [](CRegistry& r) {
    r.SetDword(SettingsKey("Setup"), "YearPivot", 100);  // every year 20xx
  }));
  EXPECT_EQ(Tree("Publ=Vamu&Name=M"), Node("Rocznik 2098", "M98") + "\r\n");
  site.SetSetting("Setup", "YearPivot", "x50");
  EXPECT_EQ(Tree("Publ=Vamu&Name=M"), Node("Rocznik 1998", "M98") + "\r\n");
}

TEST(TreeYears, FullYearAroundThePivot) {
  EXPECT_EQ(FullYear(49, 50), 2049u);
  EXPECT_EQ(FullYear(50, 50), 1950u);
  EXPECT_EQ(FullYear(0, 50), 2000u);
  EXPECT_EQ(FullYear(99, 50), 1999u);
  EXPECT_EQ(FullYear(0, 0), 1900u);
  EXPECT_EQ(FullYear(99, 100), 2099u);
  EXPECT_EQ(FullYear(1997, 50), 1997u);
}

TEST_F(TreeTest, YearListsItsNumbers) {
  EXPECT_EQ(Tree("Publ=Vamu&Name=D97"), Node("Numer 12", "D970012") + Node("Numer 3", "D970003") + "\r\n");
}

TEST_F(TreeTest, YearTwoThousandIsAYearLikeAnyOther) {
  EXPECT_EQ(Tree("Publ=Vamu&Name=D00"), Node("Numer 5", "D000005") + "\r\n");
  EXPECT_EQ(Tree("Publ=Vamu&Name=D000005"), Link(12, "Poz. 1 Ustawa 2000") + "\r\n");
}

TEST_F(TreeTest, NumberListsItsPositionsWithTitlesAndContents) {
  EXPECT_EQ(Tree("Publ=Vamu&Name=D970012"),
            Link(8, "Poz. 8 Ustawa D") +                                        // short contents: no child
                Link(7, "Poz. 7 Ustawa ze spisem") + Placeholder("D97001200077") +  // its contents as child
                Node("Poz. 6 Ustawa C", "D9700120006") +                         // three versions
                Link(3, "Poz. 5 Ustawa o \\\"próbie\\\"") + "\r\n");
}

TEST_F(TreeTest, PositionListsTheVersionsOfTheAct) {
  EXPECT_EQ(Tree("Publ=Vamu&Name=D9700120006"),
            Link(6, "Zmiana  M.P.98.4.10 ") + "\r\n" + Link(4, "Tekst Pierwotny") + "\r\n" +
                Link(5, "Zmiana  Dz.U.96.7.33 ") + Placeholder("D97001200065") + "\r\n");
}

TEST_F(TreeTest, RulingIsNoVersion) {
  // The act's only entry is a ruling: its version level lists nothing.
  EXPECT_EQ(Tree("Publ=Vamu&Name=D9700030009"), kUnavailable);
  // Listed under its number, the ruling-only act has a link and no child;
  // its title belongs to no first text.
  EXPECT_EQ(Tree("Publ=Vamu&Name=D970003"), Link(2, "Poz. 9 ") + Link(1, "Poz. 1 Ustawa B") + "\r\n");
}

TEST_F(TreeTest, ItemIndexListsTheDocumentsContents) {
  EXPECT_EQ(Tree("Publ=Vamu&Name=D97001200077"),
            "2 -t portico.dll?Topic&7#r1 \"Rozdział -1\"\r\n"
            "3 -t portico.dll?Topic&7#a1 \"Art. 1\"\r\n"
            "3 -t portico.dll?Topic&7#a2 \"Art. \\\"2\\\"\"\r\n");  // whole lines
  EXPECT_EQ(Tree("Publ=Vamu&Name=D97001200088"), kUnavailable);  // no contents
  EXPECT_EQ(Tree("Publ=Vamu&Name=D9700120007999999999999"), kUnavailable);
}

TEST_F(TreeTest, UnknownSourcesAndLevelsAreUnavailable) {
  EXPECT_EQ(Tree("Publ=Other&Name=D"), kUnavailable);
  EXPECT_EQ(Tree("Name=D"), kUnavailable);
  EXPECT_EQ(Tree("Publ=Vamu"), kUnavailable);
  EXPECT_EQ(Tree("Publ=Vamu&Name=D9700120077"), kUnavailable);
  EXPECT_EQ(Tree("Publ=Vamu&Name=D42"), kUnavailable);
  EXPECT_EQ(Tree("Publ=VamuSpis&Name=Nope"), kUnavailable);
  EXPECT_EQ(Tree("Publ=Vamu&Name=Dxx99999999999999999999"), kUnavailable);
}

TEST_F(TreeTest, ContentsFileGetsItsActsSpliced) {
  EXPECT_EQ(Tree("Publ=VamuSpis&Name=DzU"),
            "1 -id \"Dziennik Ustaw\"\r\n" + Link(3, "Dz.U.97.12.5 - Ustawa o \\\"próbie\\\"") + "\r\n" +
                "1 -t portico.dll?Topic&1 \"Inny\"\r\n3 -dd bez nazwy\r\n1 -id \"Koniec\"\r\n");
  EXPECT_EQ(Tree("Publ=VamuSpis&Name=plain"), "1 -id \"A\"\r\n2 -t x \"B\"\r\n  -dd");
  // Only "NAME=" in capitals makes a line a splice directive's name.
  EXPECT_EQ(Tree("Publ=VamuSpis&Name=case"), "1 -dd\r\n2 -t portico.dll?TreeToc&Publ=Vamu&Name=D97 \"R\"\r\n");
}

TEST_F(TreeTest, HtmlPageLinksToTheNextLevelsPages) {
  std::string expected = ListHead("Dz.U.");
  for (const char* year : {"2007", "2000", "1999", "1998", "1997", "1995"}) {
    std::string y = std::string(year).substr(2);
    expected += ListEntry(kBase + "D" + y + "&HTML=YES&TITLE=Dz.U.\\Rocznik " + year, std::string("Rocznik ") + year);
  }
  EXPECT_EQ(Tree("Publ=Vamu&Name=D&HTML=YES&TITLE=Dz.U."), expected + "</UL></BODY></HTML>");
}

TEST_F(TreeTest, HtmlPageOfVersionsAndContents) {
  // The title keeps its case and its %XX escapes are decoded; "+" stays.
  EXPECT_EQ(Tree("Publ=Vamu&Name=D9700120006&html=yes&Title=Ab%20c+d"),
            ListHead("Ab c+d") + ListEntry("portico.dll?Topic&6", "Zmiana  M.P.98.4.10 ") +
                ListEntry("portico.dll?Topic&4", "Tekst Pierwotny") +
                ListEntry("portico.dll?Topic&5", "Zmiana  Dz.U.96.7.33 ") + "</UL></BODY></HTML>");
  EXPECT_EQ(Tree("Publ=Vamu&Name=D97001200077&HTML=YES"),
            ListHead("Bez tytułu") + "<UL>" + ListEntry("portico.dll?Topic&7#r1", "Rozdział -1") + "<UL>" +
                ListEntry("portico.dll?Topic&7#a1", "Art. 1") + ListEntry("portico.dll?Topic&7#a2", "Art. \\\"2\\\"") +
                "</UL></BODY></HTML>");
  EXPECT_EQ(Tree("Publ=Other&HTML=YES&TITLE=x"), ListHead("x") + "</UL></BODY></HTML>");
}

TEST_F(TreeTest, TitleCannotInjectMarkup) {
  std::string page = Tree("Publ=Vamu&Name=M&HTML=YES&TITLE=%3Cscript%3E%22%26x%3C/title%3E");
  EXPECT_EQ(page, ListHead("&lt;script&gt;&quot;&amp;x&lt;/title&gt;") +
                      ListEntry(kBase + "M98&HTML=YES&TITLE=%3Cscript%3E%22%26x%3C/title%3E\\Rocznik 1998", "Rocznik 1998") +
                      "</UL></BODY></HTML>");
  EXPECT_EQ(page.find("<script"), std::string::npos);
  // A "%" without two hexadecimal digits stays as it is.
  EXPECT_NE(Tree("Publ=Vamu&Name=M&HTML=YES&TITLE=a%2").find("<title>Vamu Qad'98\\a%2</title>"), std::string::npos);
}

TEST(TreeScript, ContentsEntriesWithoutLinksDoNotBorrowTheNextOne) {
  EXPECT_EQ(ContentsTreeLines("<UL><LI>Rozdział<UL><LI><A HREF=x#1>A</A></UL></UL>"), "3 -t x#1 \"A\"\r\n");
  // Only whole UL and LI tags count: neither LINK nor an underline end.
  EXPECT_EQ(ContentsTreeLines("<ul><u>u</u><li><a href = \"y\">B\n<i>C</i></a><link href=z></ul>"), "2 -t y \"B-C\"\r\n");
  EXPECT_EQ(ContentsTreeLines("<UL><LI><A HREF=\"unterminated"), "");
  EXPECT_EQ(ContentsTreeLines("<LI><A HREF=a>x"), "1 -t a \"x\"\r\n");
  EXPECT_EQ(ContentsTreeLines(""), "");
}

TEST(TreeScript, ListPageReadsQuotedAndBareTokens) {
  EXPECT_EQ(TreeListPage("\x01\x02" "2 -t u1 \"a \\\" b\"\r\n1 -t u2 bare\r\n\r\n7\r\n", "T"),
            ListHead("T") + "<UL>" + ListEntry("u1", "a \\\" b") + "</UL>" + ListEntry("u2", "bare") + "</UL></BODY></HTML>");
  // A placeholder without a node before it, and a node without placeholder, show nothing.
  EXPECT_EQ(TreeListPage("2 -t u \"Ładuje...\"\r\n1 -id \"held\"\r\n", "T"), ListHead("T") + "</UL></BODY></HTML>");
}

TEST_F(TreeTest, SynchronizeCountsTheLinesOfThePath) {
  EXPECT_EQ(Sync("PUBL=VAMU&NAME=D9700120005D9700120005"), "0,1,6,7,11/11,11");
  // The contents tree's name carries no number: the act supplies it.
  EXPECT_EQ(Sync("Publ=Vamu&Name=D9700000005D9700000005"), "0,1,6,7,11/11,11");
}

TEST_F(TreeTest, SynchronizeOpensTheVersionShown) {
  // Versions listed: M.P. 98/4/10, the first text, Dz.U. 96/7/33.
  EXPECT_EQ(Sync("Publ=Vamu&Name=D9700120006D9600070033"), "0,1,6,7,10,13/13,13");
  EXPECT_EQ(Sync("Publ=Vamu&Name=D9700120006D9700990006"), "0,1,6,7,10,12/12,12");  // number not compared
  EXPECT_EQ(Sync("Publ=Vamu&Name=D9700120006M9800040010"), "0,1,6,7,10,11/11,11");
  EXPECT_EQ(Sync("Publ=Vamu&Name=D9700120006D9500010001"), "0/0,0");
  EXPECT_EQ(Sync("Publ=Vamu&Name=D9700120006"), "0/0,0");  // no version named
}

TEST_F(TreeTest, SynchronizeOfMpAndOfUnknownActs) {
  EXPECT_EQ(Sync("Publ=Vamu&Name=M9800040010M9800040010"), "0,2,3,4,5/5,5");
  EXPECT_EQ(Sync("Publ=Vamu&Name=D9700120077D9700120077"), "0/0,0");
  EXPECT_EQ(Sync("Publ=Vamu&Name=D4200010001"), "0/0,0");
  EXPECT_EQ(Sync("Publ=Other&Name=D9700120005D9700120005"), "0/0,0");
  EXPECT_EQ(Sync("Name=D9700120005"), "0/0,0");
  EXPECT_EQ(Sync("Publ=Vamu"), "0/0,0");
  EXPECT_EQ(Sync(""), "0/0,0");
  EXPECT_EQ(Sync("Publ=Vamu&Name=" + std::string(5000, '9')), "0/0,0");
}

TEST(ActNodeName, FieldsByPosition) {
  ActNode n = ParseActNodeName("D9700120005517");
  EXPECT_EQ(n.level, TreeLevel::kContents);
  EXPECT_EQ(n.nItem, 517);
  EXPECT_EQ(n.ref, _RNP::Make(0, 97, 12, 5));
  EXPECT_EQ(ParseActNodeName("M97").ref, _RNP::Make(1, 97, 0, 0));
  EXPECT_EQ(ParseActNodeName("M97").level, TreeLevel::kNumbers);
  EXPECT_EQ(ParseActNodeName("X").level, TreeLevel::kYears);
  EXPECT_EQ(ParseActNodeName("X").ref, _RNP::Make(0, 0, 0, 0));
  EXPECT_EQ(ParseActNodeName("D-1-0120005").ref, _RNP::Make(0, 0, 0, 5));  // negative fields read as 0
}

}  // namespace
}  // namespace portico
