// The query language over an in-memory word table, checked against the
// documents' actual words.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "concorda/query.h"
#include "concorda/suffix_index.h"
#include "concorda/term_words.h"
#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"

using namespace concorda;

namespace {

// Admitted, upper-cased words of a text.
std::set<std::string> DocWords(std::string text) {
  cp1250::UpperCase(text.data(), text.size());
  std::set<std::string> out;
  CGrowBlock scratch;
  char* p = text.data();
  DWORD left = static_cast<DWORD>(text.size());
  char* word = nullptr;
  DWORD n = 0;
  while (char* next = NextWordIn(p, left, &word, &n, scratch)) {
    std::string w(word, n);
    if (IsAdmitted(w.c_str())) out.insert(w);
    left -= static_cast<DWORD>(next - p);
    p = next;
  }
  return out;
}

// A word table over a few documents and the evaluator that queries it.
class TableQuery : public CQueryEvaluator {
 public:
  explicit TableQuery(const std::vector<std::string>& docs) : CQueryEvaluator(m_budget) {
    std::map<std::string, std::vector<DWORD>> words;
    for (DWORD i = 0; i < docs.size(); ++i) {
      m_docWords.push_back(DocWords(docs[i]));
      for (const auto& w : m_docWords.back()) words[w].push_back(i);
    }
    for (auto& [w, items] : words) {
      WordIndex rec;
      rec.m_pWord = strdup(w.c_str());
      std::vector<DWORD> topics;
      for (DWORD i : items) topics.push_back(MakeTopic(i, 1));
      AssignTopics(rec, topics.data(), topics.size());
      m_table.Append(rec);
    }
    m_suffix = BuildSuffixIndex(m_table);
  }

  // A fresh evaluator state per query would be the index's way; the tests
  // reuse one evaluator, whose remembered terms are facts of the same table.
  ItemSet Run(const char* query) { return Evaluate(PrepareQuery(query).text); }
  // How often the table was asked for a term's documents.
  std::size_t Lookups() const { return m_lookups; }

  // Reference: documents holding a word for which `accept` is true.
  template <class F>
  ItemSet Scan(F accept) const {
    ItemSet out;
    for (DWORD i = 0; i < m_docWords.size(); ++i)
      for (const auto& w : m_docWords[i])
        if (accept(w)) {
          out.push_back(i);
          break;
        }
    return out;
  }
  ItemSet Docs(const std::string& word) const {
    return Scan([&](const std::string& w) { return w == word; });
  }
  const CWordTable& Table() const { return m_table; }

 protected:
  ItemSet TermDocs(const std::string& term) override {
    ++m_lookups;
    std::vector<std::size_t> words;
    FindTermWords(m_table, [this]() -> const std::vector<DWORD>& { return m_suffix; }, term, words);
    std::vector<DWORD> items;
    for (std::size_t i : words)
      for (DWORD k = 0; k < TopicCount(m_table[i]); ++k) items.push_back(TopicItem(TopicData(m_table[i])[k]));
    ItemSet r;
    AddItems(r, items);
    return r;
  }

 private:
  CQueryBudget m_budget;
  std::size_t m_lookups = 0;
  CWordTable m_table;
  std::vector<DWORD> m_suffix;
  std::vector<std::set<std::string>> m_docWords;
};

const std::vector<std::string> kDocs = {
    /*0*/ "Ustawa z dnia 26 czerwca 1974 r. Kodeks pracy",
    /*1*/ "Kodeks cywilny. Ustawa o <B>kodeksie</B> pracy w Lublinie",
    /*2*/ "Rozporządzenie ministra pracy z 1997 r.",
    /*3*/ "Kodeks karny 1997, ustawach, zawiadawca",
    /*4*/ "Obwieszczenie o ustawie; USTAWACH i ustawa",
    /*5*/ "Nic tu nie ma oraz lub",
};

ItemSet Set(std::initializer_list<DWORD> l) { return ItemSet(l); }

}  // namespace

TEST(QueryTerms, SingleWordsFindTheirDocuments) {
  TableQuery q(kDocs);
  for (const char* w : {"USTAWA", "KODEKS", "PRACY", "1997", "LUBLINIE", "ZAWIADAWCA"})
    EXPECT_EQ(q.Run(w), q.Docs(w)) << w;
  EXPECT_EQ(q.Run("ustawa"), q.Docs("USTAWA"));  // queries are upper-cased
  EXPECT_EQ(q.Run("KODEKS"), Set({0, 1, 3}));
}

