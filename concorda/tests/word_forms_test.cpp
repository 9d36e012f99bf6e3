// The lemma and fold tables of a word list (against a scan of the list), their
// damage checks, the dictionary's lemmas for a few words worked out by hand,
// and the query markers: tokens, and the marking of plain words for the
// Search page's options.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "concorda/lemma_lookahead.h"
#include "concorda/lemmatizer.h"
#include "concorda/query.h"
#include "concorda/query_markers.h"
#include "concorda/word_forms.h"
#include "platform/cp1250.h"

using namespace concorda;

namespace {

using Words = std::vector<std::string>;

WordList ListOf(const Words& words) {
  return {words.size(), [&words](std::size_t i) { return std::string_view(words[i]); }};
}

std::vector<std::string> Named(const Words& words, const std::vector<DWORD>& numbers) {
  std::vector<std::string> out;
  for (DWORD n : numbers) out.push_back(words.at(n));
  std::sort(out.begin(), out.end());
  return out;
}

// Random upper-case words over letters with and without marks, sorted and
// unique as a word table is.
Words RandomWords(unsigned seed, std::size_t n) {
  static const std::string kLetters = "ALNOSZCEĄĆĘŁŃÓŚŹŻ";
  std::mt19937 rng(seed);
  std::set<std::string> out;
  while (out.size() < n) {
    std::string w;
    const std::size_t len = 1 + rng() % 5;
    for (std::size_t i = 0; i < len; ++i) w += kLetters[rng() % kLetters.size()];
    out.insert(w);
  }
  return Words(out.begin(), out.end());
}

const CLemmatizer& Dictionary() {
  const CLemmatizer* d = CLemmatizer::Shared();
  if (!d) ADD_FAILURE() << "the Polish dictionary is missing (hunspell-pl)";
  return *d;
}

TEST(Lemmatizer, LemmasOfWordsWorkedOutByHand) {
  const CLemmatizer& d = Dictionary();
  auto has = [&](const char* word, const char* lemma) {
    const std::vector<std::string> l = d.Lemmas(word);
    return std::find(l.begin(), l.end(), lemma) != l.end();
  };
  EXPECT_TRUE(has("UMOWY", "UMOWA"));
  EXPECT_TRUE(has("SĄDZIE", "SĄD"));
  EXPECT_TRUE(has("ŁODZI", "ŁÓDŹ"));
  EXPECT_TRUE(has("NAJMU", "NAJEM"));
  EXPECT_TRUE(has("WIERZYCIELOWI", "WIERZYCIEL"));
  EXPECT_FALSE(has("UMOWNIE", "UMOWA"));
  // Ascending, each once, upper case.
  const std::vector<std::string> kara = d.Lemmas("KARA");
  EXPECT_TRUE(std::is_sorted(kara.begin(), kara.end()));
  EXPECT_EQ(std::adjacent_find(kara.begin(), kara.end()), kara.end());
  for (const std::string& l : kara) EXPECT_EQ(l, [&] { std::string u = l; cp1250::UpperCase(u.data(), u.size()); return u; }());
  // Words that have none: unknown, numbers and words with digits, too long,
  // a letter the dictionary's code page lacks, empty.
  EXPECT_TRUE(d.Lemmas("QWZRTX").empty());
  EXPECT_TRUE(d.Lemmas("1997").empty());
  EXPECT_TRUE(d.Lemmas("UMOWA1").empty());
  EXPECT_TRUE(d.Lemmas(std::string(kMaxLemmaWord + 1, 'A')).empty());
  EXPECT_TRUE(d.Lemmas("UMOWAµ").empty());
  EXPECT_TRUE(d.Lemmas("").empty());
  EXPECT_TRUE(d.Lemmas("UMO-WA").empty());
}

TEST(Lemmatizer, AMissingDictionaryIsReportedNotOpened) {
  std::string why;
  EXPECT_EQ(CLemmatizer::Open("/nonexistent/dir", &why), nullptr);
  EXPECT_NE(why.find("pl_PL.aff"), std::string::npos) << why;
}

TEST(FoldTable, FindsWhatAScanOfTheFoldedWordsFinds) {
  for (unsigned seed : {1u, 2u, 3u}) {
    const Words words = RandomWords(seed, 400);
    CWordForms forms;
    std::string why;
    ASSERT_TRUE(forms.LoadFolds(BuildFoldSection(ListOf(words)), ListOf(words), &why)) << why;
    // Every word, some that are not in the list, and patterns.
    Words queries = words;
    for (const char* q : {"ZZZZZZ", "A", "", "ŻÓŁW", "ZOLW", "L*", "*A", "*Ł*", "?O*", "Ś?", "*", "A*Z", "Z?"})
      queries.push_back(q);
    for (const std::string& q : queries) {
      const std::string fq = FoldedText(q);
      Words expected;
      for (const std::string& w : words) {
        const std::string fw = FoldedText(w);
        if (HasWildcard(q) ? MatchPattern(fq.c_str(), fw.c_str()) : (!q.empty() && fw == fq)) expected.push_back(w);
      }
      std::vector<DWORD> found;
      if (HasWildcard(q)) forms.AppendFoldedPattern(q, found);
      else forms.AppendFolded(q, found);
      EXPECT_EQ(Named(words, found), expected) << "seed " << seed << " query " << q;
    }
  }
}

TEST(LemmaTable, HoldsTheFormsOfEveryLemmaOfTheList) {
  Words words = {"KARA", "KARY", "KARZE", "SĄD", "SĄDU", "SĄDZIE", "UMOWA", "UMOWY", "UMOWĄ",
                 "UMOWNIE", "1997", "QWZRTX", "ŁÓDŹ", "ŁODZI", "NAJMU"};
  std::sort(words.begin(), words.end());
  const CLemmatizer& d = Dictionary();
  // The model: each word under each of its lemmas.
  std::map<std::string, Words> model;
  for (const std::string& w : words)
    for (const std::string& l : d.Lemmas(w)) model[l].push_back(w);
  CWordForms forms;
  std::string why;
  ASSERT_TRUE(forms.LoadLemmas(BuildLemmaSection(ListOf(words), d), ListOf(words), &why)) << why;
  ASSERT_EQ(forms.LemmaCount(), model.size());
  EXPECT_EQ(forms.DictionaryIdentity(), d.Identity());
  std::size_t i = 0;
  for (const auto& [lemma, expected] : model) {
    EXPECT_EQ(forms.Lemma(i++), lemma);
    std::vector<DWORD> found;
    forms.AppendForms(lemma, found);
    Words sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Named(words, found), sorted) << lemma;
  }
  // Fixed by hand: the forms of SĄD and ŁÓDŹ in this list.
  std::vector<DWORD> sad, lodz, none;
  forms.AppendForms("SĄD", sad);
  forms.AppendForms("ŁÓDŹ", lodz);
  forms.AppendForms("QWZRTX", none);
  EXPECT_EQ(Named(words, sad), (Words{"SĄD", "SĄDU", "SĄDZIE"}));
  EXPECT_EQ(Named(words, lodz), (Words{"ŁODZI", "ŁÓDŹ"}));
  EXPECT_TRUE(none.empty());
  // Lemmas that read alike without marks: by a scan of the model's lemmas.
  for (const char* q : {"LODZ", "SAD", "ŁODŹ", "KARA", "XYZ"}) {
    std::vector<std::string> got, expected;
    forms.AppendFoldedLemmas(q, got);
    for (const auto& [lemma, unused] : model)
      if (FoldedText(lemma) == FoldedText(q)) expected.push_back(lemma);
    EXPECT_EQ(got, expected) << q;
  }
  std::vector<std::string> lodzLemmas;
  forms.AppendFoldedLemmas("LODZ", lodzLemmas);
  EXPECT_EQ(lodzLemmas, (Words{"ŁÓDŹ"}));
}

