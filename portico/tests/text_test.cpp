// Shared text operations: numbers, designations, comment removal, link
// rewriting, request text decoding and escaping, synchronisation names.
#include <gtest/gtest.h>

#include <string>

#include "portico/document.h"
#include "portico/text.h"
#include "portico/topic.h"

namespace portico {
namespace {

TEST(DecimalValue, ReadsLeadingSignedIntegerAndSaturates) {
  EXPECT_EQ(DecimalValue("517"), 517);
  EXPECT_EQ(DecimalValue("-4&x"), -4);
  EXPECT_EQ(DecimalValue("x5"), 0);
  EXPECT_EQ(DecimalValue(""), 0);
  EXPECT_EQ(DecimalValue("4294967295"), 2147483647);
  EXPECT_EQ(DecimalValue("99999999999999999999999999"), 2147483647);
  EXPECT_EQ(DecimalValue("-99999999999999999999999999"), -2147483647 - 1);
  std::size_t end = 0;
  DecimalValue("12ab", &end);
  EXPECT_EQ(end, 2u);
}

TEST(Designation, DigitsToTheEndOrAnAmpersandAreAnIndex) {
  EXPECT_TRUE(ParseDesignation("5").bIndex);
  EXPECT_EQ(ParseDesignation("5").nIndex, 5);
  EXPECT_EQ(ParseDesignation("-4&SrchNotes").nIndex, -4);
  EXPECT_TRUE(ParseDesignation("-").bIndex);
  EXPECT_EQ(ParseDesignation("-").nIndex, 0);
  EXPECT_FALSE(ParseDesignation("NAME").bIndex);
  EXPECT_EQ(ParseDesignation("NAME").name, "NAME");
}

TEST(Designation, NameStartingWithDigitsIsAName) {
  Designation d = ParseDesignation("97D0123");
  EXPECT_FALSE(d.bIndex);
  EXPECT_EQ(d.name, "97D0123");
  EXPECT_TRUE(NameReadsAsIndex("1234"));
  EXPECT_FALSE(NameReadsAsIndex("97D0123"));
}

TEST(Designation, OverflowingIndexNamesNoItem) {
  Designation d = ParseDesignation("99999999999");
  EXPECT_TRUE(d.bIndex);
  EXPECT_EQ(d.nIndex, 2147483647);
}

CPageText Stripped(const std::string& s) {
  CPageText t = CPageText::Copy(s);
  RemoveComments(t);
  return t;
}

TEST(RemoveComments, RemovesEveryCommentAndKeepsTheZero) {
  CPageText t = Stripped("a<!--x-->b<!--LINE Search@-->c<!---->d");
  EXPECT_EQ(t.View(), "abcd");
  EXPECT_EQ(t.Data()[t.Length()], '\0');
}

TEST(RemoveComments, UnterminatedCommentRunsToTheEnd) {
  EXPECT_EQ(Stripped("text<!-- open").View(), "text");
  EXPECT_EQ(Stripped("<!--").View(), "");
  EXPECT_EQ(Stripped("<!-->x").View(), "");  // "-->" is looked for behind "<!--"
}

TEST(RemoveComments, JoinedTextIsNotSearchedAgainBehindTheDeletion) {
  // "<!" + comment + "--x-->" leaves "<!--x-->" whose start lies before the
  // place of the deletion, so it stays.
  EXPECT_EQ(Stripped("<!<!--a-->--x-->y").View(), "<!--x-->y");
}

TEST(PageText, CutAtZero) {
  CPageText t = CPageText::Copy(std::string("ab\0cd", 5));
  t.CutAtZero();
  EXPECT_EQ(t.View(), "ab");
}

TEST(PercentDecode, DecodesEscapesAndLeavesBrokenOnes) {
  EXPECT_EQ(PercentDecode("kodeks+karny%21", true), "kodeks karny!");
  EXPECT_EQ(PercentDecode("a+b", false), "a+b");
  EXPECT_EQ(PercentDecode("end%", true), "end%");
  EXPECT_EQ(PercentDecode("end%4", true), "end%4");
  EXPECT_EQ(PercentDecode("%zz%41", true), "%zzA");
  EXPECT_EQ(PercentDecode("%2541", true), "%41");  // decoded bytes are not decoded again
}

TEST(HtmlEscape, EscapesMarkupCharacters) {
  EXPECT_EQ(HtmlEscape("<a href=\"x\">&'</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;&lt;/a&gt;");
}

TEST(FindNoCase, FindsAnyCaseWithinTheText) {
  EXPECT_EQ(FindNoCase("xx<body>", "<BODY"), 2u);
  EXPECT_EQ(FindNoCase("ART", "ARTX"), npos);
  EXPECT_EQ(FindNoCase("abc", "", 3), 3u);
  EXPECT_EQ(FindNoCase("abc", "c", 4), npos);
  EXPECT_EQ(FindNoCase("Ąb", "ąB"), 0u);  // windows-1250 letters
}

TEST(SynchronisationName, WidensBothNumberFields) {
  EXPECT_EQ(SynchronisationName("ABC123D01456").value(), "ABC00000123D0100000456");
  EXPECT_EQ(SynchronisationName("ABC1234D011234").value(), "ABC00001234D0100001234");
  EXPECT_EQ(SynchronisationName("ABC123M01456").value(), "ABC00000123M0100000456");
}

TEST(SynchronisationName, NoJournalLetterBehindThirdCharacterGivesNone) {
  EXPECT_FALSE(SynchronisationName("AD1234"));
  EXPECT_FALSE(SynchronisationName("ABD123"));
  EXPECT_FALSE(SynchronisationName("ABC123"));
  EXPECT_FALSE(SynchronisationName(""));
}

TEST(SynchronisationName, LetterNearTheEndGetsItsZerosAtTheEnd) {
  EXPECT_EQ(SynchronisationName("ABCD").value(), "ABC0000D0000");
  EXPECT_EQ(SynchronisationName("ABC12D").value(), "ABC000012D0000");
  EXPECT_EQ(SynchronisationName("ABC12D1").value(), "ABC000012D10000");
  EXPECT_EQ(SynchronisationName("ABC12D123").value(), "ABC000012D1200003");
}

TEST(NavigationValue, ValueRunsToTheNextAt) {
  EXPECT_EQ(NavigationValue("Search@ Notes=abc@ x", "Notes=").value(), "abc");
  EXPECT_EQ(NavigationValue("Notes=abc", "Notes=").value(), "");
  EXPECT_FALSE(NavigationValue("Search@", "Notes="));
  EXPECT_FALSE(NavigationValue("notes=abc@", "Notes="));  // keys are case-sensitive
}

std::string Rewritten(const std::string& s) {
  CPageText t = CPageText::Copy(s);
  RewriteLinks(t);
  EXPECT_EQ(t.Length(), s.size());
  return std::string(t.View());
}

TEST(RewriteLinks, TargetBehindTheReference) {
  EXPECT_EQ(Rewritten("<A HREF=portico.dll?Main&1234 TARGET=_top>x</A>"),
            "<A HREF=portico.dll?Topic&1234" + std::string(11, ' ') + ">x</A>");
}

TEST(RewriteLinks, TargetBeforeTheReference) {
  EXPECT_EQ(Rewritten("<a target=MAIN href=x?main&7>"), "<a            href=x?Topic&7>");
}

TEST(RewriteLinks, LowerCaseLinkWithTargetMain) {
  EXPECT_EQ(Rewritten("<a href=x?main&7 target=MAIN>t</a>"), "<a href=x?Topic&7" + std::string(11, ' ') + ">t</a>");
}

TEST(RewriteLinks, QuotedReferenceAndSpacedEquals) {
  EXPECT_EQ(Rewritten("<A HREF = \"p?Main&5\" TARGET = \"_top\">"), "<A HREF = \"p?Topic&5\"" + std::string(15, ' ') + ">");
}

TEST(RewriteLinks, LinksWithoutMainOrTargetStay) {
  EXPECT_EQ(Rewritten("<A HREF=x?Topic&5 TARGET=_top>"), "<A HREF=x?Topic&5 TARGET=_top>");
  EXPECT_EQ(Rewritten("<A HREF=x?Main&5>"), "<A HREF=x?Main&5>");
  EXPECT_EQ(Rewritten("<IMG SRC=Main.gif TARGET=x>"), "<IMG SRC=Main.gif TARGET=x>");
  // The word in the reference itself is not a target attribute.
  EXPECT_EQ(Rewritten("<A HREF=x?Main&TARGET>"), "<A HREF=x?Main&TARGET>");
}

TEST(RewriteLinks, AttributeNamesCountOnlyWhereAnAttributeStarts) {
  // Inside a quoted value or as the end of a longer name the words are no
  // attributes: such links have no target and stay as they are.
  EXPECT_EQ(Rewritten("<A TITLE=\"retarget\" HREF=x?Main&5>"), "<A TITLE=\"retarget\" HREF=x?Main&5>");
  EXPECT_EQ(Rewritten("<A HREF=x?Main&5 DATA-TARGET=y>"), "<A HREF=x?Main&5 DATA-TARGET=y>");
  EXPECT_EQ(Rewritten("<A TITLE=\"a HREF=x?Main&1\" HREF=y>"), "<A TITLE=\"a HREF=x?Main&1\" HREF=y>");
  EXPECT_EQ(Rewritten("<A XHREF=x?Main&5 TARGET=_top>"), "<A XHREF=x?Main&5 TARGET=_top>");
  // The real attributes beside such words are found.
  EXPECT_EQ(Rewritten("<A TITLE=\"retarget\" HREF=x?Main&5 TARGET=_top>"),
            "<A TITLE=\"retarget\" HREF=x?Topic&5" + std::string(11, ' ') + ">");
  EXPECT_EQ(Rewritten("<A DATA-TARGET=y TARGET='_top' HREF=x?Main&5 TITLE=\"href\">"),
            "<A DATA-TARGET=y " + std::string(13, ' ') + "HREF=x?Topic&5 TITLE=\"href\">");
  // A quoted target value is removed whole, blanks inside it too.
  EXPECT_EQ(Rewritten("<A HREF=\"x?Main&5\" TARGET=\"a b\">"), "<A HREF=\"x?Topic&5\"" + std::string(12, ' ') + ">");
}

TEST(RewriteLinks, UnclosedTagsAndOddInputStayInside) {
  EXPECT_EQ(Rewritten("<A HREF=x?Main&5 TARGET=_top"), "<A HREF=x?Main&5 TARGET=_top");
  EXPECT_EQ(Rewritten("<<<<<A HREF"), "<<<<<A HREF");
  EXPECT_EQ(Rewritten("<a target=href=x?main>"), "<a target=href=x?main>");
  EXPECT_EQ(Rewritten("<A HREF=>"), "<A HREF=>");
  EXPECT_EQ(Rewritten("<A TARGET>"), "<A TARGET>");
  std::string many(200000, '<');
  EXPECT_EQ(Rewritten(many + ">"), many + ">");
}

}  // namespace
}  // namespace portico