TEST(QueryTerms, NothingForStopWordsSingleLettersAndEmptyQueries) {
  TableQuery q(kDocs);
  EXPECT_TRUE(q.Run("").empty());
  EXPECT_TRUE(q.Run("ORAZ LUB NIE Z R I").empty());
  EXPECT_TRUE(q.Run("*").empty());  // a lone star is a one-byte token
  EXPECT_TRUE(q.Run("NIEZNANE").empty());
}

TEST(QueryOperators, WordsInARowAreAlternativesAndLubIsANoOp) {
  TableQuery q(kDocs);
  ItemSet either = q.Scan([](const std::string& w) { return w == "USTAWA" || w == "KODEKS"; });
  EXPECT_EQ(q.Run("USTAWA KODEKS"), either);
  EXPECT_EQ(q.Run("USTAWA LUB KODEKS"), either);
  EXPECT_EQ(q.Run("LUB USTAWA LUB LUB KODEKS LUB"), either);
  EXPECT_EQ(q.Run("LUBLINIE"), Set({1}));  // LUB inside a word is a word
}

TEST(QueryOperators, NegationRemovesFromTheResultSoFar) {
  TableQuery q(kDocs);
  EXPECT_TRUE(q.Run("NIE USTAWA").empty());
  EXPECT_EQ(q.Run("NIE USTAWA KODEKS"), q.Docs("KODEKS"));
  ItemSet expected = q.Docs("KODEKS");
  Subtract(expected, q.Docs("PRACY"));
  EXPECT_EQ(q.Run("KODEKS NIE PRACY"), expected);
  EXPECT_EQ(q.Run("KODEKS NIE PRACY"), Set({3}));
}

TEST(QueryOperators, ConjunctionIntersectsWithoutPrecedence) {
  TableQuery q(kDocs);
  EXPECT_EQ(q.Run("KODEKS I PRACY"), Set({0, 1}));
  // X I Y Z = (X and Y) or Z
  ItemSet expected = Set({0, 1});
  UniteWith(expected, q.Docs("1997"));
  EXPECT_EQ(q.Run("KODEKS I PRACY 1997"), expected);
  // Z X I Y = (Z or X) and Y
  ItemSet zx = q.Docs("1997");
  UniteWith(zx, q.Docs("KODEKS"));
  IntersectWith(zx, q.Docs("PRACY"));
  EXPECT_EQ(q.Run("1997 KODEKS I PRACY"), zx);
}

// The set operations work in the first set's memory; checked against sets
// of std::set, item by item, over random sets of every shape: empty, equal,
// disjoint, nested, overlapping at either end, one far longer than the other.
TEST(QueryOperators, SetOperationsAgreeWithAModelOfSets) {
  std::mt19937 rng(20261210);
  auto randomSet = [&](std::size_t n, DWORD range) {
    std::set<DWORD> m;
    std::uniform_int_distribution<DWORD> pick(0, range);
    while (m.size() < n && m.size() <= range) m.insert(pick(rng));
    return m;
  };
  auto asItems = [](const std::set<DWORD>& m) { return ItemSet(m.begin(), m.end()); };
  for (int round = 0; round < 3000; ++round) {
    const DWORD range = round % 3 == 0 ? 40 : 5000;
    const std::size_t na = rng() % (round % 7 == 0 ? 2 : 200), nb = rng() % (round % 5 == 0 ? 3000 : 150);
    std::set<DWORD> a = randomSet(na, range), b = randomSet(nb, range);
    if (round % 11 == 0) b = a;                                  // equal
    if (round % 13 == 0) b.insert(a.begin(), a.end());           // a within b
    std::set<DWORD> both, either = a, aOnly;
    for (DWORD x : a) (b.count(x) ? both : aOnly).insert(x);
    either.insert(b.begin(), b.end());
    ItemSet r = asItems(a);
    UniteWith(r, asItems(b));
    EXPECT_EQ(r, asItems(either)) << "round " << round;
    r = asItems(a);
    IntersectWith(r, asItems(b));
    EXPECT_EQ(r, asItems(both)) << "round " << round;
    r = asItems(a);
    Subtract(r, asItems(b));
    EXPECT_EQ(r, asItems(aOnly)) << "round " << round;
  }
  // A set combined with itself.
  ItemSet self{1, 5, 9};
  UniteWith(self, self);
  EXPECT_EQ(self, (ItemSet{1, 5, 9}));
  IntersectWith(self, self);
  EXPECT_EQ(self, (ItemSet{1, 5, 9}));
  Subtract(self, self);
  EXPECT_TRUE(self.empty());
}

