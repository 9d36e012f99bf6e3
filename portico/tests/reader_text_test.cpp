// The pieces the reader pages are made of, each against an independent
// account: the conversion to UTF-8 against iconv, addresses against hand-made
// lists, the reading of act texts and the comparison of versions against
// what a reader sees in small documents written for the test.
#include <gtest/gtest.h>
#include <iconv.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "portico/act_text.h"
#include "portico/eli_address.h"
#include "portico/utf8.h"
#include "portico/version_diff.h"

namespace portico {
namespace {

std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

// What iconv makes of one windows-1250 byte; nothing where it has no character.
std::optional<std::string> IconvUtf8(unsigned char byte) {
  iconv_t cd = iconv_open("UTF-8", "CP1250");
  char in[1] = {static_cast<char>(byte)};
  char out[8];
  char* pin = in;
  char* pout = out;
  std::size_t inLeft = 1, outLeft = sizeof out;
  std::size_t r = iconv(cd, &pin, &inLeft, &pout, &outLeft);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1)) return std::nullopt;
  return std::string(out, pout);
}

TEST(Utf8, EveryByteAsIconvConvertsItAndUndefinedOnesAsReplacement) {
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    std::optional<std::string> expected = IconvUtf8(static_cast<unsigned char>(b));
    std::string got = Utf8FromCp1250(one);
    if (expected) {
      EXPECT_EQ(got, *expected) << "byte " << b;
      EXPECT_EQ(Cp1250FromUtf8(got), one) << "back from UTF-8, byte " << b;
    } else {
      EXPECT_EQ(got, "\xEF\xBF\xBD") << "byte " << b;
    }
  }
  EXPECT_EQ(Utf8FromCp1250("Władza zwierzchnia § 5"), U8(u8"Władza zwierzchnia § 5"));
}

TEST(Utf8, MalformedOrForeignTextIsRefused) {
  EXPECT_EQ(Cp1250FromUtf8(U8(u8"żółw")), std::string("żółw"));
  for (std::string bad : {std::string("\xC3"), std::string("\xC0\xAF"), std::string("\xE0\x80\xAF"),
                          std::string("\xED\xA0\x80"), std::string("\xF4\x90\x80\x80"), std::string("\xFF"),
                          std::string("a\x80"), U8(u8"日本"), U8(u8"\U0001F600")})
    EXPECT_FALSE(Cp1250FromUtf8(bad).has_value()) << bad;
}

TEST(EliAddress, EveryFormParsesToWhatItNames) {
  auto a = ParseEliAddress("/eli/DU/1997/483");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->act, (ActAddress{0, 1997, 483}));
  EXPECT_EQ(a->version, EliAddress::Version::kInForce);
  EXPECT_TRUE(a->provisions.empty());

  a = ParseEliAddress("/eli/MP/2009/12/pierwotny/art/5/ust/2/pkt/3");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->act, (ActAddress{1, 2009, 12}));
  EXPECT_EQ(a->version, EliAddress::Version::kFirst);
  EXPECT_EQ(a->provisions, (ProvisionPath{{ProvisionKind::kArticle, "5"},
                                          {ProvisionKind::kSection, "2"},
                                          {ProvisionKind::kPoint, "3"}}));
  EXPECT_EQ(ProvisionAddress(a->provisions), "/art/5/ust/2/pkt/3");
  EXPECT_EQ(ProvisionFragment(a->provisions), "art-5-ust-2-pkt-3");
  EXPECT_EQ(ProvisionCitation(a->provisions), "art. 5 ust. 2 pkt 3");

  a = ParseEliAddress("/eli/DU/1997/483/po/DU/2009/946/art/22(1)");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->version, EliAddress::Version::kAfter);
  EXPECT_EQ(a->after, (ActAddress{0, 2009, 946}));
  EXPECT_EQ(a->provisions, (ProvisionPath{{ProvisionKind::kArticle, "22(1)"}}));

  a = ParseEliAddress("/eli/DU/1964/93/art/5a/par/2/pkt/1/lit/b");
  ASSERT_TRUE(a);
  EXPECT_EQ(ProvisionCitation(a->provisions), "art. 5a § 2 pkt 1 lit. b");
  a = ParseEliAddress("/eli/DU/1997/483/zmiany");
  ASSERT_TRUE(a);
  EXPECT_TRUE(a->changes);
  EXPECT_EQ(EliVersionPath({0, 1997, 483}, ActAddress{0, 2006, 1471}), "/eli/DU/1997/483/po/DU/2006/1471");
  EXPECT_EQ(EliVersionPath({1, 1960, 7}, std::nullopt), "/eli/MP/1960/7/pierwotny");
}

