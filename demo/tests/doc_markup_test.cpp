// The markup of the documents, read the way the pages and the catalogue read it.
#include <gtest/gtest.h>

#include "demo/doc_markup.h"
#include "demo/synthetic.h"
#include "demo/tests/name_rules.h"

using namespace vamucorpus;

namespace {

// The text between a comment's opening and the next "-->".
std::string Comment(const std::string& doc, const std::string& open) {
  auto b = doc.find(open);
  if (b == std::string::npos) return {};
  b += open.size();
  return doc.substr(b, doc.find("-->", b) - b);
}

ActText SmallAct() {
  ActText a;
  a.ref = {'D', 97, 78, 483};
  a.title = "Konstytucja & co";
  a.blocks.push_back({ActBlock::Text, "", {"KONSTYTUCJA"}});
  a.blocks.push_back({ActBlock::Heading, "", {"Rozdział I", "RZECZPOSPOLITA"}});
  a.blocks.push_back({ActBlock::Article, "4", {"1. Władza należy do Narodu.", "2. Naród sprawuje władzę:",
                                               "1) przez przedstawicieli,", "a) litera"}});
  a.blocks.push_back({ActBlock::Article, "22^1", {"Tekst."}});
  return a;
}

TEST(NamingScheme, FitsEveryReaderOfNames) {
  const ActRef act{'D', 97, 78, 483}, amendment{'D', 9, 114, 946};
  EXPECT_EQ(act.DocName(act), "D97483D97483");
  EXPECT_EQ(act.DocName(amendment), "D97483D09946");
  // Table of acts: the act, and the version as second reference.
  nametest::Ref first, second;
  nametest::ParseName(act.DocName(amendment) + ".HTM", first, second);
  EXPECT_EQ(first.kind, 0);
  EXPECT_EQ(first.year, 97);
  EXPECT_EQ(first.position, 483);
  EXPECT_EQ(second.year, 9);
  EXPECT_EQ(second.position, 946);
  nametest::ParseName(act.DocName(act) + ".HTM", first, second);
  EXPECT_EQ(second.year, first.year);  // the first text: "Tekst Pierwotny"
  EXPECT_EQ(second.position, first.position);
  // Rulings token and act prefix, the same for every version and journal mix.
  for (const ActRef& v : {act, amendment, ActRef{'M', 1, 2, 3}})
    EXPECT_EQ(nametest::ActPrefix(act.DocName(v)), "D97483");
  const ActRef mp{'M', 97, 12, 34};
  EXPECT_EQ(nametest::ActPrefix(mp.DocName(mp)), "M97034");
  EXPECT_EQ(nametest::ActPrefix(mp.DocName(act)), "M97034");
  EXPECT_EQ(act.RulingsListName(), nametest::ActPrefix(act.DocName(act)) + "O");
  EXPECT_EQ(act.RulingsKey(), "D97483OO");
  // The tree's synchronisation name: 22 characters, fields at fixed places.
  EXPECT_EQ(nametest::WidenedName(act.DocName(amendment)), "D9700000483D0900000946");
  const ActRef big{'D', 64, 43, 1093};
  EXPECT_EQ(nametest::WidenedName(big.DocName(big)), "D6400001093D6400001093");
  // An ".ATT" reference with the position written short finds the prefix.
  EXPECT_EQ(nametest::AttKey("D9793"), ActRef({'D', 97, 1, 93}).Prefix());
  // A ruling's name designates no act: no prefix, no tree name.
  EXPECT_EQ(nametest::ActPrefix(RulingName(11, 1)), "");
  EXPECT_EQ(nametest::WidenedName(RulingName(11, 1)), "");
  nametest::ParseName(RulingName(11, 1), first, second);
  EXPECT_EQ(first.kind, 2);
}

TEST(ActDocument, TitleNavigationLineAndKeys) {
  ActText a = SmallAct();
  Document d = ActDocument(a, a.ref, "PRAWOPUBLICZNE");
  EXPECT_EQ(d.name, "D97483D97483.HTM");
  EXPECT_EQ(d.keys, "D97483;PRAWOPUBLICZNE");
  EXPECT_EQ(d.data.rfind("<HTML><HEAD><TITLE>Dz.U.97.78.483 - Konstytucja &amp; co</TITLE>", 0), 0u);
  EXPECT_EQ(Comment(d.data, "<!--LINE"), " Search@ Home@ Notes=D97483D97483@ LinkedDoc=PRAWOPUBLICZNE@ ");
  EXPECT_NE(d.data.find("charset=windows-1250"), std::string::npos);
  Document v = ActDocument(a, {'D', 9, 114, 946}, "");
  EXPECT_NE(v.data.find("<TITLE>Dz.U.97.78.483 - Konstytucja &amp; co (zmiana: Dz.U.09.114.946)</TITLE>"),
            std::string::npos);
  EXPECT_EQ(Comment(v.data, "<!--LINE"), " Search@ Home@ Notes=D97483D09946@ ");
  EXPECT_EQ(v.keys, "D97483");
}

TEST(ActDocument, HeadingsWhereTheRulingMarkersLook) {
  ActText a = SmallAct();
  const std::string body = ActDocument(a, a.ref, "").data;
  // Title heading for the whole act, "<P>Art. N." with the first paragraph behind the ".",
  // later units right behind "<P>", superscripts in brackets.
  EXPECT_NE(body.find("<H1>Konstytucja &amp; co</H1>"), std::string::npos);
  EXPECT_NE(body.find("</A><P>Art. 4. 1. Władza należy do Narodu.\r\n<P>2. Naród"), std::string::npos);
  EXPECT_NE(body.find("\"><P>1) przez przedstawicieli,</DIV>"), std::string::npos);
  EXPECT_NE(body.find("<P>Art. 22[1]. Tekst."), std::string::npos);
  const std::string bodyOnly = body.substr(body.find("\r\n<BODY>\r\n<H1>"));
  EXPECT_EQ(bodyOnly.find("<!--"), std::string::npos);  // comments stay before the body
  EXPECT_EQ(body.substr(body.size() - 16), "</BODY></HTML>\r\n");
}

TEST(ActDocument, ContentsCommentLinksToAnchors) {
  ActText a = SmallAct();
  const std::string doc = ActDocument(a, a.ref, "").data;
  const std::string toc = Comment(doc, "<!--TOC");
  ASSERT_NE(toc.find("<BODY>"), std::string::npos);
  EXPECT_NE(toc.find("<A HREF=\"portico.dll?Topic&x#H1\" TARGET=VAMUTEXT>Rozdział I RZECZPOSPOLITA</A>"),
            std::string::npos);
  EXPECT_NE(toc.find("?Topic&x#A22_1\""), std::string::npos);
  // Every anchor the contents name exists in the document.
  for (std::size_t at = toc.find("#"); at != std::string::npos; at = toc.find("#", at + 1)) {
    std::string anchor = toc.substr(at + 1, toc.find('"', at) - at - 1);
    EXPECT_NE(doc.find("<A NAME=\"" + anchor + "\">"), std::string::npos) << anchor;
  }
  EXPECT_NE(Comment(doc, "<!--FOOT").find("<BODY>"), std::string::npos);
}

TEST(RulingDocument, ReferencesAndSection) {
  RulingDoc r;
  r.name = RulingName(11, 1);
  r.title = "Wyrok";
  r.acts.push_back({{'D', 97, 78, 483}, "Konstytucja", "D97483D09946", {"ART.146UST3", "ART.87-94"}, {}});
  r.acts.push_back({{'D', 64, 16, 93}, "KC", "D64093D64093", {}, {}});
  r.sentence = {"orzeka:", "jest zgodny."};
  r.reasons = {"Uzasadnienie"};
  Document d = RulingDocument(r);
  EXPECT_EQ(d.name, "O1100001.HTM");
  EXPECT_EQ(d.keys, "D97483OO;D64093OO");
  const std::string refs = Comment(d.data, "<META KEYS=\"");
  EXPECT_EQ(d.data.substr(d.data.find("<META KEYS=\"") + 12, d.data.find("\">", d.data.find("<META KEYS")) -
                                                                d.data.find("<META KEYS=\"") - 12),
            "D97483 O=SENT\r\nD97483 ART.146UST3=SENT\r\nD97483 ART.87-94=SENT\r\nD64093 O=SENT\r\n");
  auto anchor = d.data.find("<A NAME=\"SENT\">");
  auto begin = d.data.find("<!--BEGIN-->", anchor);
  auto end = d.data.find("<!--END-->", begin);
  ASSERT_NE(anchor, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  EXPECT_NE(d.data.substr(begin, end - begin).find("jest zgodny."), std::string::npos);
  EXPECT_EQ(d.data.find("Uzasadnienie"), d.data.rfind("Uzasadnienie"));
  EXPECT_GT(d.data.find("Uzasadnienie"), end);
  EXPECT_NE(d.data.find("portico.dll?Topic&D97483D09946"), std::string::npos);
}

TEST(RulingsList, NamedAfterTheActAndCitesIt) {
  Document d = RulingsListDocument({'D', 97, 78, 483}, "Konstytucja", {{"O1100001", "Wyrok <TK>", "art. 2"}});
  EXPECT_EQ(d.name, "D97483O.HTM");
  EXPECT_EQ(d.data.rfind("<HTML><HEAD><TITLE>Dz.U.97.78.483 - ", 0), 0u);
  EXPECT_NE(d.data.find("<BODY>"), std::string::npos);
  EXPECT_NE(d.data.find("portico.dll?Topic&O1100001\" TARGET=VAMUTEXT>Wyrok &lt;TK&gt;</A>"), std::string::npos);
}

TEST(ContentsFile, GroupsAndSpliceDirectives) {
  EXPECT_EQ(ContentsGroupLines("Prawo \"karne\"", "KARNE"),
            "1 -id \"Prawo \\\"karne\\\"\"\r\n2 -t portico.dll?TreeToc&Publ=VamuSpis&Name=KARNE \"Ładuje...\"\r\n");
  EXPECT_EQ(ContentsActLines({'M', 5, 1, 7}), "1 -dd\r\nNAME=M05007\r\n");
}

}  // namespace
