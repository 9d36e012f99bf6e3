// VerifyIndex: an index kept by CDocServer agrees with its documents through
// every kind of change, and each way an index can disagree with its documents
// or fail to load is reported.
#include "concorda/index_verify.h"

#include <string>
#include <vector>

#include "doc_fixture.h"

namespace {

using namespace doctest;

std::string Describe(const std::vector<CFileServer::Finding>& findings) {
  std::string s;
  for (const auto& f : findings)
    s += (f.slot == CFileServer::kNoItem ? std::string("index") : "slot " + std::to_string(f.slot)) + " " + f.item +
         ": " + f.what + "\n";
  return s;
}

bool Mentions(const std::vector<CFileServer::Finding>& findings, DWORD slot, const std::string& what) {
  for (const auto& f : findings)
    if (f.slot == slot && f.what.find(what) != std::string::npos) return true;
  return false;
}

class IndexVerify : public ::testing::Test {
 protected:
  std::vector<CFileServer::Finding> Check() {
    CDocServer s(path.c_str(), nullptr, kRead);
    EXPECT_TRUE(s.IsOpen());
    return concorda::VerifyIndex(s);
  }
  // Stores a document through the container alone, as a writer that does
  // not index would: at `slot`, before what is there or in its place.
  void StoreUnindexed(DWORD slot, const std::string& name, const std::string& text, bool replace) {
    CFileServer plain(path.c_str(), nullptr, kWrite);
    CMemFile file(4096);
    file.Write(text.data(), static_cast<UINT>(text.size()));
    file.SeekToBegin();
    _FILEITEM* item = MakeFileItem(name.c_str());
    if (replace) plain.ReplaceFile(file, item, slot, 2);
    else plain.InsertFile(file, item, slot, 2);
    CFileServer::FreeFileItem(item);
  }
  // A closed base of three documents with keys.
  void ThreeDocuments() {
    CDocServer s(path.c_str(), &guid, kCreate);
    AddDoc(s, "A.HTM", "<P>Ustawa o podatku dochodowym. Podatek, podatek!</P>", "K1");
    AddDoc(s, "B.HTM", "<P>Kodeks pracy i kodeks karny</P>", "K2");
    AddDoc(s, "C.HTM", "<P>Rozporządzenie ministra finansów</P>", "K1;K3");
  }

