// The table of acts: the lists the contents tree walks, the range search of
// the search form with its three modes, and lookups by reference.
#include <gtest/gtest.h>

#include <vector>

#include "biblion/act_table.h"
#include "table_fixture.h"

namespace {

using biblion::ActEntry;
using biblion::CActTable;
using biblion_test::R;
using V = std::vector<DWORD>;

// Combined indices of the documents of the sample table.
enum : DWORD {
  kOrig = 0x00000001,     // Dz.U. 97/12/34, first text
  kAmend98 = 0x00000002,  // its amendment by Dz.U. 98/5/12
  kAmend99 = 0x00010003,  // its amendment by Dz.U. 99/1/1, in base 1
  kAmend99Old = 0x00000004,  // the same amendment in base 0: the older copy
  kRuling = 0x00000005,   // a ruling on it
  kPlain = 0x00000006,    // a document of the act without a second part
  kFlagged = 0x00000007,  // Dz.U. 97/Nr 12/30 (number cited with a prefix)
  k90a = 0x00000008,      // Dz.U. 90/3/10
  k90b = 0x00000009,      // Dz.U. 90/11/50
  k91 = 0x0000000A,       // Dz.U. 91/7/20
  k91Amend = 0x0000000B,  // its amendment by Dz.U. 93/2/5
  k91Ruling = 0x0000000C, // a ruling on it
  k91RulingOnly = 0x0000000D,  // Dz.U. 91/7/5: only a ruling
  kMP99 = 0x0000000E,     // M.P. 99/3/5
  kMP95a = 0x0000000F,    // M.P. 95/1/1
  kMP95b = 0x00000010,    // M.P. 95/2/9
  k92 = 0x00000011,       // Dz.U. 92/6/8
};

CActTable SampleTable() {
  const _RNP act = R(0, 97, 12, 34), a91 = R(0, 91, 7, 20);
  std::vector<ActEntry> e = {
      {act.dw, act.dw, kOrig},
      {act.dw, R(0, 98, 5, 12).dw, kAmend98},
      {act.dw, R(0, 99, 1, 1).dw, kAmend99Old},
      {act.dw, R(0, 99, 1, 1).dw, kAmend99},
      {act.dw, R(2, 99, 0, 4).dw, kRuling},
      {act.dw, R(15, 0, 12, 0).dw, kPlain},
      {R(0, 97, 12, 30, 1).dw, R(0, 97, 12, 30, 1).dw, kFlagged},
      {R(0, 90, 3, 10).dw, R(0, 90, 3, 10).dw, k90a},
      {R(0, 90, 11, 50).dw, R(0, 90, 11, 50).dw, k90b},
      {a91.dw, a91.dw, k91},
      {a91.dw, R(0, 93, 2, 5).dw, k91Amend},
      {a91.dw, R(2, 95, 0, 3).dw, k91Ruling},
      {R(0, 91, 7, 5).dw, R(2, 96, 0, 1).dw, k91RulingOnly},
      {R(1, 99, 3, 5).dw, R(1, 99, 3, 5).dw, kMP99},
      {R(1, 95, 1, 1).dw, R(1, 95, 1, 1).dw, kMP95a},
      {R(1, 95, 2, 9).dw, R(1, 95, 2, 9).dw, kMP95b},
      {R(0, 92, 6, 8).dw, R(0, 92, 6, 8).dw, k92},
  };
  CActTable t;
  t.Assign(e);
  return t;
}

class ActTableTest : public ::testing::Test {
 protected:
  CActTable table = SampleTable();
};

TEST_F(ActTableTest, AssignSortsByReferencesThenIndexDescending) {
  EXPECT_TRUE(CActTable::IsInTableOrder(table.Entries()));
  const auto& e = table.Entries();
  for (std::size_t i = 1; i < e.size(); ++i) {
    if (e[i].dwFirst == e[i - 1].dwFirst && e[i].dwSecond == e[i - 1].dwSecond) {
      EXPECT_GT(e[i - 1].dwIndex, e[i].dwIndex);
    }
  }
  std::vector<ActEntry> swapped = e;
  std::swap(swapped[0], swapped[1]);
  EXPECT_FALSE(CActTable::IsInTableOrder(swapped));
  std::vector<ActEntry> twice = {e[0], e[0]};
  EXPECT_FALSE(CActTable::IsInTableOrder(twice));
}

TEST_F(ActTableTest, YearsOfAJournalOnceEachAscending) {
  V years = {42};  // lists are appended to
  table.GetYears(R(1, 0, 0, 0), years);
  EXPECT_EQ(years, (V{42, 95, 99}));
  V dzu;
  table.GetYears(R(0, 50, 7, 7), dzu);  // only the kind counts
  EXPECT_EQ(dzu, (V{90, 91, 92, 97}));
  V none;
  table.GetYears(R(2, 0, 0, 0), none);
  EXPECT_TRUE(none.empty());
}

TEST_F(ActTableTest, NumbersOfAYear) {
  V numbers;
  table.GetNumbers(R(0, 90, 0, 0), numbers);
  EXPECT_EQ(numbers, (V{3, 11}));
  V both;  // a number cited with and without prefix is listed once
  table.GetNumbers(R(0, 97, 0, 0), both);
  EXPECT_EQ(both, (V{12}));
  V none;
  table.GetNumbers(R(0, 96, 0, 0), none);
  EXPECT_TRUE(none.empty());
}

TEST_F(ActTableTest, PositionsOfANumber) {
  V positions;
  table.GetPositions(R(0, 91, 7, 0), positions);
  EXPECT_EQ(positions, (V{20}));  // position 5 holds only a ruling at the start
  V mixed;  // "12" and "Nr 12": two runs of positions, listed once each, ascending
  table.GetPositions(R(0, 97, 12, 0), mixed);
  EXPECT_EQ(mixed, (V{30, 34}));
  V none;
  table.GetPositions(R(0, 97, 13, 0), none);
  EXPECT_TRUE(none.empty());
}

TEST_F(ActTableTest, SubPositionsListTheVersionsUpToTheFirstRuling) {
  V versions;
  _RNP full = table.GetSubPositions(R(0, 97, 12, 34), versions);
  EXPECT_EQ(full, R(0, 97, 12, 34));
  EXPECT_EQ(versions, (V{R(0, 97, 12, 34).dw, R(0, 98, 5, 12).dw, R(0, 99, 1, 1).dw}));

  // Without a number the act is found by its position in the year, and the
  // number and prefix flag are filled in.
  V flagged;
  EXPECT_EQ(table.GetSubPositions(R(0, 97, 0, 30), flagged), R(0, 97, 12, 30, 1));
  EXPECT_EQ(flagged, (V{R(0, 97, 12, 30, 1).dw}));
  V byYear;
  EXPECT_EQ(table.GetSubPositions(R(0, 91, 0, 20), byYear), R(0, 91, 7, 20));
  EXPECT_EQ(byYear, (V{R(0, 91, 7, 20).dw, R(0, 93, 2, 5).dw}));
}

TEST_F(ActTableTest, SubPositionsOfAnUnknownActAreEmpty) {
  V versions = {1};
  EXPECT_EQ(table.GetSubPositions(R(0, 97, 12, 999), versions), R(0, 97, 12, 999));
  EXPECT_EQ(table.GetSubPositions(R(0, 97, 11, 34), versions), R(0, 97, 11, 34));
  EXPECT_EQ(table.GetSubPositions(R(1, 50, 0, 1), versions), R(1, 50, 0, 1));
  EXPECT_EQ(versions, (V{1}));
}

TEST_F(ActTableTest, FindFromRnpModes) {
  const _RNP from = R(0, 97, 12, 34), to = R(0, 97, 12, 34, 1);
  V out;
  ASSERT_TRUE(table.FindFromRNP(from, to, 1, out));
  EXPECT_EQ(out, (V{kOrig}));  // one per act
  ASSERT_TRUE(table.FindFromRNP(from, to, 2, out));
  EXPECT_EQ(out, (V{kOrig, kAmend98, kAmend99, kRuling, kPlain}));  // one per version, the newer copy
  ASSERT_TRUE(table.FindFromRNP(from, to, 0, out));
  // The last amendment before the rulings, then what follows them.
  EXPECT_EQ(out, (V{kAmend99, kPlain}));
}

TEST_F(ActTableTest, FindFromRnpFieldsAreIndependentRanges) {
  // Numbers 5 to 10 over the years 90 to 99: year 90 has only numbers 3 and
  // 11, which must not end the search before the later years.
  V out;
  ASSERT_TRUE(table.FindFromRNP(R(0, 90, 5, 1), R(0, 99, 10, 2000, 1), 1, out));
  EXPECT_EQ(out, (V{k91RulingOnly, k91, k92}));
  // Position bounds apply within every number; the prefix flag is not a bound.
  ASSERT_TRUE(table.FindFromRNP(R(0, 90, 1, 10), R(0, 99, 464, 30, 0), 1, out));
  EXPECT_EQ(out, (V{k90a, k91, kFlagged}));
  // Both journals of the search form are separate queries; M.P. alone:
  ASSERT_TRUE(table.FindFromRNP(R(1, 0, 1, 1), R(1, 99, 464, 2000, 1), 1, out));
  EXPECT_EQ(out, (V{kMP95a, kMP95b, kMP99}));
}

TEST_F(ActTableTest, FindFromRnpEmptyRangesAndUnknownModes) {
  V out = {99};
  EXPECT_FALSE(table.FindFromRNP(R(0, 93, 1, 1), R(0, 96, 464, 2000), 1, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(table.FindFromRNP(R(0, 99, 1, 1), R(0, 90, 464, 2000), 1, out));  // bounds reversed
  EXPECT_FALSE(table.FindFromRNP(R(0, 97, 13, 1), R(0, 97, 12, 2000), 1, out));
  EXPECT_FALSE(table.FindFromRNP(R(0, 90, 1, 1), R(0, 99, 464, 2000), 3, out));
  EXPECT_FALSE(table.FindFromRNP(R(0, 90, 1, 1), R(0, 99, 464, 2000), -1, out));
  EXPECT_TRUE(out.empty());
  CActTable empty;
  EXPECT_FALSE(empty.FindFromRNP(R(0, 0, 0, 0), R(15, 127, 511, 2047, 1), 1, out));
}

TEST_F(ActTableTest, GetIndexNeedsBothReferencesExactly) {
  EXPECT_EQ(table.GetIndex(R(0, 97, 12, 34), R(0, 97, 12, 34)), kOrig);
  EXPECT_EQ(table.GetIndex(R(0, 97, 12, 34), R(0, 99, 1, 1)), kAmend99);  // the newer copy
  EXPECT_EQ(table.GetIndex(R(0, 97, 12, 34), R(0, 98, 6, 12)), 0xFFFFFFFFu);  // number differs
  EXPECT_EQ(table.GetIndex(R(0, 97, 12, 34, 1), R(0, 97, 12, 34)), 0xFFFFFFFFu);
  EXPECT_EQ(table.GetIndex(R(15, 127, 511, 2047, 1), R(15, 127, 511, 2047, 1)), 0xFFFFFFFFu);
  EXPECT_EQ(CActTable().GetIndex(R(0, 97, 12, 34), R(0, 97, 12, 34)), 0xFFFFFFFFu);
}

}  // namespace
