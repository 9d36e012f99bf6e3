// Reading act references from item names and document titles, and the
// catalogue's case-insensitive search that the title reading shares.
#include <gtest/gtest.h>

#include <string>

#include "biblion/act_parse.h"
#include "biblion/srv_srv.h"
#include "biblion/text_search.h"

namespace {

using biblion::ActEntry;

_RNP R(DWORD kind, DWORD year, DWORD number, DWORD position, DWORD prefix = 0) {
  return _RNP::Make(kind, year, number, position, prefix);
}

struct Refs {
  bool ok = false;
  _RNP first, second;
};

Refs Name(const std::string& name) {
  Refs r;
  r.ok = biblion::ParseItemName(name, r.first, r.second);
  return r;
}

// The entry of a document with this name and title.
Refs Entry(const std::string& name, const std::string& title) {
  std::string text = "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD><BODY>x</BODY></HTML>";
  ActEntry e{};
  Refs r;
  r.ok = biblion::MakeActEntry(name, text, 7, e);
  r.first = _RNP(e.dwFirst);
  r.second = _RNP(e.dwSecond);
  return r;
}

std::string Title(const std::string& text) { return std::string(biblion::ExtractTitle(text)); }

TEST(RnpTest, FieldsPackIntoTheirBitsAndOrderAsUnsignedNumbers) {
  _RNP r = R(1, 97, 12, 34, 1);
  EXPECT_EQ(r.dw, (1u << 28) | (97u << 21) | (12u << 12) | (1u << 11) | 34u);
  EXPECT_EQ(r.Kind(), 1u);
  EXPECT_EQ(r.Year(), 97u);
  EXPECT_EQ(r.Number(), 12u);
  EXPECT_EQ(r.Prefix(), 1u);
  EXPECT_EQ(r.Position(), 34u);
  // Too large values keep the bits their field holds (number 2000 -> 464).
  EXPECT_EQ(R(0, 0, 2000, 0).Number(), 464u);
  EXPECT_EQ(R(0, 0, 0, 2049).Position(), 1u);
  EXPECT_EQ(R(0, 0, 0, 2049).Number(), 0u);
  EXPECT_LT(R(0, 99, 511, 2047), R(1, 0, 0, 0));
  EXPECT_LT(R(0, 97, 12, 2047, 0), R(0, 97, 12, 0, 1));
}

TEST(ItemNameTest, ReadsJournalYearAndPositionOfBothParts) {
  Refs a = Name("DU\\D97034.HTM");
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(a.first, R(0, 97, 0, 34));
  EXPECT_EQ(a.second, R(15, 0, 0, 0));

  Refs b = Name("du\\d97034m98012.htm");  // any letter case
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.first, R(0, 97, 0, 34));
  EXPECT_EQ(b.second, R(1, 98, 0, 12));

  EXPECT_EQ(Name("M99005O00007.HTM").second, R(2, 0, 0, 7));
  EXPECT_EQ(Name("X97001.HTM").first, R(15, 97, 0, 1));
  // No path separator and no extension: the whole name is read.
  EXPECT_EQ(Name("D970483").first, R(0, 97, 0, 483));
  // A '.' in a directory is no extension.
  EXPECT_EQ(Name("ARCH.2\\D97034").first, R(0, 97, 0, 34));
}

TEST(ItemNameTest, ImagesAndNamesWithoutYearGiveNoEntry) {
  for (const char* name : {"DU\\D97034.JPG", "DU\\D97034.gif", "D97034.Jpg", "HOME.HTM", "D9.HTM", "D", "",
                           "D9X034.HTM", "\\"})
    EXPECT_FALSE(Name(name).ok) << name;
  EXPECT_TRUE(Name("D97034.JPEG").ok);
}