  TempDir dir;
  std::string path = dir.File("base.vq");
  GUID guid = TestGuid();
};

TEST_F(IndexVerify, IndexKeptByTheWritersAgreesThroughEveryChange) {
  DocMaker maker(5);
  CDocServer::SetMemoryFlushInterval(7);  // topic lists go through the index files as well
  auto s = std::make_unique<CDocServer>(path.c_str(), &guid, kCreate);
  EXPECT_TRUE(concorda::VerifyIndex(*s).empty());
  for (int step = 0; step < 60; ++step) {
    const DWORD size = s->GetSize();
    const std::string name = "D" + std::to_string(step) + ".HTM";
    const int op = static_cast<int>(maker.Next() % 10);
    if (op < 5 || size < 4) AddDoc(*s, name, maker.Make(20 + step % 30), "K");
    else if (op < 6) AddDoc(*s, name, maker.Make(15), nullptr, maker.Next() % 3);
    else if (op < 7) AddDoc(*s, name, maker.Make(10), nullptr, maker.Next() % 3, true);
    else if (op < 8) s->RemoveFile(maker.Next() % 3);
    else if (op < 9) ASSERT_TRUE(s->Compact());
    else {
      s->Close();
      const auto findings = Check();
      ASSERT_TRUE(findings.empty()) << "step " << step << "\n" << Describe(findings);
      s = std::make_unique<CDocServer>(path.c_str(), nullptr, kWrite);
    }
  }
  s->Close();
  CDocServer::SetMemoryFlushInterval(100000);
  const auto findings = Check();
  EXPECT_TRUE(findings.empty()) << Describe(findings);
}

TEST_F(IndexVerify, DocumentStoredWithoutIndexing) {
  ThreeDocuments();
  StoreUnindexed(3, "D.HTM", "<P>Trybunał orzekł</P>", false);
  const auto findings = Check();
  EXPECT_TRUE(Mentions(findings, 3, "word TRYBUNAŁ is in the document but not in the index")) << Describe(findings);
  EXPECT_TRUE(Mentions(findings, 3, "word ORZEKŁ")) << Describe(findings);
}

TEST_F(IndexVerify, DocumentReplacedBehindTheIndexesBack) {
  ThreeDocuments();
  StoreUnindexed(1, "B.HTM", "<P>Kodeks pracy</P>", true);
  const auto findings = Check();
  EXPECT_TRUE(Mentions(findings, 1, "the index lists word KARNY for this document, which does not hold it"))
      << Describe(findings);
  EXPECT_TRUE(Mentions(findings, 1, "word KODEKS: the index counts 2 occurrences, the document holds 1"))
      << Describe(findings);
  EXPECT_FALSE(Mentions(findings, 1, "PRACY"));
}

TEST_F(IndexVerify, TopicsAndKeysNamingNoDocument) {
  ThreeDocuments();
  {
    CFileServer plain(path.c_str(), nullptr, kWrite);
    plain.RemoveFile(2);  // C.HTM goes, its words and keys stay in the index
  }
  const auto findings = Check();
  EXPECT_TRUE(Mentions(findings, 2, "the index lists word ROZPORZĄDZENIE for item 2, which is no document"))
      << Describe(findings);
  bool key = false;
  for (const auto& f : findings) key = key || f.what.find("lists item 2, which is no document") != std::string::npos;
  EXPECT_TRUE(key) << Describe(findings);
}

TEST_F(IndexVerify, SystemFilesThatDoNotLoad) {
  ThreeDocuments();
  std::vector<BYTE> table;
  {
    CFileServer plain(path.c_str(), nullptr, kWrite);
    table = ReadRaw(plain, concorda::kWordTableName);
    ASSERT_GT(table.size(), 20u);
    std::vector<BYTE> cut(table.begin(), table.end() - 7);  // the word area cut short
    PutRaw(plain, concorda::kWordTableName, cut);
    plain.RemoveFile(plain.GetItemIndex(concorda::IndexFileName(0).c_str()));
  }
  auto findings = Check();
  EXPECT_TRUE(Mentions(findings, CFileServer::kNoItem, "index file 0 is missing")) << Describe(findings);
  bool damaged = false;
  for (const auto& f : findings) damaged = damaged || f.what.find("the word table is damaged") != std::string::npos;
  EXPECT_TRUE(damaged) << Describe(findings);
  {
    CFileServer plain(path.c_str(), nullptr, kWrite);
    plain.RemoveFile(plain.GetItemIndex(concorda::kKeyTableName));
    plain.RemoveFile(plain.GetItemIndex(concorda::kWordTableName));
  }
  findings = Check();
  EXPECT_TRUE(Mentions(findings, CFileServer::kNoItem, "the key table is missing")) << Describe(findings);
  EXPECT_TRUE(Mentions(findings, CFileServer::kNoItem, "the word table is missing")) << Describe(findings);
  EXPECT_TRUE(Mentions(findings, 0, "word USTAWA is in the document but not in the index")) << Describe(findings);
}

TEST_F(IndexVerify, ChangedTopicCount) {
  ThreeDocuments();
  {
    CFileServer plain(path.c_str(), nullptr, kWrite);
    std::vector<BYTE> file = ReadRaw(plain, concorda::IndexFileName(0));
    ASSERT_GT(file.size(), 12u);
    // Every topic of the file gets another occurrence count.
    const DWORD first = file[0] | file[1] << 8 | file[2] << 16 | file[3] << 24;
    for (DWORD slot = 0; slot * 4 < first; ++slot) {
      const BYTE* at = file.data() + 4 * slot;
      const DWORD offset = at[0] | at[1] << 8 | at[2] << 16 | at[3] << 24;
      const DWORD count = file[offset] | file[offset + 1] << 8;
      for (DWORD k = 0; k < count; ++k) file[offset + 4 + 4 * k + 3] ^= 0x40;
    }
    PutRaw(plain, concorda::IndexFileName(0), file);
  }
  const auto findings = Check();
  bool counts = false;
  for (const auto& f : findings) counts = counts || f.what.find("occurrences, the document holds") != std::string::npos;
  EXPECT_TRUE(counts) << Describe(findings);
}

TEST_F(IndexVerify, BaseWithoutDocumentsOrIndexIsSound) {
  { CDocServer s(path.c_str(), &guid, kCreate); }
  EXPECT_TRUE(Check().empty());
}

}  // namespace
