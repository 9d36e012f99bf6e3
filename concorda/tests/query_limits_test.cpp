// A word query on a real index within its budget: each limit that depends
// on the base (wildcard walks, words matched, documents read) holds at its
// bound and refuses past it, as a whole and never in part; cached wildcard
// terms are charged as if computed, and are forgotten when the index changes.
#include "concorda/query_budget.h"
#include "concorda/word_query.h"
#include "doc_fixture.h"

using namespace doctest;
using concorda::CQueryBudget;

namespace {

class QueryLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CDocServer writer(path.c_str(), &guid, kCreate);
    AddDoc(writer, "a", "kodeks pracy ustawa ustawy ustawach");
    AddDoc(writer, "b", "kodeks karny uchwała");
    AddDoc(writer, "c", "kodeks pracy z komentarzem");
    AddDoc(writer, "d", "kodeksy pracy");
    writer.Close();
    ASSERT_TRUE(base.Init(path.c_str(), nullptr, kRead));
  }
  // Runs `text` within `limits`: the items, or nothing when refused.
  std::optional<std::vector<DWORD>> Run(const char* text, const CQueryBudget::Limits& limits) {
    return QueryWithin(base, text, limits);
  }

  TempDir dir;
  std::string path = dir.File("l.vq");
  GUID guid = TestGuid();
  CDocServer base;
};

}  // namespace

TEST_F(QueryLimitsTest, WildcardWalksOfTheWholeTableAreCounted) {
  CQueryBudget::Limits limits;
  limits.tableScans = 2;
  EXPECT_EQ(Run("*AW* *ODE*", limits), (std::vector<DWORD>{0, 1, 2, 3}));
  EXPECT_EQ(Run("*AW* *ODE* *AW* *ODE*", limits), (std::vector<DWORD>{0, 1, 2, 3}));  // the same two
  EXPECT_EQ(Run("*AW* *ODE* *ARN*", limits), std::nullopt);
  // Prefixes and suffixes do not walk the whole table.
  EXPECT_EQ(Run("US* *NY KOD* *AW* *ODE*", limits), (std::vector<DWORD>{0, 1, 2, 3}));
}

TEST_F(QueryLimitsTest, WordsMatchedByWildcardsAreCounted) {
  // USTAW* matches USTAWA, USTAWACH and USTAWY; KODEKS* matches KODEKS and KODEKSY.
  CQueryBudget::Limits limits;
  limits.expandedWords = 5;
  EXPECT_EQ(Run("ustaw* kodeks*", limits), (std::vector<DWORD>{0, 1, 2, 3}));
  limits.expandedWords = 4;
  EXPECT_EQ(Run("ustaw* kodeks*", limits), std::nullopt);
  // Plain words are no expansion.
  limits.expandedWords = 0;
  EXPECT_EQ(Run("ustawa kodeks", limits), (std::vector<DWORD>{0, 1, 2}));
}

TEST_F(QueryLimitsTest, CachedPatternsAreChargedAsIfComputed) {
  CQueryBudget::Limits limits;
  limits.expandedWords = 3;
  EXPECT_EQ(Run("ustaw*", limits), (std::vector<DWORD>{0}));  // computed and cached
  EXPECT_EQ(Run("ustaw*", limits), (std::vector<DWORD>{0}));  // from the cache
  limits.expandedWords = 2;
  EXPECT_EQ(Run("ustaw*", limits), std::nullopt);  // the cache does not make it cheaper
  limits = {};
  limits.tableScans = 0;
  EXPECT_EQ(Run("*STAW*", limits), std::nullopt);
  limits.tableScans = 1;
  EXPECT_EQ(Run("*STAW*", limits), (std::vector<DWORD>{0}));
  limits.tableScans = 0;
  EXPECT_EQ(Run("*STAW*", limits), std::nullopt);
}

TEST_F(QueryLimitsTest, DocumentsReadForPhrasesAreCounted) {
  // The positions decide the phrase: no document is read.
  CQueryBudget::Limits limits;
  limits.documentsRead = 0;
  EXPECT_EQ(Run("\"kodeks pracy\" kodeksy", limits), (std::vector<DWORD>{0, 2}));
  // Without them, the words select a, c and d, and the phrase is looked for
  // in those three.
  base.Close();
  ASSERT_TRUE(DeleteFileAt(path + "p"));
  ASSERT_TRUE(base.Init(path.c_str(), nullptr, kRead));
  limits.documentsRead = 3;
  EXPECT_EQ(Run("\"kodeks pracy\" kodeksy", limits), (std::vector<DWORD>{0, 2}));
  limits.documentsRead = 2;
  EXPECT_EQ(Run("\"kodeks pracy\" kodeksy", limits), std::nullopt);
}

TEST_F(QueryLimitsTest, QueriesWithinTheDefaultsAnswerAsBefore) {
  CQueryBudget::Limits defaults;
  EXPECT_EQ(Run("kodeks I pracy", defaults), (std::vector<DWORD>{0, 2}));
  EXPECT_EQ(Run("\"kodeks pracy\"", defaults), (std::vector<DWORD>{0, 2}));
  EXPECT_EQ(Query(base, "kodeks I pracy"), (std::vector<DWORD>{0, 2}));
  // Thousands of one wildcard term are one term.
  std::string many;
  for (int i = 0; i < 3700; ++i) many += "*e* ";
  EXPECT_EQ(Run(many.c_str(), defaults), (std::vector<DWORD>{0, 1, 2, 3}));
  // Over the token limit the old interface finds nothing and says nothing more.
  for (int i = 0; i < 1000; ++i) many += "*e* ";
  EXPECT_EQ(Run(many.c_str(), defaults), std::nullopt);
  EXPECT_TRUE(Query(base, many.c_str()).empty());
}

TEST(QueryCache, WildcardResultsFollowChangesOfTheIndex) {
  TempDir dir;
  std::string path = dir.File("w.vq");
  GUID guid = TestGuid();
  CDocServer base(path.c_str(), &guid, kCreate);
  AddDoc(base, "a", "kodeks pracy");
  EXPECT_EQ(Query(base, "KOD*"), std::vector<DWORD>{0});
  EXPECT_EQ(Query(base, "*DEK*"), std::vector<DWORD>{0});
  AddDoc(base, "b", "kodyfikacja");
  AddDoc(base, "c", "dekret");
  EXPECT_EQ(Query(base, "KOD*"), (std::vector<DWORD>{0, 1}));
  EXPECT_EQ(Query(base, "*DEK*"), (std::vector<DWORD>{0, 2}));
  EXPECT_EQ(Query(base, "DEK*"), (std::vector<DWORD>{2}));
  base.RemoveFile(0);
  EXPECT_EQ(Query(base, "KOD*"), (std::vector<DWORD>{1}));
  EXPECT_EQ(Query(base, "*DEK*"), (std::vector<DWORD>{2}));
}
