// Item index changes: one record, the composed map of a whole log, and the
// key table that applies them at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "concorda/change_log.h"
#include "concorda/key_table.h"
#include "concorda/word_index.h"

using namespace concorda;

TEST(ChangeLog, InsertionShiftsStoredTopicsAndKeepsTheCount) {
  CChangeLog log;
  log.Append(kChangeInserted, 10);
  std::vector<DWORD> topics = {MakeTopic(3, 1), MakeTopic(10, 2), MakeTopic(12, 4)};
  EXPECT_TRUE(log.Apply(topics, 0));
  EXPECT_EQ(topics, (std::vector<DWORD>{MakeTopic(3, 1), MakeTopic(11, 2), MakeTopic(13, 4)}));
}

TEST(ChangeLog, DeletionAndRemovalDropTheItem) {
  CChangeLog log;
  log.Append(kChangeDeleted, 5);
  log.Append(kChangeRemoved, 2);
  std::vector<DWORD> topics = {MakeTopic(2, 1), MakeTopic(5, 1), MakeTopic(6, 1), MakeTopic(9, 1)};
  log.Apply(topics, 0);
  EXPECT_EQ(topics, (std::vector<DWORD>{MakeTopic(5, 1), MakeTopic(8, 1)}));
}

TEST(ChangeLog, OnlyRecordsFromTheGivenPositionApply) {
  CChangeLog log;
  log.Append(kChangeRemoved, 4);    // seen already by the list
  log.Append(kChangeInserted, 0);   // not yet
  std::vector<DWORD> topics = {MakeTopic(4, 1)};
  log.Apply(topics, 1);
  EXPECT_EQ(topics, std::vector<DWORD>{MakeTopic(5, 1)});
  std::vector<DWORD> none = {MakeTopic(4, 1)};
  EXPECT_FALSE(log.Apply(none, 2));
  EXPECT_EQ(none, std::vector<DWORD>{MakeTopic(4, 1)});
}

// The composed map must equal applying the records one after another.
TEST(ChangeLog, ComposedMapEqualsSequentialApplication) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<ChangeRecord> records;
    int n = 1 + static_cast<int>(rng() % 40);
    for (int k = 0; k < n; ++k)
      records.push_back(ChangeRecord{static_cast<BYTE>(rng() % 3), static_cast<DWORD>(rng() % 30)});
    CChangeMap map;
    map.Build(records.data(), records.size());
    for (DWORD x = 0; x < 60; ++x) {
      DWORD expected = x;
      bool alive = true;
      for (const auto& r : records) {
        alive = ApplyChange(r, expected);
        if (!alive) break;
      }
      DWORD got = x;
      ASSERT_EQ(map.Map(got), alive) << "round " << round << " x " << x;
      if (alive) {
        ASSERT_EQ(got, expected) << "round " << round << " x " << x;
      }
    }
  }
}

TEST(KeyTable, DeleteShiftsAndRemoveDrops) {
  CKeyTable keys;
  for (DWORD x : {3u, 5u, 6u, 9u}) keys.Add(77, x);
  EXPECT_TRUE(keys.Apply(kChangeDeleted, 5));
  EXPECT_EQ(*keys.Find(77), (std::vector<DWORD>{3, 5, 8}));
  CKeyTable other;
  for (DWORD x : {3u, 5u, 6u}) other.Add(1, x);
  EXPECT_TRUE(other.Apply(kChangeRemoved, 5));
  EXPECT_EQ(*other.Find(1), (std::vector<DWORD>{3, 6}));
  EXPECT_FALSE(other.Apply(kChangeRemoved, 5));
  EXPECT_TRUE(other.Apply(kChangeInserted, 4));
  EXPECT_EQ(*other.Find(1), (std::vector<DWORD>{3, 7}));
}

TEST(KeyTable, AddKeepsHashOrderAndNoDuplicates) {
  CKeyTable keys;
  keys.Add(0xF0000000, 1);
  keys.Add(5, 2);
  keys.Add(5, 2);
  keys.Add(5, 0);
  keys.Add(0x7FFFFFFF, 3);
  ASSERT_EQ(keys.Size(), 3u);
  EXPECT_EQ(keys.All().begin()->first, 5u);
  EXPECT_EQ(keys.All().rbegin()->first, 0xF0000000u);  // unsigned order
  EXPECT_EQ(*keys.Find(5), (std::vector<DWORD>{2, 0}));
  EXPECT_EQ(keys.Find(6), nullptr);
}

