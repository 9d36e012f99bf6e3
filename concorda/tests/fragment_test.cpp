// Result fragments: the words of a document as the index tokenizer cuts them,
// the nearest place of several terms (against every window tried), and the
// rendered HTML: the query's words in <B>, no markup of the document, text
// escaped, bounded length; and one fragment worked out by hand.
#include <gtest/gtest.h>

#include <random>

#include "concorda/fragment.h"
#include "concorda/word_tokenizer.h"
#include "doc_fixture.h"

using namespace concorda;
using doctest::TokenizerWords;

namespace {

// A document with hostile bytes among the vocabulary of the index tests.
std::string HostileDoc(unsigned seed) {
  static const char* const kExtra[] = {"<script>alert(1)</script>", "<a href=\"x\" onclick='y'>", "\"quoted\"",
                                       "a&b", "&amp;", "&#261;", "<", ">", "<!-- komentarz -->", "x<y", "&nbsp;"};
  doctest::DocMaker maker(seed);
  std::mt19937 rng(seed);
  std::string doc = "<HTML><HEAD><TITLE>umowa</TITLE></HEAD><BODY>";
  for (int i = 0; i < 30; ++i) doc += maker.Make(5) + " " + kExtra[rng() % std::size(kExtra)] + " ";
  return doc + "</BODY></HTML>";
}

TEST(DocWords, CutsTheTextAsTheIndexTokenizerDoes) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    const std::string doc = seed % 2 ? HostileDoc(seed) : doctest::DocMaker(seed).Make(60);
    CDocWords words;
    words.Read(doc, true);
    std::vector<std::string> got;
    for (std::size_t i = 0; i < words.Count(); ++i) got.emplace_back(words.Text(i));
    EXPECT_EQ(got, TokenizerWords(doc)) << doc;
  }
  // A prefix leaves out a word it may have cut.
  CDocWords prefix;
  prefix.Read("umowa najm", false);
  ASSERT_EQ(prefix.Count(), 1u);
  EXPECT_EQ(prefix.Text(0), "UMOWA");
  // The body's first word.
  CDocWords body;
  body.Read("<HTML><HEAD><TITLE>Tytuł aktu</TITLE></HEAD><BODY BGCOLOR=x>Treść</BODY>", true);
  EXPECT_TRUE(body.BodyFound());
  EXPECT_EQ(body.BodyStart(), 2u);
}

TEST(NearestPlace, IsTheShortestWindowHoldingEveryPresentTerm) {
  std::mt19937 rng(7);
  for (int round = 0; round < 500; ++round) {
    const std::size_t terms = 1 + rng() % 4;
    std::vector<std::vector<DWORD>> occ(terms);
    for (auto& o : occ) {
      const std::size_t n = rng() % 5;
      for (std::size_t i = 0; i < n; ++i) o.push_back(rng() % 60);
      std::sort(o.begin(), o.end());
      o.erase(std::unique(o.begin(), o.end()), o.end());
    }
    const DWORD from = rng() % 3 == 0 ? rng() % 30 : 0;
    // Every window [a, b] over the ordinals, the first shortest that holds
    // each term that stands at or after `from`.
    std::optional<FragmentPlace> best;
    for (DWORD a = from; a < 60; ++a)
      for (DWORD b = a; b < 60; ++b) {
        bool all = true, any = false;
        for (const auto& o : occ) {
          const bool present = std::any_of(o.begin(), o.end(), [&](DWORD x) { return x >= from; });
          const bool inside = std::any_of(o.begin(), o.end(), [&](DWORD x) { return x >= a && x <= b; });
          if (present && !inside) all = false;
          any = any || present;
        }
        const bool edges = std::any_of(occ.begin(), occ.end(), [&](const auto& o) { return std::count(o.begin(), o.end(), a); }) &&
                           std::any_of(occ.begin(), occ.end(), [&](const auto& o) { return std::count(o.begin(), o.end(), b); });
        if (any && all && edges && (!best || b - a < best->last - best->first)) best = FragmentPlace{a, b};
      }
    const std::optional<FragmentPlace> got = NearestPlace(occ, from);
    ASSERT_EQ(got.has_value(), best.has_value()) << round;
    if (got) {
      EXPECT_EQ(got->first, best->first) << round;
      EXPECT_EQ(got->last, best->last) << round;
    }
  }
}

