// The budget of a word query: every limit holds at its bound and refuses one
// past it; the text of a query is charged once (repeated terms once); the
// evaluator does repeated work once and still gives the result of the plain
// left-to-right evaluation; query preparation gives the rewriting of the
// quoted phrases, in one pass.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "concorda/query.h"
#include "concorda/query_budget.h"
#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"

using namespace concorda;

namespace {

// Charges `step` n times against a budget whose limit for it is `limit`;
// true when all went through.
bool Passes(const std::function<void(CQueryBudget&)>& step, std::size_t n, CQueryBudget::Limits limits) {
  CQueryBudget budget(limits);
  try {
    for (std::size_t i = 0; i < n; ++i) step(budget);
  } catch (const CQueryOverBudget&) {
    return false;
  }
  return true;
}

}  // namespace

TEST(QueryBudget, EachCountHoldsAtItsLimitAndRefusesOnePast) {
  struct Dimension {
    const char* name;
    std::size_t CQueryBudget::Limits::*limit;
    std::function<void(CQueryBudget&)> step;
  };
  const std::vector<Dimension> dimensions = {
      {"tokens", &CQueryBudget::Limits::tokens, [](CQueryBudget& b) { b.ChargeToken(); }},
      {"terms", &CQueryBudget::Limits::terms, [](CQueryBudget& b) { b.ChargeTerm(); }},
      {"phrases", &CQueryBudget::Limits::phrases, [](CQueryBudget& b) { b.ChargePhrase(1); }},
      {"table scans", &CQueryBudget::Limits::tableScans, [](CQueryBudget& b) { b.ChargeTableScan(); }},
      {"expanded words", &CQueryBudget::Limits::expandedWords, [](CQueryBudget& b) { b.ChargeExpandedWords(1); }},
      {"documents read", &CQueryBudget::Limits::documentsRead, [](CQueryBudget& b) { b.ChargeDocumentRead(); }},
  };
  for (const Dimension& d : dimensions) {
    CQueryBudget::Limits limits;
    limits.*d.limit = 7;
    EXPECT_TRUE(Passes(d.step, 7, limits)) << d.name;
    EXPECT_FALSE(Passes(d.step, 8, limits)) << d.name;
    // The default limits are the named ones.
    CQueryBudget::Limits defaults;
    EXPECT_TRUE(Passes(d.step, defaults.*d.limit, defaults)) << d.name;
    EXPECT_FALSE(Passes(d.step, defaults.*d.limit + 1, defaults)) << d.name;
  }
  EXPECT_EQ(CQueryBudget::Limits{}.tokens, QueryLimits::kMaxTokens);
  EXPECT_EQ(CQueryBudget::Limits{}.expandedWords, QueryLimits::kMaxExpandedWords);
}

TEST(QueryBudget, ExpandedWordsAreSummedAndPhrasesBoundedInLength) {
  CQueryBudget::Limits limits;
  limits.expandedWords = 100;
  CQueryBudget words(limits);
  words.ChargeExpandedWords(60);
  words.ChargeExpandedWords(40);
  EXPECT_THROW(words.ChargeExpandedWords(1), CQueryOverBudget);

  limits.phraseBytes = 10;
  CQueryBudget phrase(limits);
  phrase.ChargePhrase(10);
  EXPECT_THROW(phrase.ChargePhrase(11), CQueryOverBudget);
}

TEST(QueryBudget, TimeRunsOutOnlyAfterTheLimit) {
  CQueryBudget::Limits limits;
  limits.time = std::chrono::hours(1);
  CQueryBudget generous(limits);
  EXPECT_NO_THROW(generous.CheckTime());
  limits.time = std::chrono::nanoseconds(0);
  CQueryBudget none(limits);
  // Burn some processor time; the limit of zero is passed after any work.
  volatile unsigned x = 0;
  for (unsigned i = 0; i < 1000000; ++i) x = x + i;
  try {
    none.CheckTime();
    FAIL() << "no time was left";
  } catch (const CQueryOverBudget& e) {
    EXPECT_NE(std::string(e.what()).find("processor time"), std::string::npos);
  }
}

