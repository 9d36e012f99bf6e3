// The result lists of a search ordered and intersected by counting give what
// sorting and std::set_intersection give, whatever the lists: dense or sparse
// numbers, items repeated (up to hundreds of times), lists short and long,
// sorted or not, one of them empty.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>

#include "portico/result_items.h"

namespace {

// A list of `n` items below `highest`, shuffled, some of them repeated.
std::vector<DWORD> Items(std::mt19937& random, std::size_t n, DWORD highest, unsigned repeatOneIn) {
  std::vector<DWORD> out;
  while (out.size() < n) {
    const DWORD x = random() % highest;
    out.push_back(x);
    if (repeatOneIn && random() % repeatOneIn == 0) out.push_back(x);
  }
  std::shuffle(out.begin(), out.end(), random);
  return out;
}

std::vector<DWORD> Sorted(std::vector<DWORD> items) {
  std::sort(items.begin(), items.end());
  return items;
}

std::vector<DWORD> Model(const std::vector<DWORD>& range, const std::vector<DWORD>& hits) {
  const std::vector<DWORD> a = Sorted(range), b = Sorted(hits);
  std::vector<DWORD> out;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

}  // namespace

TEST(ResultItems, CountedListsAreTheSortedAndIntersectedOnes) {
  std::mt19937 random(5);
  struct Shape {
    std::size_t rangeSize, hitsSize;
    DWORD highest;
    unsigned repeatOneIn;
  } shapes[] = {
      {150000, 90000, 180000, 0},   // a catalogue's acts and a frequent word's documents
      {150000, 90000, 180000, 7},   // acts cited twice, documents of several bases
      {5000, 200000, 180000, 3},    // few acts, many hits, hits beyond the highest act
      {3000, 10, 4000, 0},          // a handful of hits
      {40000, 40000, 4000000000u, 5},  // sparse numbers: sorted, not counted
      {800, 500, 1000, 2},          // short lists
      {2000, 0, 3000, 0},           // no hits
      {0, 2000, 3000, 0},           // no acts in range
  };
  for (const Shape& s : shapes) {
    std::vector<DWORD> range = Items(random, s.rangeSize, s.highest, s.repeatOneIn);
    std::vector<DWORD> hits = Items(random, s.hitsSize, s.highest + s.highest / 4, s.repeatOneIn);
    const std::vector<DWORD> expected = Model(range, hits);
    EXPECT_EQ(portico::ItemsInBoth(range, hits), expected) << s.rangeSize << " acts, " << s.hitsSize << " hits";
    EXPECT_EQ(hits, Sorted(hits));
    const std::vector<DWORD> sorted = Sorted(range);
    portico::SortItems(range);
    EXPECT_EQ(range, sorted) << s.rangeSize << " acts";
  }
}

TEST(ResultItems, AnItemRepeatedHundredsOfTimesKeepsEveryRepetition) {
  // Counts are kept in a byte: an item that comes 300 times is sorted instead.
  std::mt19937 random(9);
  std::vector<DWORD> range = Items(random, 20000, 30000, 0), hits = Items(random, 5000, 30000, 0);
  range.insert(range.end(), 300, 777);
  hits.insert(hits.end(), 260, 777);
  std::shuffle(range.begin(), range.end(), random);
  const std::vector<DWORD> expected = Model(range, hits);
  ASSERT_EQ(std::count(expected.begin(), expected.end(), 777u),
            260 + std::count(hits.begin(), hits.end() - 260, 777u));  // the rarer side's repetitions
  EXPECT_EQ(portico::ItemsInBoth(range, hits), expected);
  const std::vector<DWORD> sorted = Sorted(range);
  portico::SortItems(range);
  EXPECT_EQ(range, sorted);
  // Worked out by hand: 3 and 5 twice in both, 4 only among the acts.
  std::vector<DWORD> acts(2000, 9), found = {5, 3, 5, 3, 3, 8};
  acts.insert(acts.end(), {3, 4, 5, 5, 3});
  EXPECT_EQ(portico::ItemsInBoth(acts, found), (std::vector<DWORD>{3, 3, 5, 5}));
}

TEST(ResultItems, OnePreparedRangeServesManyQueries) {
  // The range is made once and intersected with the hits of query after
  // query: nothing of one intersection may stay behind for the next, counted
  // or not (sparse numbers, an item repeated 300 times, a short range).
  std::mt19937 random(13);
  std::vector<std::vector<DWORD>> ranges = {Items(random, 120000, 150000, 5), Items(random, 30000, 4000000000u, 3),
                                            Items(random, 600, 900, 2)};
  ranges[0].insert(ranges[0].end(), 300, 4242);
  for (const std::vector<DWORD>& range : ranges) {
    const portico::CPreparedRange prepared(range);
    EXPECT_EQ(prepared.Sorted(), Sorted(range));
    const DWORD highest = *std::max_element(range.begin(), range.end());
    for (int query = 0; query < 6; ++query) {
      std::vector<DWORD> hits = Items(random, 1 + random() % 50000, highest / 2 + highest / (query + 1), query % 3);
      if (query == 2) hits.insert(hits.end(), 280, 4242);
      const std::vector<DWORD> expected = Model(range, hits);
      EXPECT_EQ(prepared.Intersect(hits), expected) << range.size() << " acts, query " << query;
      EXPECT_EQ(hits, Sorted(hits));
    }
  }
  // Worked out by hand: 7 three times in range and twice among the hits.
  const portico::CPreparedRange small({9, 7, 2, 7, 7});
  std::vector<DWORD> hits = {7, 1, 7, 9, 9};
  EXPECT_EQ(small.Intersect(hits), (std::vector<DWORD>{7, 7, 9}));
  EXPECT_EQ(small.Sorted(), (std::vector<DWORD>{2, 7, 7, 7, 9}));
}
