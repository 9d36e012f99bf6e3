// The union of two indexed containers: one index over both, consistent with
// where the container's union puts the documents.
#include "doc_fixture.h"

using namespace doctest;
using concorda::MakeTopic;

namespace {

class Union : public ::testing::Test {
 protected:
  // A compacted indexed container of `documents` random documents, keyed
  // "<prefix><n>" and "SHARED".
  std::string MakeSource(const std::string& name, int documents, unsigned seed, int writeAfter = -1) {
    std::string p = dir.File(name);
    auto s = std::make_unique<CDocServer>(p.c_str(), &guid, kCreate);
    DocMaker maker(seed);
    for (int i = 0; i < documents; ++i) {
      if (i == writeAfter) {  // the system files land between the documents
        s.reset();
        s = std::make_unique<CDocServer>(p.c_str(), nullptr, kWrite);
      }
      std::string keys = name + std::to_string(i) + ";SHARED";
      AddDoc(*s, name + "_" + std::to_string(i), maker.Make(10), keys.c_str());
    }
    s.reset();
    CDocServer again(p.c_str(), nullptr, kWrite);
    EXPECT_TRUE(again.Compact());
    return p;
  }
  // The documents of a container, in slot order, system files left out.
  static std::vector<std::string> Documents(CDocServer& s) {
    std::vector<std::string> out;
    for (DWORD i = 0; i < s.GetSize(); ++i) {
      if (s.IsSystemFile(i)) continue;
      if (_FILEITEM* item = s.GetItem(i)) {
        out.push_back(item->szName);
        CFileServer::FreeFileItem(item);
      }
    }
    return out;
  }

  TempDir dir;
  GUID guid = TestGuid();
};

}  // namespace

TEST_F(Union, MergedIndexCoversBothSourcesInTheirPlaces) {
  std::string a = MakeSource("a", 10, 1), b = MakeSource("b", 7, 2);
  CDocServer first(a.c_str(), nullptr, kRead), second(b.c_str(), nullptr, kRead);
  std::vector<std::string> expected = Documents(first);
  for (const auto& d : Documents(second)) expected.push_back(d);
  std::string t = dir.File("t.vq");
  CDocServer target(t.c_str(), &guid, kCreate);
  ASSERT_TRUE(target.Union(&first, &second));
  EXPECT_EQ(Documents(target), expected);
  ExpectIndexMatchesDocuments(target);
  // A key of the second source moves by the first's ten documents.
  EXPECT_EQ(KeyQuery(target, "b3"), std::vector<DWORD>{13});
  std::vector<DWORD> shared = KeyQuery(target, "SHARED");
  EXPECT_EQ(shared.size(), 17u);
  EXPECT_EQ(shared.front(), 0u);
  EXPECT_EQ(shared.back(), 16u);
  target.Close();
  ASSERT_TRUE(target.Init(t.c_str(), nullptr, kRead));
  ExpectIndexMatchesDocuments(target);
  EXPECT_EQ(target.GetLayout(), 1u);
  // The sources are open read-only with their own indexes.
  EXPECT_FALSE(first.IsWritable());
  ExpectIndexMatchesDocuments(first);
  ExpectIndexMatchesDocuments(second);
}

TEST_F(Union, WordInBothSourcesListsTheFirstThenTheSecond) {
  std::string a = dir.File("a"), b = dir.File("b");
  {
    CDocServer s(a.c_str(), &guid, kCreate);
    for (int i = 0; i < 10; ++i) AddDoc(s, "a" + std::to_string(i), i == 4 ? "wspólne słowo" : "inne");
  }
  {
    CDocServer s(b.c_str(), &guid, kCreate);
    for (int i = 0; i < 5; ++i) AddDoc(s, "b" + std::to_string(i), i == 3 ? "wspólne wspólne" : "obce");
  }
  for (const std::string& p : {a, b}) {
    CDocServer s(p.c_str(), nullptr, kWrite);
    ASSERT_TRUE(s.Compact());
  }
  CDocServer first(a.c_str(), nullptr, kRead), second(b.c_str(), nullptr, kRead);
  std::string t = dir.File("t");
  CDocServer target(t.c_str(), &guid, kCreate);
  ASSERT_TRUE(target.Union(&first, &second));
  DWORD pos = 0;
  while (pos < target.GetWordCount() && std::string(target.GetWordAt(pos)) != "WSPÓLNE") ++pos;
  ASSERT_LT(pos, target.GetWordCount());
  EXPECT_EQ(target.GetWordTopics(pos), (std::vector<DWORD>{MakeTopic(4, 1), MakeTopic(13, 2)}));
}

TEST_F(Union, SystemFilesBetweenTheDocumentsDoNotShiftTheTopics) {
  // The first source's system files sit after its 6th document.
  std::string a = MakeSource("a", 12, 3, 6), b = MakeSource("b", 5, 4);
  CDocServer first(a.c_str(), nullptr, kRead), second(b.c_str(), nullptr, kRead);
  ASSERT_TRUE(first.IsSystemFile(6));
  std::string t = dir.File("t");
  CDocServer target(t.c_str(), &guid, kCreate);
  ASSERT_TRUE(target.Union(&first, &second));
  ExpectIndexMatchesDocuments(target);
  EXPECT_EQ(KeyQuery(target, "a7"), std::vector<DWORD>{7});
  EXPECT_EQ(KeyQuery(target, "b0"), std::vector<DWORD>{12});
}

TEST_F(Union, UncompactedSourceChangesNothing) {
  std::string a = MakeSource("a", 4, 5);
  std::string b = dir.File("b");
  {
    CDocServer s(b.c_str(), &guid, kCreate);
    AddDoc(s, "b0", "niezagęszczony");
  }
  std::string t = dir.File("t");
  CDocServer target(t.c_str(), &guid, kCreate);
  AddDoc(target, "own", "własny dokument");
  CDocServer first(a.c_str(), nullptr, kRead), second(b.c_str(), nullptr, kRead);
  EXPECT_FALSE(target.Union(&first, &second));
  EXPECT_EQ(Query(target, "własny"), std::vector<DWORD>{0});
  EXPECT_EQ(target.GetSize(), 1u);
}

TEST_F(Union, ReadOnlyTargetIsRefused) {
  std::string a = MakeSource("a", 3, 6), b = MakeSource("b", 3, 7);
  CDocServer first(a.c_str(), nullptr, kRead), second(b.c_str(), nullptr, kRead);
  CDocServer target(a.c_str(), nullptr, kRead);
  EXPECT_FALSE(target.Union(&first, &second));
  EXPECT_FALSE(target.Union(&target, &second));
  ExpectIndexMatchesDocuments(target);
}