TEST(EliAddress, AnythingElseIsNoAddress) {
  for (const char* bad :
       {"/eli/DU/1997", "/eli/DU/1997/483/", "/eli/du/1997/483", "/eli/DZ/1997/483", "/eli/DU/97/483",
        "/eli/DU/1959/483", "/eli/DU/2060/483", "/eli/DU/1997/0483", "/eli/DU/1997/2048", "/eli/DU/1997/-1",
        "/eli/DU/1997/483/art", "/eli/DU/1997/483/art/05", "/eli/DU/1997/483/art/5/art/6",
        "/eli/DU/1997/483/ust/2", "/eli/DU/1997/483/art/5/pkt/1/ust/2", "/eli/DU/1997/483/art/22(01)",
        "/eli/DU/1997/483/art/22(1", "/eli/DU/1997/483/art/5abcd", "/eli/DU/1997/483/art/<b>",
        "/eli/DU/1997/483/po/DU/2009", "/eli/DU/1997/483/po/XX/2009/946", "/eli/DU/1997/483/zmiany/art/5",
        "/eli/DU/1997/483/pierwotny/pierwotny", "/eli/DU/1997/483/art/123456", "/eli/DU/1997/483/art/5/lit/B",
        "/eli//DU/1997/483", "/api/DU/1997/483", "/eli/DU/1997/483%00"})
    EXPECT_FALSE(ParseEliAddress(bad).has_value()) << bad;
}

TEST(EliAddress, TwoDigitYearsAreReadInTheirWindow) {
  EXPECT_EQ(FourDigitYear(97), 1997);
  EXPECT_EQ(FourDigitYear(60), 1960);
  EXPECT_EQ(FourDigitYear(59), 2059);
  EXPECT_EQ(FourDigitYear(9), 2009);
  EXPECT_EQ(TwoDigitYear(2009), 9u);
  EXPECT_FALSE(TwoDigitYear(1959));
  for (unsigned y = 0; y < 100; ++y) EXPECT_EQ(TwoDigitYear(FourDigitYear(y)), y);
}

// An act in the markup of the site's documents.
const std::string kAct =
    "<HTML><HEAD><TITLE>Dz.U.97.1.5 - Ustawa</TITLE></HEAD>\r\n<BODY BGCOLOR=#FFFFFF>\r\n"
    "<H1>Ustawa o pr&oacute;bie</H1>\r\n<P ALIGN=CENTER><SMALL>Dz.U. 1997 nr 1 poz. 5</SMALL>\r\n"
    "<A NAME=\"H1\"></A><H3 ALIGN=CENTER>Rozdział I<BR>ZASADY</H3>\r\n"
    "<A NAME=\"A1\"></A><P>Art. 1. 1. Pierwszy <B>ustęp</B>.\r\n<P>2. Drugi ustęp:\r\n"
    "<DIV STYLE=\"margin-left:2em\"><P>1) punkt pierwszy,</DIV>\r\n"
    "<DIV STYLE=\"margin-left:4em\"><P>a) litera a,</DIV>\r\n"
    "<DIV STYLE=\"margin-left:2em\"><P>2) punkt drugi.</DIV>\r\n"
    "<A NAME=\"A2\"></A><P>Art. 2. Bez ustępów, 1.5 metra &amp; <script>alert(1)</script>x &lt;y&gt;.\r\n"
    "<A NAME=\"A22_1\"></A><P>Art. 22[1]. § 1. Paragraf<SUP>2</SUP>.\r\n<P>§ 2. Drugi paragraf.\r\n"
    "<P>Art. 23<SUP>1</SUP>. <I>Kursywa</I> i <U onclick=x>podkreślenie\r\n"
    "<P>Art. 115–129. (pominięte)\r\n"
    "</BODY></HTML>\r\n";