TEST(QueryShape, TokensOfGroupsAndOperandsCountAndRepeatedTermsCountOnce) {
  // KODEKS ( PRACY I 1997 ) NIE KARNY KODEKS: 8 tokens (the group opening
  // is one, the closing parenthesis none), 4 different terms.
  const PreparedQuery q = PrepareQuery("kodeks (pracy I 1997) NIE karny kodeks");
  CQueryBudget::Limits limits;
  limits.tokens = 8;
  limits.terms = 4;
  CQueryBudget fits(limits);
  EXPECT_NO_THROW(ChargeQueryShape(q, fits));
  limits.tokens = 7;
  CQueryBudget fewerTokens(limits);
  EXPECT_THROW(ChargeQueryShape(q, fewerTokens), CQueryOverBudget);
  limits.tokens = 8;
  limits.terms = 3;
  CQueryBudget fewerTerms(limits);
  EXPECT_THROW(ChargeQueryShape(q, fewerTerms), CQueryOverBudget);

  // One pattern three thousand times is one term.
  std::string many;
  for (int i = 0; i < 3000; ++i) many += "*E* ";
  CQueryBudget::Limits one;
  one.terms = 1;
  CQueryBudget budget(one);
  EXPECT_NO_THROW(ChargeQueryShape(PrepareQuery(many.c_str()), budget));
  // ... but five thousand tokens are too many.
  for (int i = 0; i < 2000; ++i) many += "*E* ";
  CQueryBudget defaults;
  EXPECT_THROW(ChargeQueryShape(PrepareQuery(many.c_str()), defaults), CQueryOverBudget);
}

TEST(QueryShape, PhrasesAreCountedAndBoundedInLength) {
  CQueryBudget::Limits limits;
  limits.phrases = 2;
  limits.phraseBytes = 12;
  CQueryBudget two(limits);
  EXPECT_NO_THROW(ChargeQueryShape(PrepareQuery("\"kodeks pracy\" \"a b\""), two));
  CQueryBudget three(limits);
  EXPECT_THROW(ChargeQueryShape(PrepareQuery("\"a\" \"b\" \"c\""), three), CQueryOverBudget);
  CQueryBudget longer(limits);
  EXPECT_THROW(ChargeQueryShape(PrepareQuery("\"kodeks  pracy\""), longer), CQueryOverBudget);
}

namespace {

// The rewriting of phrases as the query language defines it, done the
// obvious way (erase the quotes, insert "I " behind each blank): the model
// the one-pass preparation is compared with.
PreparedQuery PrepareByEditing(const char* query) {
  PreparedQuery q;
  std::string buf = query;
  cp1250::UpperCase(buf.data(), buf.size());
  std::size_t pos = 0;
  for (;;) {
    std::size_t open = buf.find('"', pos);
    if (open == std::string::npos) break;
    buf.erase(open, 1);
    std::size_t end = buf.find('"', open);
    if (end == std::string::npos) end = buf.size();
    else buf.erase(end, 1);
    q.phrases.push_back(buf.substr(open, end - open));
    std::size_t i = open;
    while (i < end && cp1250::IsSpace(static_cast<unsigned char>(buf[i]))) ++i;
    for (; i < end; ++i)
      if (cp1250::IsSpace(static_cast<unsigned char>(buf[i]))) {
        buf.insert(i + 1, "I ");
        i += 2;
        end += 2;
      }
    pos = end;
  }
  q.text = buf;
  return q;
}

}  // namespace