TEST(ItemNameTest, IncompleteSecondPartMeansNone) {
  for (const char* name : {"D97034A.HTM", "D97034D9.HTM", "D97034D9X1.HTM"}) {
    Refs r = Name(name);
    ASSERT_TRUE(r.ok) << name;
    EXPECT_EQ(r.first, R(0, 97, 0, 34)) << name;
    EXPECT_EQ(r.second, R(15, 0, 0, 0)) << name;
  }
  // A letter alone names the kind: the rulings list of an act is kind O.
  EXPECT_EQ(Name("D97483O.HTM").second, R(2, 0, 0, 0));
  EXPECT_EQ(Name("D97483M").second, R(1, 0, 0, 0));
  // Digits beyond the field keep its bits, as the packed reference does.
  EXPECT_EQ(Name("D9799999.HTM").first.Position(), 99999u & 0x7FF);
}

TEST(TitleTest, FindsTheTitleInEitherLetterCase) {
  EXPECT_EQ(Title("<HTML><HEAD><TITLE>Ustawa o lasach</TITLE></HEAD>"), "Ustawa o lasach");
  EXPECT_EQ(Title(" \r\n\t<html><head><title>lower</title></head>"), "lower");
  EXPECT_EQ(Title("<Html><Title lang=pl>mixed</tItLe>"), "mixed");
  // The first TITLE tag counts, also when an upper-case tag follows it.
  EXPECT_EQ(Title("<html><title>first</title><TABLE><TITLE>second</TITLE>"), "first");
  EXPECT_EQ(Title("<HTML><TD>cell</TD><TITLE>after a cell</TITLE>"), "after a cell");
  EXPECT_EQ(Title("<HTML><TITLE></TITLE>"), "");
}

TEST(TitleTest, AnythingElseGivesAnEmptyTitle) {
  for (const char* text : {"", "<HT", "<!DOCTYPE html><HTML><TITLE>x</TITLE>", "text <HTML><TITLE>x</TITLE>",
                           "<HTML><HEAD></HEAD><BODY>no title</BODY>", "<HTML><TITLE>unterminated",
                           "<HTML><TITLE", "<HTML><TIT"})
    EXPECT_EQ(Title(text), "") << text;
}

TEST(TitleTest, TerminatedTextGivesUpTheLastByteAndStopsAtNul) {
  const BYTE text[] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(biblion::TerminatedText(text, 4), "abc");
  const BYTE nul[] = {'a', 0, 'c', 'd'};
  EXPECT_EQ(biblion::TerminatedText(nul, 4), "a");
  EXPECT_EQ(biblion::TerminatedText(text, 1), "");
  EXPECT_EQ(biblion::TerminatedText(text, 0), "");
  // A title that reaches the last byte loses its end and with it the title.
  std::string doc = "<HTML><TITLE>t</TITLE>";
  EXPECT_EQ(biblion::ExtractTitle(biblion::TerminatedText(reinterpret_cast<const BYTE*>(doc.data()), doc.size())),
            "t");
  EXPECT_EQ(biblion::ExtractTitle(biblion::TerminatedText(reinterpret_cast<const BYTE*>(doc.data()), 16)), "");
}

TEST(CitationTest, ActNumberFromDzUCitation) {
  Refs r = Entry("DU\\D97034.HTM", "Ustawa o lasach (Dz.U.97.12.34)");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.first, R(0, 97, 12, 34));
  // No second part: the second reference takes the act's number.
  EXPECT_EQ(r.second, R(15, 0, 12, 0));
  EXPECT_EQ(Entry("D97034.HTM", "ustawa (dz.u.97.12.34)").first, R(0, 97, 12, 34));
}

TEST(CitationTest, OnlyTheJournalsLettersCiteThem) {
  // "DzNUN" and "MNPN" are no citations: the real one behind them counts.
  EXPECT_EQ(Entry("D97034.HTM", "Ustawa DzNUN98.5.1 (Dz.U.97.12.34)").first, R(0, 97, 12, 34));
  EXPECT_EQ(Entry("M99005.HTM", "Uchwala MNPN98.4.1 (M.P.99.3.5)").first, R(1, 99, 3, 5));
  EXPECT_EQ(Entry("D97034.HTM", "Ustawa DzNUN98.5.1").first, R(0, 97, 0, 34));
}