// The lemmas looked up on another thread while a base closes: each word's
// lemmas are what the dictionary says of it when asked directly, and the
// table built with them is the table built without, byte for byte, also
// when only some words were looked up ahead. A lookahead let go before it
// is done stops without harm.
TEST(LemmaTable, WordsLookedUpAheadMakeTheSameTable) {
  Words words = RandomWords(7, 3000);
  for (const char* w : {"KARA", "KARY", "SĄDU", "UMOWY", "ŁODZI", "1997", "UMOWAµ"}) words.push_back(w);
  std::sort(words.begin(), words.end());
  const CLemmatizer& d = Dictionary();
  std::vector<std::string_view> views(words.begin(), words.end());
  CLemmaLookahead ahead(views);
  const KnownLemmas& known = ahead.Wait();
  ASSERT_EQ(known.size(), words.size());
  std::size_t withLemmas = 0;
  for (const std::string& w : words) {
    ASSERT_EQ(known.at(w), d.Lemmas(w)) << w;
    withLemmas += !known.at(w).empty();
  }
  EXPECT_GT(withLemmas, 7u);  // the hand-picked words and some random ones have lemmas
  const std::vector<BYTE> direct = BuildLemmaSection(ListOf(words), d);
  EXPECT_EQ(BuildLemmaSection(ListOf(words), d, &known), direct);
  KnownLemmas some;
  for (std::size_t i = 0; i < words.size(); i += 3) some.emplace(words[i], known.at(words[i]));
  EXPECT_EQ(BuildLemmaSection(ListOf(words), d, &some), direct);
  EXPECT_EQ(CLemmaLookahead(views).Wait(), known);  // a second lookahead (the dictionary is shared)
  { CLemmaLookahead dropped(views); }               // destroyed while it looks up
  CLemmaLookahead none({});
  EXPECT_TRUE(none.Wait().empty());
}