TEST(QueryPreparation, OnePassGivesTheRewritingOfThePhrases) {
  std::mt19937 random(5);
  const char pieces[] = {'"', '"', ' ', ' ', '\t', 'a', 'b', 'Z', '\xB9', '\xA5', '(', ')', '*', 'I', '\n'};
  for (int round = 0; round < 3000; ++round) {
    std::string query;
    for (int n = random() % 24; n > 0; --n) query += pieces[random() % sizeof pieces];
    PreparedQuery fast = PrepareQuery(query.c_str());
    PreparedQuery model = PrepareByEditing(query.c_str());
    ASSERT_EQ(fast.text, model.text) << query;
    ASSERT_EQ(fast.phrases, model.phrases) << query;
  }
}

TEST(QueryPreparation, HalfAMillionWordsInOnePhrase) {
  std::string query = "\"";
  for (int i = 0; i < 500000; ++i) query += "a ";
  query += "\"";
  PreparedQuery q = PrepareQuery(query.c_str());
  ASSERT_EQ(q.phrases.size(), 1u);
  EXPECT_EQ(q.phrases[0].size(), 1000000u);
  // Every blank is followed by the conjunction.
  EXPECT_EQ(q.text.size(), 1000000u + 2u * 500000u);
  EXPECT_EQ(q.text.substr(0, 8), "A I A I ");
  CQueryBudget budget;
  EXPECT_THROW(ChargeQueryShape(q, budget), CQueryOverBudget);
}

namespace {

// Documents as sets of words; the evaluator under test and a plain one that
// applies every step as it comes (the definition of the language).
const std::map<std::string, std::vector<DWORD>> kWords = {
    {"KODEKS", {0, 1, 3, 5}}, {"PRACY", {0, 1, 2}}, {"KARNY", {3, 4}}, {"USTAWA", {0, 4, 5}}, {"1997", {2, 3}}};

class MapQuery : public CQueryEvaluator {
 public:
  MapQuery() : CQueryEvaluator(m_budget) {}
  std::size_t lookups = 0;

 protected:
  ItemSet TermDocs(const std::string& term) override {
    ++lookups;
    auto it = kWords.find(term);
    return it == kWords.end() ? ItemSet{} : it->second;
  }

 private:
  CQueryBudget m_budget;
};

ItemSet PlainEvaluate(std::string_view text, int depth) {
  ItemSet r;
  if (depth > kMaxQueryDepth) return r;
  for (;;) {
    std::string_view token = NextQueryToken(text);
    if (token.empty()) break;
    if (token == "NIE" || token == "I") {
      std::string_view operand = NextQueryToken(text);
      if (!IsAcceptableOperand(operand)) continue;
      ItemSet s = PlainEvaluate(operand, depth + 1);
      if (token == "NIE") Subtract(r, s);
      else IntersectWith(r, s);
    } else if (token[0] == '(') {
      UniteWith(r, PlainEvaluate(token.substr(1), depth + 1));
    } else if (IsAcceptableOperand(token)) {
      auto it = kWords.find(std::string(token));
      if (it != kWords.end()) UniteWith(r, it->second);
    }
  }
  return r;
}

}  // namespace

TEST(QueryEvaluation, RepeatedWorkIsDoneOnceAndTheResultIsThePlainOne) {
  std::mt19937 random(11);
  const std::vector<std::string> tokens = {"KODEKS", "PRACY", "KARNY", "USTAWA", "1997", "I",     "NIE",
                                           "I",      "NIE",   "(",     ")",      "LUB",  "BRAK", "Z"};
  for (int round = 0; round < 4000; ++round) {
    std::string query;
    for (int n = random() % 14; n > 0; --n) query += tokens[random() % tokens.size()] + " ";
    MapQuery q;
    ASSERT_EQ(q.Evaluate(query), PlainEvaluate(query, 0)) << query;
  }
  MapQuery repeated;
  std::string query;
  for (int i = 0; i < 3000; ++i) query += "KODEKS I PRACY NIE KARNY (USTAWA 1997) ";
  EXPECT_EQ(repeated.Evaluate(query), PlainEvaluate(query, 0));
  // Five terms, each looked up once (the group's terms inside it as well).
  EXPECT_EQ(repeated.lookups, 5u);
}
