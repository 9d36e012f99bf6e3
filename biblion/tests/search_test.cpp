// Word and key queries over all bases, handed out base by base, and the
// catalogue used from many request threads at once.
#include <atomic>
#include <thread>

#include "catalogue_fixture.h"

namespace {

using biblion_test::BaseADocs;
using biblion_test::BaseBDocs;
using biblion_test::CatalogueTest;
using biblion_test::R;
using V = std::vector<DWORD>;

// Every result of a search, the first included; the handle is used up.
V Drain(void* handle, DWORD first) {
  V out;
  if (handle == CSrvSrv::NoFind()) return out;
  out.push_back(first);
  DWORD next = 0;
  while (CSrvSrv::FindNextDoc(handle, &next)) out.push_back(next);
  return out;
}

V Words(const CSrvSrv& cat, const char* query) {
  DWORD first = 0;
  BYTE flag = 7;
  void* h = cat.FindFirstDoc(query, &first, &flag);
  if (h != CSrvSrv::NoFind()) {
    EXPECT_EQ(flag, 0);
  }
  return Drain(h, first);
}

V Keys(const CSrvSrv& cat, const char* keys) {
  DWORD first = 0;
  return Drain(cat.FindFirstDocFromKey(keys, &first), first);
}

class SearchTest : public CatalogueTest {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    Register({MakeBase("a.vq", BaseADocs()), MakeBase("b.vq", BaseBDocs())});
    ASSERT_TRUE(cat.Init(nullptr));
  }
  CSrvSrv cat;
};

TEST_F(SearchTest, ResultsComeBaseByBase) {
  EXPECT_EQ(Words(cat, "lasy"), (V{0, 1, 1u << 16, (1u << 16) | 1}));
  EXPECT_EQ(Words(cat, "lasy I prywatne"), (V{1}));
  EXPECT_EQ(Keys(cat, "D97034"), (V{0, 1, 1u << 16}));
}

TEST_F(SearchTest, OnlyTheSecondBaseAnswers) {
  EXPECT_EQ(Words(cat, "gminne LUB witamy"), (V{1u << 16, (1u << 16) | 2}));
  DWORD first = 0;
  void* h = cat.FindFirstDoc("witamy", &first, nullptr);  // the flag pointer may be null
  ASSERT_NE(h, CSrvSrv::NoFind());
  EXPECT_EQ(first, (1u << 16) | 2);
  DWORD next = 99;
  EXPECT_FALSE(CSrvSrv::FindNextDoc(h, &next));  // also releases the handle
  EXPECT_EQ(next, 99u);
}

TEST_F(SearchTest, NothingFoundLeavesFirstUnchanged) {
  DWORD first = 12345;
  BYTE flag = 9;
  EXPECT_EQ(cat.FindFirstDoc("brzoza", &first, &flag), CSrvSrv::NoFind());
  EXPECT_EQ(cat.FindFirstDoc(nullptr, &first, &flag), CSrvSrv::NoFind());
  EXPECT_EQ(cat.FindFirstDocFromKey("X00000", &first), CSrvSrv::NoFind());
  EXPECT_EQ(first, 12345u);
  // A handle that never was one is refused without harm.
  DWORD next = 0;
  EXPECT_FALSE(CSrvSrv::FindNextDoc(CSrvSrv::NoFind(), &next));
  EXPECT_TRUE(CSrvSrv::FindClose(CSrvSrv::NoFind()));
  EXPECT_EQ(CSrvSrv::GetFindItems(CSrvSrv::NoFind()), 0u);
}

TEST_F(SearchTest, FindItemsCountsTheBasesStillSearching) {
  DWORD first = 0, next = 0;
  void* h = cat.FindFirstDoc("lasy", &first, nullptr);
  ASSERT_NE(h, CSrvSrv::NoFind());
  EXPECT_EQ(CSrvSrv::GetFindItems(h), 4u);  // the handed-out first result still counts
  ASSERT_TRUE(CSrvSrv::FindNextDoc(h, &next));
  EXPECT_EQ(CSrvSrv::GetFindItems(h), 4u);
  ASSERT_TRUE(CSrvSrv::FindNextDoc(h, &next));  // base 1's first result: base 0 has ended
  EXPECT_EQ(next, 1u << 16);
  EXPECT_EQ(CSrvSrv::GetFindItems(h), 2u);
  EXPECT_TRUE(CSrvSrv::FindClose(h));  // given up early: the bases' handles are closed
}

TEST_F(SearchTest, ClosingRightAfterTheFirstResult) {
  DWORD first = 0;
  void* h = cat.FindFirstDocFromKey("D97034", &first);
  ASSERT_NE(h, CSrvSrv::NoFind());
  EXPECT_EQ(first, 0u);
  EXPECT_TRUE(CSrvSrv::FindClose(h));
}

// Request threads share one catalogue: every answer equals the one a single
// thread gets. The catalogue holds no lock of its own; each base serialises
// its file, each search lives in its own handle.
TEST_F(SearchTest, ManyThreadsShareOneCatalogue) {
  const _RNP act = R(0, 97, 12, 34), from = R(0, 0, 1, 1), to = R(0, 99, 464, 2000, 1);
  V expectRange;
  ASSERT_TRUE(cat.FindFromRNP(&from, &to, 0, expectRange));
  V expectVersions;
  cat.GetSubPositions(R(0, 97, 0, 34), expectVersions);
  const V expectWords = Words(cat, "lasy"), expectKeys = Keys(cat, "D97034");
  const std::string expectTitle = cat.GetTitle(act, act);
  const std::string expectDoc = BaseBDocs()[2].text;
  ASSERT_FALSE(expectTitle.empty());

  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 60; ++round) {
        bool ok = true;
        switch ((t + round) % 5) {
          case 0: {
            V range;
            ok = cat.FindFromRNP(&from, &to, 0, range) && range == expectRange;
            V versions;
            ok = ok && cat.GetSubPositions(R(0, 97, 0, 34), versions) == act && versions == expectVersions;
            break;
          }
          case 1:
            ok = Words(cat, "lasy") == expectWords;
            break;
          case 2:
            ok = Keys(cat, "D97034") == expectKeys && cat.GetTitle(act, act) == expectTitle;
            break;
          case 3: {
            CMemFile file(4096);
            _FILEITEM* item = cat.GetFile("HOME.HTM", file, 0, FALSE);
            ok = item != nullptr &&
                 std::string(reinterpret_cast<const char*>(file.GetBuffer()), file.GetLength()) == expectDoc;
            CSrvSrv::FreeFileItem(item);
            break;
          }
          default: {
            DWORD first = 0;
            void* h = cat.FindFirstDoc("lasy", &first, nullptr);  // given up half way
            DWORD next = 0;
            ok = h != CSrvSrv::NoFind() && CSrvSrv::FindNextDoc(h, &next) && next == expectWords[1];
            CSrvSrv::FindClose(h);
            break;
          }
        }
        if (!ok) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