TEST(WordFormsSections, DamagedSectionsAreRefusedOrStayInBounds) {
  Words words = {"KARA", "KARY", "SĄD", "SĄDU", "UMOWA", "UMOWY"};
  const std::vector<BYTE> lemmas = BuildLemmaSection(ListOf(words), Dictionary());
  const std::vector<BYTE> folds = BuildFoldSection(ListOf(words));
  std::string why;
  CWordForms forms;
  // Cut short anywhere: always refused (the lengths no longer add up).
  for (std::size_t n = 1; n < lemmas.size(); ++n) {
    EXPECT_FALSE(forms.LoadLemmas(std::vector<BYTE>(lemmas.begin(), lemmas.begin() + n), ListOf(words), &why)) << n;
    EXPECT_FALSE(forms.HasLemmas());
  }
  for (std::size_t n = 1; n < folds.size(); ++n)
    EXPECT_FALSE(forms.LoadFolds(std::vector<BYTE>(folds.begin(), folds.begin() + n), ListOf(words), &why)) << n;
  // Every byte changed in turn: refused, or taken and every answer names a word of the list.
  for (std::size_t at = 0; at < lemmas.size(); ++at)
    for (BYTE flip : {BYTE{0x01}, BYTE{0x80}, BYTE{0xFF}}) {
      std::vector<BYTE> damaged = lemmas;
      damaged[at] ^= flip;
      if (!forms.LoadLemmas(damaged, ListOf(words), &why)) continue;
      for (std::size_t i = 0; i < forms.LemmaCount(); ++i) {
        std::vector<DWORD> found;
        forms.AppendForms(forms.Lemma(i), found);
        for (DWORD w : found) EXPECT_LT(w, words.size()) << at;
      }
    }
  for (std::size_t at = 0; at < folds.size(); ++at) {
    std::vector<BYTE> damaged = folds;
    damaged[at] ^= 0x01;
    EXPECT_FALSE(forms.LoadFolds(damaged, ListOf(words), &why)) << at;  // a number repeated or the count wrong
  }
  // A table of another word list: its form numbers pass the end.
  Words fewer = {"KARA", "KARY"};
  EXPECT_FALSE(forms.LoadLemmas(lemmas, ListOf(fewer), &why));
  EXPECT_NE(why.find("lemma table"), std::string::npos) << why;
  EXPECT_FALSE(forms.LoadFolds(folds, ListOf(fewer), &why));
  // Empty sections are simply not there.
  EXPECT_TRUE(forms.LoadLemmas({}, ListOf(words), &why));
  EXPECT_FALSE(forms.HasLemmas());
}