TEST(ActText, LinesCarryTheirProvisionsMarkupAndAnchors) {
  ActText act = ReadActText(kAct);
  std::vector<std::string> texts;
  for (const ActLine& l : act.lines) texts.push_back(l.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"Ustawa o próbie", "Dz.U. 1997 nr 1 poz. 5", "Rozdział I ZASADY",
                                             "Art. 1. 1. Pierwszy ustęp.", "2. Drugi ustęp:", "1) punkt pierwszy,",
                                             "a) litera a,", "2) punkt drugi.",
                                             "Art. 2. Bez ustępów, 1.5 metra & x <y>.",
                                             "Art. 22[1]. § 1. Paragraf^2.", "§ 2. Drugi paragraf.",
                                             "Art. 23^1. Kursywa i podkreślenie", "Art. 115–129. (pominięte)"}));
  ASSERT_EQ(act.lines.size(), 13u);
  EXPECT_EQ(act.lines[0].heading, 1);
  EXPECT_EQ(act.lines[2].heading, 3);
  EXPECT_EQ(act.lines[2].html, "Rozdział I<br>ZASADY");
  EXPECT_EQ(act.lines[2].anchors, std::vector<std::string>{"H1"});
  EXPECT_EQ(act.lines[3].anchors, std::vector<std::string>{"A1"});
  EXPECT_EQ(act.lines[3].html, "Art. 1. 1. Pierwszy <b>ustęp</b>.");
  EXPECT_EQ(act.lines[8].html, "Art. 2. Bez ustępów, 1.5 metra &amp; x &lt;y&gt;.") << "no script survives";
  EXPECT_EQ(act.lines[11].html, "Art. 23<sup>1</sup>. <i>Kursywa</i> i <u>podkreślenie</u>") << "balanced, no attributes";

  using K = ProvisionKind;
  const ProvisionPath art1{{K::kArticle, "1"}};
  EXPECT_EQ(act.lines[3].path, (ProvisionPath{{K::kArticle, "1"}, {K::kSection, "1"}}));
  EXPECT_EQ(act.lines[3].firstNew, 0u);
  EXPECT_EQ(act.lines[5].path, (ProvisionPath{{K::kArticle, "1"}, {K::kSection, "2"}, {K::kPoint, "1"}}));
  EXPECT_EQ(act.lines[6].path,
            (ProvisionPath{{K::kArticle, "1"}, {K::kSection, "2"}, {K::kPoint, "1"}, {K::kLetter, "a"}}));
  EXPECT_EQ(act.lines[7].path, (ProvisionPath{{K::kArticle, "1"}, {K::kSection, "2"}, {K::kPoint, "2"}}));
  EXPECT_EQ(act.lines[8].path, (ProvisionPath{{K::kArticle, "2"}})) << "\"1.5\" is no section";
  EXPECT_EQ(act.lines[9].path, (ProvisionPath{{K::kArticle, "22(1)"}, {K::kParagraph, "1"}}));
  EXPECT_EQ(act.lines[10].path, (ProvisionPath{{K::kArticle, "22(1)"}, {K::kParagraph, "2"}}));
  EXPECT_EQ(act.lines[11].path, (ProvisionPath{{K::kArticle, "23(1)"}}));
  EXPECT_EQ(act.lines[12].path, (ProvisionPath{{K::kArticle, "115-129"}}));
  EXPECT_TRUE(act.lines[1].path.empty());

  EXPECT_EQ(act.LinesOf(art1), (std::vector<std::size_t>{3, 4, 5, 6, 7}));
  EXPECT_EQ(act.LinesOf({{K::kArticle, "1"}, {K::kSection, "2"}, {K::kPoint, "1"}}), (std::vector<std::size_t>{5, 6}));
  EXPECT_TRUE(act.LinesOf({{K::kArticle, "3"}}).empty());
  EXPECT_EQ(act.lines[3].HtmlFrom(act.lines[3].articleLength), "1. Pierwszy <b>ustęp</b>.");
  EXPECT_EQ(act.lines[11].HtmlFrom(act.lines[11].articleLength), "<i>Kursywa</i> i <u>podkreślenie</u>");
  EXPECT_EQ(act.TopUnits().size(), 5u);
}