TEST(KeyTable, StoredFormRoundTrip) {
  CKeyTable keys;
  keys.Add(9, 4);
  keys.Add(2, 1);
  keys.Add(2, 3);
  std::vector<BYTE> bytes = keys.Serialize();
  // N, two pairs, three items.
  ASSERT_EQ(bytes.size(), 4u + 16u + 12u);
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(bytes[4], 2);   // first hash
  EXPECT_EQ(bytes[8], 2);   // its count
  CKeyTable back;
  EXPECT_TRUE(back.Parse(bytes.data(), bytes.size()));
  EXPECT_EQ(*back.Find(2), (std::vector<DWORD>{1, 3}));
  EXPECT_EQ(*back.Find(9), (std::vector<DWORD>{4}));
}

TEST(KeyTable, DamagedStoredFormsKeepWhatIsWhole) {
  CKeyTable keys;
  keys.Add(2, 1);
  keys.Add(9, 4);
  std::vector<BYTE> bytes = keys.Serialize();
  CKeyTable back;
  // Cut inside the second list: the first key survives.
  EXPECT_FALSE(back.Parse(bytes.data(), bytes.size() - 2));
  ASSERT_EQ(back.Size(), 1u);
  EXPECT_EQ(*back.Find(2), std::vector<DWORD>{1});
  // A key count far beyond the file, and a huge item count.
  std::vector<BYTE> hostile = {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_FALSE(back.Parse(hostile.data(), hostile.size()));
  EXPECT_EQ(back.Size(), 0u);
  EXPECT_FALSE(back.Parse(hostile.data(), 3));
  EXPECT_FALSE(back.Parse(nullptr, 0));
}

// Long lists (a key most documents carry) take items added one after another
// without a search; lists that do not ascend, items added again, items below
// the last, shifts and removals in between, and a table read back from its
// stored form must all still give each key every item once, in the order of
// first addition. The model adds with a search of the whole list every time.
TEST(KeyTable, LongListsAgreeWithAModelThatSearchesEveryTime) {
  std::mt19937 rng(1210);
  auto pick = [&](DWORD n) { return std::uniform_int_distribution<DWORD>(0, n - 1)(rng); };
  std::map<DWORD, std::vector<DWORD>> model;
  auto modelAdd = [&](DWORD hash, DWORD item) {
    std::vector<DWORD>& items = model[hash];
    if (std::find(items.begin(), items.end(), item) == items.end()) items.push_back(item);
  };
  auto modelApply = [&](BYTE kind, DWORD index) {
    for (auto& [hash, items] : model) {
      std::vector<DWORD> kept;
      for (DWORD x : items) {
        if (kind == kChangeInserted) kept.push_back(x >= index ? x + 1 : x);
        else if (x == index) continue;
        else kept.push_back(kind == kChangeDeleted && x > index ? x - 1 : x);
      }
      items = kept;
    }
  };
  {
    // A long list whose end does not ascend, then items shifted down: the
    // run once known to ascend now covers the item out of order.
    CKeyTable table;
    for (DWORD x = 0; x < 100; ++x) table.Add(7, x);
    table.Add(7, 200);
    table.Add(7, 150);
    table.Apply(kChangeDeleted, 10);
    table.Add(7, 149);
    std::vector<DWORD> expected;
    for (DWORD x = 0; x < 99; ++x) expected.push_back(x);
    expected.push_back(199);
    expected.push_back(149);
    EXPECT_EQ(*table.Find(7), expected);
  }
  CKeyTable keys;
  DWORD next = 0;
  for (int step = 0; step < 6000; ++step) {
    const DWORD op = pick(100);
    if (op < 80) {
      // A new last document: the empty key, a common one, one of its own.
      const DWORD item = next++;
      for (DWORD hash : {0u, 1u + item % 3, 1000u + item}) {
        keys.Add(hash, item);
        modelAdd(hash, item);
      }
    } else if (op < 88) {
      const DWORD item = pick(next + 5), hash = pick(4);  // again, below the last, or above
      keys.Add(hash, item);
      modelAdd(hash, item);
    } else if (op < 93) {
      const BYTE kind = static_cast<BYTE>(pick(3));
      const DWORD index = pick(next + 1);
      keys.Apply(kind, index);
      modelApply(kind, index);
      if (kind == kChangeInserted) ++next;
      if (kind == kChangeDeleted && next > 0) --next;
    } else if (op < 95) {
      const std::vector<BYTE> bytes = keys.Serialize();
      CKeyTable back;
      ASSERT_TRUE(back.Parse(bytes.data(), bytes.size()));
      keys = back;
    }
    if (step % 250 == 0 || step == 5999) {
      for (const auto& [hash, items] : model) {
        const std::vector<DWORD>* found = keys.Find(hash);
        ASSERT_NE(found, nullptr) << "step " << step << " hash " << hash;
        ASSERT_EQ(*found, items) << "step " << step << " hash " << hash;
      }
    }
  }
  EXPECT_GT(model[0].size(), 2000u);  // the long list was long
}