TEST(QueryMarkers, TokensKeepTheMarkersDirectlyBeforeAWord) {
  auto tokens = [](std::string text) {
    std::vector<std::string> out;
    std::string_view rest = text;
    for (std::string_view t = NextQueryToken(rest); !t.empty(); t = NextQueryToken(rest)) out.emplace_back(t);
    return out;
  };
  using T = std::vector<std::string>;
  EXPECT_EQ(tokens("~UMOWA I ^SAD"), (T{"~UMOWA", "I", "^SAD"}));
  EXPECT_EQ(tokens("~^UMOWE ^~X*Y"), (T{"~^UMOWE", "^~X*Y"}));
  EXPECT_EQ(tokens("~ UMOWA ^ ~"), (T{"UMOWA"}));
  EXPECT_EQ(tokens("A~B^C"), (T{"A", "~B", "^C"}));
  EXPECT_EQ(tokens("(~A LUB ^B)"), (T{"(~A LUB ^B"}));
  EXPECT_EQ(tokens("~LUB"), (T{"~LUB"}));  // a marked word is never the no-op
  const MarkedTerm t = SplitMarkers("^~^SAD");
  EXPECT_TRUE(t.forms);
  EXPECT_TRUE(t.fold);
  EXPECT_EQ(t.word, "SAD");
  EXPECT_FALSE(SplitMarkers("SAD").Marked());
  EXPECT_FALSE(IsAcceptableOperand("~W"));
  EXPECT_TRUE(IsAcceptableOperand("^SAD"));
  EXPECT_FALSE(IsAcceptableOperand("~^"));
}

TEST(QueryMarkers, PlainWordsAreMarkedAndTheRestKeepsItsBytes) {
  EXPECT_EQ(MarkPlainWords("umowa I najem", true, false), "~umowa I ~najem");
  EXPECT_EQ(MarkPlainWords("umowa i najem", false, true), "^umowa i ^najem");
  EXPECT_EQ(MarkPlainWords("sąd NIE (kara lub grzywna)", true, true), "~^sąd NIE (~^kara lub ~^grzywna)");
  // Phrases, numbers, operators, words marked already; patterns take folding only.
  EXPECT_EQ(MarkPlainWords("\"umowa najmu\" kara", true, false), "\"umowa najmu\" ~kara");
  EXPECT_EQ(MarkPlainWords("art 5 BLISKO/3 kara", true, false), "~art 5 BLISKO/3 ~kara");
  EXPECT_EQ(MarkPlainWords("~umowa ^sad", true, true), "~^umowa ^~sad");
  EXPECT_EQ(MarkPlainWords("ust* NIE lodz", true, true), "^ust* NIE ~^lodz");
  EXPECT_EQ(MarkPlainWords("1997r", true, true), "1997r");
  // Nothing asked, nothing changed; hostile bytes pass as they are.
  const std::string hostile = "<script>alert(\"x\")</script>&amp;'";
  EXPECT_EQ(MarkPlainWords(hostile, false, false), hostile);
  EXPECT_EQ(MarkPlainWords(hostile, true, false), "<~script>~alert(\"x\")</~script>&~amp;'");
  EXPECT_EQ(MarkPlainWords("", true, true), "");
  // An unclosed quote runs to the end, as the query reads it.
  EXPECT_EQ(MarkPlainWords("kara \"umowa najmu", true, false), "~kara \"umowa najmu");
}

TEST(QueryMarkers, PositiveTermsLeaveOutWhatNieTakesAway) {
  using T = std::vector<std::string>;
  EXPECT_EQ(PositiveTerms("~UMOWA I NAJEM NIE KARA"), (T{"~UMOWA", "NAJEM"}));
  EXPECT_EQ(PositiveTerms("(A1 I ^BB) NIE (CC DD) A1"), (T{"A1", "^BB"}));
  EXPECT_EQ(PositiveTerms("I W NIE"), T{});
}

}  // namespace