TEST(ActText, ActOfParagraphsAndHostileMarkup) {
  ActText act = ReadActText("<BODY><P>§ 1. Pierwszy.<P>1. ustęp<P>§ 2. Drugi<P><B><I>x</B>y<P>z</I>"
                            "<P>a &#8364; &#x0142; &#9731; &#0; &unknown; &</P><P>unfinished <B");
  ASSERT_GE(act.lines.size(), 6u);
  EXPECT_EQ(act.lines[0].path, (ProvisionPath{{ProvisionKind::kParagraph, "1"}}));
  EXPECT_EQ(act.lines[1].path, (ProvisionPath{{ProvisionKind::kParagraph, "1"}, {ProvisionKind::kSection, "1"}}));
  EXPECT_EQ(act.lines[2].path, (ProvisionPath{{ProvisionKind::kParagraph, "2"}}));
  EXPECT_EQ(act.lines[3].html, "<b><i>x</i></b>y");
  EXPECT_EQ(act.lines[4].html, "z");
  EXPECT_EQ(act.lines[5].text, "a \x80 \xB3 ? ? &unknown; &");
  // Nothing of the input ends up as a tag of its own.
  ActText hostile = ReadActText("<BODY><P>\"><img src=x onerror=alert(1)><P>a<a href=\"javascript:x\">b</a>");
  for (const ActLine& l : hostile.lines) EXPECT_EQ(l.html.find("<img"), std::string::npos) << l.html;
  for (const ActLine& l : hostile.lines) EXPECT_EQ(l.html.find("<a"), std::string::npos) << l.html;
}

TEST(ActText, LocationKeysOfRulingsNameProvisions) {
  using K = ProvisionKind;
  EXPECT_EQ(ProvisionOfLocationKey("B5UST2PKT3"),
            (ProvisionPath{{K::kArticle, "5"}, {K::kSection, "2"}, {K::kPoint, "3"}}));
  EXPECT_EQ(ProvisionOfLocationKey("B424(1)"), (ProvisionPath{{K::kArticle, "424(1)"}}));
  EXPECT_EQ(ProvisionOfLocationKey("B5§2PKT4"), (ProvisionPath{{K::kArticle, "5"}, {K::kParagraph, "2"}, {K::kPoint, "4"}}));
  EXPECT_EQ(ProvisionOfLocationKey("B5A"), (ProvisionPath{{K::kArticle, "5a"}}));
  EXPECT_EQ(ProvisionOfLocationKey("C3"), (ProvisionPath{{K::kParagraph, "3"}}));
  EXPECT_TRUE(ProvisionOfLocationKey("A").empty());
  EXPECT_TRUE(ProvisionOfLocationKey("BX").empty());
  EXPECT_EQ(ProvisionOfLocationKey("B5ZDANIE2"), (ProvisionPath{{K::kArticle, "5"}})) << "unknown words end the path";
}

// Articles compared the way a reader would: split at "Art. N." by hand.
std::map<std::string, std::string> ArticlesByHand(const std::vector<std::pair<std::string, std::string>>& articles) {
  return {articles.begin(), articles.end()};
}

std::string Doc(const std::vector<std::pair<std::string, std::string>>& articles) {
  std::string d = "<BODY><H1>Akt</H1>";
  for (const auto& [n, text] : articles) d += "<P>Art. " + n + ". " + text + "\r\n";
  return d + "</BODY>";
}