TEST(CitationTest, TheEarlierOfDzUAndMPCounts) {
  EXPECT_EQ(Entry("M99005.HTM", "Uchwala (M.P.99.3.5), zm. Dz.U.99.7.1").first.Number(), 3u);
  EXPECT_EQ(Entry("D99001.HTM", "Ustawa (Dz.U.99.7.1), zob. M.P.99.3.5").first.Number(), 7u);
  EXPECT_EQ(Entry("M99005.HTM", "Uchwala (M.P.99.3.5)").first.Number(), 3u);
}

TEST(CitationTest, NonDigitsBeforeTheNumberSetThePrefixFlag) {
  Refs r = Entry("D97483.HTM", "Ustawa (Dz.U. z 1997 r. Nr 78, poz. 483)");
  EXPECT_EQ(r.first, R(0, 97, 78, 483, 1));
  EXPECT_EQ(r.second, R(15, 0, 78, 0, 1));
  // Non-digits only: the flag without a number.
  EXPECT_EQ(Entry("D97483.HTM", "Ustawa (Dz.U.97.Nr.483)").first, R(0, 97, 0, 483, 1));
}

TEST(CitationTest, AmendmentTakesTheNumberOfTheFurtherCitation) {
  Refs a = Entry("D97034D98012.HTM", "Ustawa (Dz.U.97.12.34) zmieniona (Dz.U.98.5.12)");
  EXPECT_EQ(a.first, R(0, 97, 12, 34));
  EXPECT_EQ(a.second, R(0, 98, 5, 12));
  // A further Dz.U. is preferred to a further M.P. even when it comes later.
  Refs b = Entry("D97034M98012.HTM", "Ustawa (Dz.U.97.12.34) zm. M.P.98.9.12 i Dz.U.98.6.1");
  EXPECT_EQ(b.second, R(1, 98, 6, 12));
  Refs c = Entry("D97034M98012.HTM", "Ustawa (Dz.U.97.12.34) zm. M.P.98.Nr 9.12");
  EXPECT_EQ(c.second, R(1, 98, 9, 12, 1));
  // No further citation: number 1.
  EXPECT_EQ(Entry("D97034D98012.HTM", "Ustawa (Dz.U.97.12.34)").second, R(0, 98, 1, 12));
  // Same year and position: the first text, which refers to itself.
  Refs d = Entry("D97034D97034.HTM", "Ustawa (Dz.U. 1997 r. Nr 12, poz. 34)");
  EXPECT_EQ(d.first, R(0, 97, 12, 34, 1));
  EXPECT_EQ(d.second, d.first);
}

TEST(CitationTest, TitlesWithoutUsableCitation) {
  // No title, or none of the two journals cited: numbers stay 0, also for an amendment.
  EXPECT_EQ(Entry("D97034D98012.HTM", "").second, R(0, 98, 0, 12));
  EXPECT_EQ(Entry("D97034D98012.HTM", "Ustawa o lasach").first, R(0, 97, 0, 34));
  EXPECT_EQ(Entry("D97034D98012.HTM", "Ustawa o lasach").second, R(0, 98, 0, 12));
  // A number text not closed by another '.' runs to the end of the title.
  EXPECT_EQ(Entry("D97034.HTM", "Ustawa Dz.U.97.12").first.Number(), 12u);
  // Fewer than two dots behind the citation: no number text.
  EXPECT_EQ(Entry("D97034.HTM", "Ustawa Dz.U.1997").first, R(0, 97, 0, 34));
  EXPECT_EQ(Entry("D97034.HTM", "Ustawa Dz.U.").first, R(0, 97, 0, 34));
  EXPECT_EQ(Entry("D97034.HTM", "Dz.U.97..34").first, R(0, 97, 0, 34));
}

