// An index is a container too: every writer of the container that can be
// called on a CDocServer (directly or through a CFileServer reference) either
// indexes what it stores or refuses, so that no stored document escapes the
// word queries.
#include "doc_fixture.h"

using namespace doctest;

namespace {

class StoreWriters : public ::testing::Test {
 protected:
  // Stores through the container's own three- and four-argument writers.
  static DWORD Put(CFileServer& store, const std::string& name, const std::string& text, DWORD at, bool replace) {
    CMemFile file(4096);
    file.Write(text.data(), static_cast<UINT>(text.size()));
    file.SeekToBegin();
    FileItemPtr item(MakeFileItem(name.c_str()));
    if (at == CFileServer::kNoItem) return store.AddFile(file, item.get(), 2);
    return replace ? store.ReplaceFile(file, item.get(), at, 2) : store.InsertFile(file, item.get(), at, 2);
  }
  // A compacted container holding the texts; an index when `indexed`.
  std::string MakeSource(const std::string& name, const std::vector<std::string>& texts, bool indexed) {
    const std::string p = dir.File(name);
    {
      std::unique_ptr<CFileServer> s = indexed ? std::make_unique<CDocServer>() : std::make_unique<CFileServer>();
      EXPECT_TRUE(s->Init(p.c_str(), &guid, kCreate));
      for (std::size_t i = 0; i < texts.size(); ++i)
        Put(*s, name + std::to_string(i), texts[i], CFileServer::kNoItem, false);
      s->Close();
      EXPECT_TRUE(s->Init(p.c_str(), nullptr, kWrite));
      EXPECT_TRUE(s->Compact());
      s->Close();
    }
    return p;
  }

  TempDir dir;
  GUID guid = TestGuid();
  std::string path = dir.File("base.vq");
};

}  // namespace

TEST_F(StoreWriters, EveryWriterOfTheStoreIndexesWhatItStores) {
  {
    CDocServer base(path.c_str(), &guid, kCreate);
    CFileServer& store = base;
    // Slots as worked out by hand: alfa 0; beta inserted before it (alfa 1);
    // alfa replaced by gamma; delta added at the end (2).
    EXPECT_EQ(Put(store, "a", "alfa epsilon", CFileServer::kNoItem, false), 0u);
    EXPECT_EQ(Put(store, "b", "beta epsilon", 0, false), 0u);
    EXPECT_EQ(Put(store, "c", "gamma zeta", 1, true), 1u);
    EXPECT_EQ(Put(base, "d", "delta zeta", CFileServer::kNoItem, false), 2u);
    EXPECT_EQ(Query(base, "beta"), std::vector<DWORD>{0});
    EXPECT_EQ(Query(base, "gamma"), std::vector<DWORD>{1});
    EXPECT_EQ(Query(base, "delta"), std::vector<DWORD>{2});
    EXPECT_TRUE(Query(base, "alfa").empty());
    EXPECT_EQ(Query(base, "epsilon"), std::vector<DWORD>{0});
    ExpectIndexMatchesDocuments(base, false);
  }
  // Written at close: the index, and the positions the phrases read.
  CDocServer base(path.c_str(), nullptr, kRead);
  ExpectIndexMatchesDocuments(base);
  EXPECT_EQ(Query(base, "zeta"), (std::vector<DWORD>{1, 2}));
  EXPECT_EQ(base.PositionsState(), concorda::CPositionsFile::State::kUsable);
  EXPECT_EQ(Query(base, "\"gamma zeta\""), std::vector<DWORD>{1});
  EXPECT_EQ(Query(base, "\"zeta delta\""), std::vector<DWORD>{});
}

TEST_F(StoreWriters, TheStoresUnionOfTwoIndexesIsTheIndexUnion) {
  const std::string a = MakeSource("a", {"alfa wspólne", "beta"}, true);
  const std::string b = MakeSource("b", {"gamma wspólne"}, true);
  CDocServer first(a.c_str(), nullptr, kRead), second(b.c_str(), nullptr, kRead);
  CDocServer target(path.c_str(), &guid, kCreate);
  CFileServer& store = target;
  ASSERT_TRUE(store.Union(&first, &second));
  EXPECT_EQ(Query(target, "alfa"), std::vector<DWORD>{0});
  EXPECT_EQ(Query(target, "gamma"), std::vector<DWORD>{2});
  EXPECT_EQ(Query(target, "wspólne"), (std::vector<DWORD>{0, 2}));
  ExpectIndexMatchesDocuments(target);
}

TEST_F(StoreWriters, AnIndexRefusesTheUnionOfPlainContainers) {
  // Before, the documents were copied and the index written over them was
  // the target's old one (or none): they were found by no query.
  const std::string plain = MakeSource("plain", {"alfa", "beta"}, false);
  const std::string indexed = MakeSource("indexed", {"gamma"}, true);
  CFileServer plainSource(plain.c_str(), nullptr, kRead);
  CDocServer indexSource(indexed.c_str(), nullptr, kRead);
  CDocServer target(path.c_str(), &guid, kCreate);
  AddDoc(target, "own", "własny dokument");
  CFileServer& store = target;
  EXPECT_FALSE(store.Union(&plainSource, &plainSource));
  EXPECT_FALSE(target.Union(&plainSource, &indexSource));
  EXPECT_FALSE(store.Union(&indexSource, &plainSource));
  EXPECT_EQ(target.GetSize(), 1u);
  EXPECT_EQ(Query(target, "własny"), std::vector<DWORD>{0});
  EXPECT_TRUE(Query(target, "alfa").empty());
  ExpectIndexMatchesDocuments(target, false);
}