TEST(VersionDiff, ArticlesMatchedByNumberWithWordsMarked) {
  std::vector<std::pair<std::string, std::string>> before = {
      {"1", "Stały tekst."}, {"2", "Ala ma kota i psa."}, {"3", "Usunięty."}, {"22[1]", "Wstawiony dawno."}};
  std::vector<std::pair<std::string, std::string>> after = {
      {"1", "Stały tekst."}, {"2", "Ala ma dwa koty i psa."}, {"22[1]", "Wstawiony dawno, zmieniony."},
      {"22[2]", "Nowy."}};
  VersionComparison c = CompareVersions(ReadActText(Doc(before)), ReadActText(Doc(after)));
  EXPECT_EQ(c.unchanged, 1u);
  ASSERT_EQ(c.changes.size(), 4u);
  EXPECT_EQ(c.changes[0].unit.number, "2");
  EXPECT_EQ(c.changes[0].kind, ArticleChange::Kind::kChanged);
  EXPECT_EQ(c.changes[0].oldHtml, "Art. 2. Ala ma <del>kota</del> i psa.");
  EXPECT_EQ(c.changes[0].newHtml, "Art. 2. Ala ma <ins>dwa koty</ins> i psa.");
  EXPECT_EQ(c.changes[1].unit.number, "3");
  EXPECT_EQ(c.changes[1].kind, ArticleChange::Kind::kRemoved);
  EXPECT_EQ(c.changes[1].oldHtml, "<del>Art. 3. Usunięty.</del>");
  EXPECT_EQ(c.changes[2].unit.number, "22(1)");
  EXPECT_EQ(c.changes[2].newHtml, "Art. 22[1]. Wstawiony <ins>dawno, zmieniony.</ins>");
  EXPECT_EQ(c.changes[3].unit.number, "22(2)");
  EXPECT_EQ(c.changes[3].kind, ArticleChange::Kind::kAdded);
  // Every difference the hand-made lists have is found, and nothing else.
  auto a = ArticlesByHand(before), b = ArticlesByHand(after);
  std::set<std::string> expected;
  for (const auto& [n, t] : a) if (!b.count(n) || b[n] != t) expected.insert(n);
  for (const auto& [n, t] : b) if (!a.count(n)) expected.insert(n);
  std::set<std::string> found;
  for (const ArticleChange& ch : c.changes) {
    std::string n = ch.unit.number;
    if (auto p = n.find('('); p != std::string::npos) n = n.substr(0, p) + "[" + n.substr(p + 1, n.size() - p - 2) + "]";
    found.insert(n);
  }
  EXPECT_EQ(found, expected);
}

TEST(VersionDiff, AShortCommonWordBetweenLongChangesBelongsToThem) {
  VersionComparison c = CompareVersions(ReadActText("<BODY><P>Art. 1. stare słowa tutaj z bardzo dawnych czasów.</BODY>"),
                                        ReadActText("<BODY><P>Art. 1. nowe wyrazy w miejscu z zupełnie innych lat.</BODY>"));
  ASSERT_EQ(c.changes.size(), 1u);
  EXPECT_EQ(c.changes[0].oldHtml, "Art. 1. <del>stare słowa tutaj z bardzo dawnych czasów.</del>");
  EXPECT_EQ(c.changes[0].newHtml, "Art. 1. <ins>nowe wyrazy w miejscu z zupełnie innych lat.</ins>");
  // Beside a short change the common word stays common.
  c = CompareVersions(ReadActText("<BODY><P>Art. 1. a z b</BODY>"), ReadActText("<BODY><P>Art. 1. c z d</BODY>"));
  EXPECT_EQ(c.changes[0].newHtml, "Art. 1. <ins>c</ins> z <ins>d</ins>");
}

TEST(VersionDiff, MarkedTextIsEscapedAndLinesKept) {
  VersionComparison c = CompareVersions(ReadActText("<BODY><P>Art. 1. a &lt;b&gt;<P>2. c</BODY>"),
                                        ReadActText("<BODY><P>Art. 1. a &lt;b&gt;<P>2. d<P>3. e</BODY>"));
  ASSERT_EQ(c.changes.size(), 1u);
  EXPECT_EQ(c.changes[0].oldHtml, "Art. 1. a &lt;b&gt;<br>2. <del>c</del>");
  EXPECT_EQ(c.changes[0].newHtml, "Art. 1. a &lt;b&gt;<br>2. <ins>d</ins><br><ins>3. e</ins>");
  EXPECT_EQ(Words("a  b\nc"), (std::vector<std::string>{"a", "b", "\n", "c"}));
}

}  // namespace
}  // namespace portico