TEST(StringSearchTest, AsciiLettersMatchInEitherCase) {
  const char* text = "Ustawa o Lasach";
  EXPECT_EQ(CSrvSrv::StrStrN(text, "LASACH"), text + 9);
  EXPECT_EQ(CSrvSrv::StrStrN(text, "ustawa"), text);
  const char* aab = "aab";
  EXPECT_EQ(CSrvSrv::StrStrN(aab, "AB"), aab + 1);  // a partial match restarts one byte later
  EXPECT_EQ(CSrvSrv::StrStrN(text, "lasy"), nullptr);
  EXPECT_EQ(CSrvSrv::StrStrN(nullptr, "a"), nullptr);
  EXPECT_EQ(CSrvSrv::StrStrN(text, nullptr), nullptr);
  EXPECT_EQ(CSrvSrv::StrStrN(text, ""), text);
  EXPECT_EQ(CSrvSrv::StrStrN("ab", "abc"), nullptr);
}

TEST(StringSearchTest, PolishLettersMatchTheirOtherCaseBothWays) {
  // windows-1250: ą/Ą ć/Ć ę/Ę ł/Ł ń/Ń ó/Ó ś/Ś ź/Ź ż/Ż.
  const unsigned char pairs[][2] = {{0xB9, 0xA5}, {0xE6, 0xC6}, {0xEA, 0xCA}, {0xB3, 0xA3}, {0xF1, 0xD1},
                                    {0xF3, 0xD3}, {0x9C, 0x8C}, {0x9F, 0x8F}, {0xBF, 0xAF}};
  for (const auto& p : pairs) {
    const char lower[] = {'k', static_cast<char>(p[0]), 'r', 0};
    const char upper[] = {'K', static_cast<char>(p[1]), 'R', 0};
    const char small[] = {static_cast<char>(p[0]), 0};
    const char capital[] = {static_cast<char>(p[1]), 0};
    EXPECT_EQ(CSrvSrv::StrStrN(lower, capital), lower + 1) << int(p[0]);
    EXPECT_EQ(CSrvSrv::StrStrN(upper, small), upper + 1) << int(p[0]);
    EXPECT_EQ(CSrvSrv::StrStrN(upper, lower), upper) << int(p[0]);
    EXPECT_EQ(CSrvSrv::StrChrU(lower, static_cast<char>(p[1])), lower + 1) << int(p[0]);
    EXPECT_EQ(CSrvSrv::StrChrU(upper, static_cast<char>(p[0])), upper + 1) << int(p[0]);
  }
}

TEST(StringSearchTest, NonLettersMatchOnlyThemselves) {
  EXPECT_EQ(CSrvSrv::StrStrN("DzNUN", "Dz.U."), nullptr);
  EXPECT_EQ(CSrvSrv::StrStrN("RI", "2)"), nullptr);
  EXPECT_EQ(CSrvSrv::StrChrU("xN", '.'), nullptr);
  EXPECT_EQ(CSrvSrv::StrChrU("x{", '['), nullptr);
  EXPECT_EQ(CSrvSrv::StrChrU("x@", '`'), nullptr);
  const char* citation = "a dz.u.97";
  EXPECT_EQ(CSrvSrv::StrStrN(citation, "Dz.U."), citation + 2);
}

TEST(StringSearchTest, StrChrUFindsTheOtherCase) {
  const char* text = "xyzA";
  EXPECT_EQ(CSrvSrv::StrChrU(text, 'a'), text + 3);
  EXPECT_EQ(CSrvSrv::StrChrU(text, 'b'), nullptr);
  EXPECT_EQ(CSrvSrv::StrChrU(nullptr, 'a'), nullptr);
}

TEST(StringSearchTest, TheTerminatingNulIsNeverMatched) {
  EXPECT_EQ(CSrvSrv::StrChrU("abc", '\xE0'), nullptr);
  EXPECT_EQ(CSrvSrv::StrStrN("abc", "c\xE0"), nullptr);
  EXPECT_EQ(CSrvSrv::StrStrN("", "\xE0"), nullptr);
  EXPECT_EQ(CSrvSrv::StrChrU("abc", '\0'), nullptr);
}

}  // namespace