TEST(QueryOperators, UnacceptableOperandsAreSkipped) {
  TableQuery q(kDocs);
  // "I" followed by a stop word or a single letter: the operand is skipped
  // and the operator does nothing.
  EXPECT_EQ(q.Run("KODEKS I ORAZ"), q.Docs("KODEKS"));
  EXPECT_EQ(q.Run("KODEKS NIE Z"), q.Docs("KODEKS"));
  // A digit operand is acceptable even alone.
  EXPECT_EQ(q.Run("KODEKS NIE 1997"), Set({0, 1}));
}

TEST(QueryGroups, GroupsAreEvaluatedOnTheirOwn) {
  TableQuery q(kDocs);
  ItemSet expected = q.Docs("KODEKS");
  UniteWith(expected, q.Docs("PRACY"));
  IntersectWith(expected, q.Docs("1997"));
  EXPECT_EQ(q.Run("(KODEKS PRACY) I 1997"), expected);
  EXPECT_EQ(q.Run("(KODEKS PRACY) I 1997"), Set({2, 3}));
  // A negated group.
  EXPECT_EQ(q.Run("KODEKS NIE (PRACY 1997)"), ItemSet{});
  EXPECT_EQ(q.Run("USTAWA NIE (KARNY CYWILNY)"), Set({0, 4}));
  // Nested and unclosed groups.
  EXPECT_EQ(q.Run("((KARNY) (CYWILNY))"), Set({1, 3}));
  EXPECT_EQ(q.Run("USTAWA I (KODEKS PRACY"), Set({0, 1}));
}

TEST(QueryGroups, DeepNestingFindsNothingAndDoesNotCrash) {
  TableQuery q(kDocs);
  std::string deep(100000, '(');
  deep += "KODEKS";
  EXPECT_TRUE(q.Run(deep.c_str()).empty());
  std::string shallow = std::string(10, '(') + "KODEKS" + std::string(10, ')');
  EXPECT_EQ(q.Run(shallow.c_str()), q.Docs("KODEKS"));
}