// The text of a fragment without its bold tags, and the bold words.
void SplitBold(const std::string& html, std::string& text, std::vector<std::string>& bold) {
  std::size_t at = 0;
  while (at < html.size()) {
    if (html.compare(at, 3, "<B>") == 0) {
      const std::size_t close = html.find("</B>", at);
      ASSERT_NE(close, std::string::npos) << html;
      bold.push_back(html.substr(at + 3, close - at - 3));
      text += bold.back();
      at = close + 4;
    } else {
      text += html[at++];
    }
  }
}

TEST(RenderFragment, BoldsTheQueryWordsAndLetsNoMarkupThrough) {
  CFragmentTerms terms;
  const std::size_t t0 = terms.AddTerm(), t1 = terms.AddTerm();
  terms.AddWord(t0, "USTAWA");
  terms.AddWord(t0, "USTAWY");
  terms.AddPattern(t1, "KODEK*");
  for (unsigned seed = 1; seed <= 60; ++seed) {
    const std::string doc = HostileDoc(seed);
    const std::string html = MakeFragment(doc, terms);
    if (html.empty()) continue;
    std::string text;
    std::vector<std::string> bold;
    SplitBold(html, text, bold);
    // Nothing of the document's markup, and no quote or bracket unescaped.
    EXPECT_EQ(text.find_first_of("<>\""), std::string::npos) << html;
    // Every '&' starts an entity reference.
    for (std::size_t a = text.find('&'); a != std::string::npos; a = text.find('&', a + 1))
      EXPECT_NE(text.find(';', a), std::string::npos) << html;
    // Each bold piece is a word a term matches; each word a term matches is bold.
    for (const std::string& b : bold) {
      std::vector<std::string> inside = TokenizerWords(b);
      ASSERT_EQ(inside.size(), 1u) << b;
      EXPECT_TRUE(terms.Matches(inside[0])) << b;
    }
    std::size_t matching = 0;
    for (const std::string& w : TokenizerWords(text)) matching += terms.Matches(w);
    EXPECT_EQ(matching, bold.size()) << html;
    EXPECT_GE(bold.size(), 1u) << html;
    // About 200 characters: the words of the place are never cut, context is.
    EXPECT_LE(text.size(), 2 * kFragmentChars) << html;
  }
}

TEST(RenderFragment, AFragmentWorkedOutByHand) {
  CFragmentTerms terms;
  terms.AddWord(terms.AddTerm(), "UMOWĘ");
  terms.AddWord(terms.AddTerm(), "NAJMU");
  const std::string doc =
      "<HTML><HEAD><TITLE>Umowa najmu</TITLE></HEAD>\r\n<BODY><P>Strony zawarły <I>umowę</I>\r\n"
      "najmu &amp; dzierżawy \"lokalu\" <a href=\"x\">przy</a> ulicy.</P></BODY></HTML>";
  // The place in the body is preferred to the title's words.
  EXPECT_EQ(MakeFragment(doc, terms),
            "Strony zawarły <B>umowę</B> <B>najmu</B> &amp; dzierżawy &quot;lokalu&quot; przy ulicy.");
  // A long text: context is cut with "..." on both sides.
  std::string lng = "<BODY>";
  for (int i = 0; i < 100; ++i) lng += "słowo ";
  lng += "umowę najmu";
  for (int i = 0; i < 100; ++i) lng += " tekst";
  const std::string html = MakeFragment(lng, terms);
  EXPECT_EQ(html.substr(0, 3), "...");
  EXPECT_EQ(html.substr(html.size() - 3), "...");
  EXPECT_NE(html.find("<B>umowę</B> <B>najmu</B>"), std::string::npos);
  // Nothing stands in it: no fragment.
  EXPECT_EQ(MakeFragment("<BODY>inne słowa</BODY>", terms), "");
}

}  // namespace
