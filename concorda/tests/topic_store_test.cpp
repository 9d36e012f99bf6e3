// Topic storage forms of a word and the word table.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "concorda/word_index.h"

using namespace concorda;

namespace {

std::vector<DWORD> Items(const WordIndex& w) {
  std::vector<DWORD> out;
  const DWORD* p = TopicData(w);
  for (DWORD i = 0; i < TopicCount(w); ++i) out.push_back(TopicItem(p[i]));
  return out;
}

// Adds topics for items 0..n-1, in order, the way the indexer does.
void Fill(WordIndex& w, DWORD n) {
  for (DWORD i = 0; i < n; ++i) ASSERT_TRUE(InsertTopic(w, TopicLowerBound(w, i), MakeTopic(i, 1)));
}

}  // namespace

TEST(Topic, PacksItemAndCappedCount) {
  EXPECT_EQ(MakeTopic(12, 4), 0x0400000Cu);
  EXPECT_EQ(MakeTopic(1, 300) >> 24, 255u);
  EXPECT_EQ(TopicItem(MakeTopic(0x1234567, 1)), 0x234567u);
  EXPECT_EQ(ReferenceFile(MakeReference(3, 7)), 3u);
  EXPECT_EQ(ReferenceSlot(MakeReference(3, 7)), 7u);
}

TEST(TopicForms, GrowFromInlineThroughPlainToGrowable) {
  WordIndex w;
  Fill(w, 1);
  EXPECT_EQ(w.m_nCount, 1);
  Fill(w, 0);
  ASSERT_TRUE(InsertTopic(w, TopicLowerBound(w, 5), MakeTopic(5, 2)));
  EXPECT_EQ(w.m_nCount, 2);
  for (DWORD i = 6; i < 6 + 252; ++i) ASSERT_TRUE(InsertTopic(w, TopicCount(w), MakeTopic(i, 1)));
  EXPECT_EQ(w.m_nCount, 254);
  ASSERT_TRUE(InsertTopic(w, TopicCount(w), MakeTopic(1000, 1)));
  EXPECT_EQ(w.m_nCount, kGrowableForm);
  EXPECT_EQ(TopicCount(w), 255u);
  std::vector<DWORD> items = Items(w);
  EXPECT_EQ(items.front(), 0u);
  EXPECT_EQ(items[1], 5u);
  EXPECT_EQ(items.back(), 1000u);
  FreeTopics(w, 0);
}

TEST(TopicForms, InsertKeepsItemOrderInEveryForm) {
  for (DWORD n : {1u, 2u, 3u, 4u, 8u, 100u, 253u, 254u, 300u}) {
    WordIndex w;
    for (DWORD i = 0; i < n; ++i) ASSERT_TRUE(InsertTopic(w, TopicCount(w), MakeTopic(2 * i, 1)));
    // An item in the middle, and one at the front.
    ASSERT_TRUE(InsertTopic(w, TopicLowerBound(w, n | 1), MakeTopic(n | 1, 1)));
    ASSERT_TRUE(InsertTopic(w, 0, MakeTopic(0, 9)));
    std::vector<DWORD> items = Items(w);
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end())) << n;
    EXPECT_EQ(items.size(), n + 2);
    FreeTopics(w, 0);
  }
}

TEST(TopicForms, AssignChoosesTheFormByCount) {
  std::vector<DWORD> t(300);
  for (DWORD i = 0; i < 300; ++i) t[i] = MakeTopic(i, 1);
  WordIndex w;
  ASSERT_TRUE(AssignTopics(w, t.data(), 300));
  EXPECT_EQ(w.m_nCount, kGrowableForm);
  ASSERT_TRUE(AssignTopics(w, t.data(), 254));
  EXPECT_EQ(w.m_nCount, 254);
  ASSERT_TRUE(AssignTopics(w, t.data(), 1));
  EXPECT_EQ(w.m_nCount, 1);
  EXPECT_EQ(w.m_dwTopic, t[0]);
  ASSERT_TRUE(AssignTopics(w, t.data(), 0, MakeReference(2, 9)));
  EXPECT_EQ(w.m_nCount, 0);
  EXPECT_EQ(w.m_dwRef, MakeReference(2, 9));
}

TEST(TopicForms, SameItemIsInsertedBesideNotMerged) {
  WordIndex w;
  Fill(w, 3);
  ASSERT_TRUE(InsertTopic(w, TopicLowerBound(w, 1), MakeTopic(1, 7)));
  EXPECT_EQ(Items(w), (std::vector<DWORD>{0, 1, 1, 2}));
  FreeTopics(w, 0);
}

namespace {

char* Dup(const char* s) { return strdup(s); }

WordIndex Word(const char* s) {
  WordIndex w;
  w.m_pWord = Dup(s);
  return w;
}

}  // namespace

TEST(WordTable, SortedInsertAndUnsignedByteOrder) {
  CWordTable table;
  std::vector<std::pair<std::size_t, WordIndex>> add;
  add.emplace_back(0, Word("ALFA"));
  add.emplace_back(0, Word("BETA"));
  table.InsertSorted(add);
  // "\xA5LA" (Polish letter) sorts after every ASCII word; "AL" before "ALFA".
  add.clear();
  add.emplace_back(table.LowerBound("AL"), Word("AL"));
  add.emplace_back(table.LowerBound("ALFB"), Word("ALFB"));
  add.emplace_back(table.LowerBound("\xA5LA"), Word("\xA5LA"));
  table.InsertSorted(add);
  ASSERT_EQ(table.Size(), 5u);
  const char* expected[] = {"AL", "ALFA", "ALFB", "BETA", "\xA5LA"};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_STREQ(table[i].m_pWord, expected[i]);
  EXPECT_EQ(table.Find("ALFB"), 2u);
  EXPECT_EQ(table.Find("ALF"), CWordTable::npos);
  EXPECT_EQ(table.LowerBound("B", 4), 4u);  // a start position is honoured
}

TEST(WordTable, RemoveMarkedKeepsOrder) {
  CWordTable table;
  for (const char* s : {"A1", "B2", "C3", "D4"}) table.Append(Word(s));
  table.RemoveMarked({true, false, true, false});
  ASSERT_EQ(table.Size(), 2u);
  EXPECT_STREQ(table[0].m_pWord, "B2");
  EXPECT_STREQ(table[1].m_pWord, "D4");
}