TEST(QueryWildcards, PrefixSuffixAndInfixAgainstTheDocuments) {
  TableQuery q(kDocs);
  auto starts = [](const std::string& p) {
    return [p](const std::string& w) { return w.compare(0, p.size(), p) == 0; };
  };
  auto ends = [](const std::string& s) {
    return [s](const std::string& w) { return w.size() >= s.size() && w.compare(w.size() - s.size(), s.size(), s) == 0; };
  };
  EXPECT_EQ(q.Run("USTAW*"), q.Scan(starts("USTAW")));
  EXPECT_EQ(q.Run("KOD*"), q.Scan(starts("KOD")));
  EXPECT_EQ(q.Run("*CH"), q.Scan(ends("CH")));
  EXPECT_EQ(q.Run("*CH"), Set({3, 4}));
  // USTAWACH ends with ACH, but the star jumps to its first A.
  EXPECT_TRUE(q.Run("*ACH").empty());
  EXPECT_EQ(q.Run("*TAW*"), q.Scan([](const std::string& w) { return w.find("TAW") != std::string::npos; }));
  EXPECT_EQ(q.Run("**"), Set({0, 1, 2, 3, 4, 5}));  // every indexed document
  EXPECT_EQ(q.Run("*?"), Set({0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(q.Run("PRAC?"), q.Docs("PRACY"));
  // A used-up pattern matches whatever remains: USTAW? also takes USTAWACH.
  EXPECT_EQ(q.Run("USTAW?"), q.Scan([](const std::string& w) { return w.size() > 5 && w.compare(0, 5, "USTAW") == 0; }));
  EXPECT_EQ(q.Run("USTAW?"), Set({0, 1, 3, 4}));
  EXPECT_EQ(q.Run("?STAWA"), q.Docs("USTAWA"));
  EXPECT_EQ(q.Run("19*"), q.Scan(starts("19")));
}

TEST(QueryWildcards, NoBacktrackingInThePattern) {
  // The star jumps to the first occurrence of the next byte only.
  EXPECT_TRUE(MatchPattern("US*WA", "USTAWA"));
  EXPECT_TRUE(MatchPattern("US*WA", "USTAWACH"));  // the rest of the word is free
  EXPECT_TRUE(MatchPattern("*TAW*", "USTAWA"));
  EXPECT_FALSE(MatchPattern("*AWA", "ZAWIADAWA"));
  EXPECT_TRUE(MatchPattern("*AWA", "AWA"));
  EXPECT_TRUE(MatchPattern("*?A", "XA"));
  EXPECT_FALSE(MatchPattern("*??", "X"));
  EXPECT_FALSE(MatchPattern("A?", "A"));
  EXPECT_TRUE(MatchPattern("A*", "A"));
  EXPECT_TRUE(MatchPattern("*?*B", "AB"));
  // ZAWIADAWA ends with AWA but the pattern fails on it.
  TableQuery q(kDocs);
  EXPECT_EQ(q.Run("*CA"), Set({3}));
  EXPECT_TRUE(q.Run("*AWCA").empty());
}

TEST(QueryPhrases, PhraseWordsAreJoinedByConjunction) {
  PreparedQuery p = PrepareQuery("\"kodeks pracy\" 1997");
  EXPECT_EQ(p.text, "KODEKS I PRACY 1997");
  ASSERT_EQ(p.phrases.size(), 1u);
  EXPECT_EQ(p.phrases[0], "KODEKS PRACY");
  PreparedQuery two = PrepareQuery("\" a b\" x \"c");
  EXPECT_EQ(two.text, " A I B X C");
  EXPECT_EQ(two.phrases, (std::vector<std::string>{" A B", "C"}));
  // Many spaces in a phrase grow the text; nothing overruns.
  std::string wide = "\"A" + std::string(1000, ' ') + "B\"";
  EXPECT_EQ(PrepareQuery(wide.c_str()).text.size(), 2u + 1000u * 3u);
}

TEST(QueryPhrases, PartnerRuleCoversEveryByte) {
  EXPECT_EQ(PhrasePartner('A'), 'a');
  EXPECT_EQ(PhrasePartner(' '), 0x40);
  EXPECT_EQ(PhrasePartner('0'), 'P');
  EXPECT_EQ(PhrasePartner(0xA5), 0xB9);  // Ą -> ą
  EXPECT_EQ(PhrasePartner(0xD3), 0xF3);  // Ó -> ó
  EXPECT_EQ(PhrasePartner(0xD7), 0xD7);  // no letter: itself
  const std::string phrase = "KODEKS PRACY";
  auto has = [&](const char* text) {
    return ContainsPhrase(reinterpret_cast<const BYTE*>(text), std::strlen(text), phrase);
  };
  EXPECT_TRUE(has("x Kodeks pracy x"));
  EXPECT_TRUE(has("KODEKS@PRACY"));  // the space also matches 0x40
  EXPECT_FALSE(has("Kodeks <B>pracy"));
  EXPECT_FALSE(has("Kodeks  pracy"));
  EXPECT_TRUE(has("kodekskodeks pracy"));  // retries after a partial match
}

TEST(QueryPhrases, PhraseAtTheVeryEndOfTheContentIsFound) {
  const char text[] = "abc kodeks pracy";
  EXPECT_TRUE(ContainsPhrase(reinterpret_cast<const BYTE*>(text), sizeof text - 1, "KODEKS PRACY"));
  EXPECT_FALSE(ContainsPhrase(reinterpret_cast<const BYTE*>(text), sizeof text - 2, "KODEKS PRACY"));
  EXPECT_FALSE(ContainsPhrase(reinterpret_cast<const BYTE*>(text), 0, "A"));
  EXPECT_FALSE(ContainsPhrase(reinterpret_cast<const BYTE*>(text), 0, ""));
  EXPECT_TRUE(ContainsPhrase(reinterpret_cast<const BYTE*>(text), 1, ""));
}

TEST(QueryTokens, GroupsWordsAndSeparators) {
  std::string_view rest = "  ,KODEKS (A (B) C) ) US*? LUB";
  EXPECT_EQ(NextQueryToken(rest), "KODEKS");
  EXPECT_EQ(NextQueryToken(rest), "(A (B) C");
  EXPECT_EQ(NextQueryToken(rest), "US*?");
  EXPECT_EQ(NextQueryToken(rest), "");
  EXPECT_TRUE(IsAcceptableOperand("1"));
  EXPECT_FALSE(IsAcceptableOperand("A"));
  EXPECT_FALSE(IsAcceptableOperand("NIE"));
  EXPECT_TRUE(IsAcceptableOperand("(A"));
}

TEST(SuffixIndex, WordsEndingAlikeAreAdjacent) {
  TableQuery q(kDocs);
  std::vector<DWORD> index = BuildSuffixIndex(q.Table());
  ASSERT_EQ(index.size(), q.Table().Size());
  auto [first, last] = SuffixRange(q.Table(), index, "WA");
  std::set<std::string> found;
  for (std::size_t k = first; k < last; ++k) found.insert(q.Table()[index[k]].m_pWord);
  std::set<std::string> expected;
  for (std::size_t i = 0; i < q.Table().Size(); ++i) {
    std::string w = q.Table()[i].m_pWord;
    if (w.size() >= 2 && w.compare(w.size() - 2, 2, "WA") == 0) expected.insert(w);
  }
  EXPECT_EQ(found, expected);
  EXPECT_FALSE(found.empty());
  auto none = SuffixRange(q.Table(), index, "QQQ");
  EXPECT_EQ(none.first, none.second);
}
