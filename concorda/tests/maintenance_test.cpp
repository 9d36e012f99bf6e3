// Index maintenance: storing, replacing, removing and inserting documents,
// the change log, the memory flush and compaction, each checked against the
// documents the container really holds, before and after write and reopen.
#include <cstdlib>
#include <optional>

#include "concorda/prepared_document.h"
#include "doc_fixture.h"

using namespace doctest;
using concorda::MakeTopic;

namespace {

class Maintenance : public ::testing::Test {
 protected:
  void Reopen(UINT mode = kWrite) {
    base.reset();
    base = std::make_unique<CDocServer>();
    ASSERT_TRUE(base->Init(path.c_str(), nullptr, mode));
  }
  // Checks the index in memory, then after write, close and reopen.
  void ExpectConsistentEverywhere() {
    ExpectIndexMatchesDocuments(*base, false);
    Reopen(kRead);
    ExpectIndexMatchesDocuments(*base);
    Reopen(kWrite);
  }
  DWORD WordPos(const char* word) {
    for (DWORD i = 0; i < base->GetWordCount(); ++i)
      if (std::string(base->GetWordAt(i)) == word) return i;
    return CFileServer::kNoItem;
  }

  TempDir dir;
  std::string path = dir.File("base.vq");
  GUID guid = TestGuid();
  std::unique_ptr<CDocServer> base = std::make_unique<CDocServer>(path.c_str(), &guid, kCreate);
};

}  // namespace

TEST_F(Maintenance, RepeatedWordsBecomeOneTopicWithACount) {
  AddDoc(*base, "a.htm", "Ustawa ustawa USTAWA oraz 1997");
  DWORD ustawa = WordPos("USTAWA");
  ASSERT_NE(ustawa, CFileServer::kNoItem);
  EXPECT_EQ(base->GetWordTopics(ustawa), std::vector<DWORD>{MakeTopic(0, 3)});
  EXPECT_EQ(base->GetWordTopics(WordPos("1997")), std::vector<DWORD>{MakeTopic(0, 1)});
  EXPECT_EQ(WordPos("ORAZ"), CFileServer::kNoItem);
  EXPECT_EQ(base->GetWordCount(), 2u);
}

TEST_F(Maintenance, OccurrenceCountIsCappedAt255) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "słowo ";
  AddDoc(*base, "a.htm", text);
  Reopen(kRead);
  EXPECT_EQ(base->GetWordTopics(0), std::vector<DWORD>{MakeTopic(0, 255)});
}

TEST_F(Maintenance, KeysSplitAtSemicolonsIncludingEmptyOnes) {
  AddDoc(*base, "a.htm", "tekst", "A;B;");
  AddDoc(*base, "b.htm", "tekst", nullptr);
  AddDoc(*base, "c.htm", "tekst", "B");
  EXPECT_EQ(base->GetKeyCount(), 3u);
  Reopen(kRead);
  EXPECT_EQ(KeyQuery(*base, "A"), std::vector<DWORD>{0});
  EXPECT_EQ(KeyQuery(*base, "B"), (std::vector<DWORD>{0, 2}));
  EXPECT_EQ(KeyQuery(*base, ""), std::vector<DWORD>{0});
  EXPECT_EQ(KeyQuery(*base, "C;A;B"), (std::vector<DWORD>{0, 2}));
  EXPECT_TRUE(KeyQuery(*base, "C").empty());
  // The document without keys is indexed by its words all the same.
  EXPECT_EQ(Query(*base, "tekst"), (std::vector<DWORD>{0, 1, 2}));
  WORD first = 7;
  EXPECT_EQ(base->FindFirstDocFromKey(nullptr, &first), CDocServer::NoFind());
  EXPECT_EQ(first, 7);
}

TEST_F(Maintenance, TopicListsCrossingTheStorageFormsSurviveWriteAndReload) {
  for (int i = 0; i < 256; ++i) AddDoc(*base, "d" + std::to_string(i), i < 255 ? "wspólne słowo" : "słowo");
  ExpectConsistentEverywhere();
  EXPECT_EQ(Query(*base, "wspólne").size(), 255u);
  EXPECT_EQ(Query(*base, "słowo").size(), 256u);
}

TEST_F(Maintenance, ReplacedDocumentKeepsItsIndexAndOnlyItsNewWords) {
  DocMaker maker(1);
  for (int i = 0; i < 12; ++i) AddDoc(*base, "d" + std::to_string(i), maker.Make(20), "K");
  Reopen(kWrite);  // the old words are now stored, the change applies to them at the next write
  AddDoc(*base, "new", "zupełnie inne słowa", "NEW", 4, true);
  EXPECT_EQ(Query(*base, "zupełnie"), std::vector<DWORD>{4});
  ExpectConsistentEverywhere();
  EXPECT_EQ(Query(*base, "zupełnie"), std::vector<DWORD>{4});
  EXPECT_EQ(KeyQuery(*base, "NEW"), std::vector<DWORD>{4});
  std::vector<DWORD> k = KeyQuery(*base, "K");
  EXPECT_EQ(std::count(k.begin(), k.end(), 4u), 0);
  EXPECT_EQ(k.size(), 11u);
}

TEST_F(Maintenance, ReplacingTwiceBeforeAWriteKeepsTheLastDocument) {
  AddDoc(*base, "a", "pierwsza wersja");
  AddDoc(*base, "b", "inny dokument");
  AddDoc(*base, "a", "druga wersja", nullptr, 0, true);
  AddDoc(*base, "a", "trzecia wersja", nullptr, 0, true);
  ExpectConsistentEverywhere();
  EXPECT_EQ(Query(*base, "trzecia"), std::vector<DWORD>{0});
  EXPECT_TRUE(Query(*base, "druga").empty());
  EXPECT_TRUE(Query(*base, "pierwsza").empty());
}

TEST_F(Maintenance, RemovedDocumentIsNotFoundBeforeAndAfterTheWrite) {
  AddDoc(*base, "a", "alfa beta", "KA");
  AddDoc(*base, "b", "beta gamma", "KB");
  base->RemoveFile(0);
  EXPECT_EQ(Query(*base, "beta"), std::vector<DWORD>{1});
  EXPECT_TRUE(Query(*base, "alfa").empty());
  ExpectConsistentEverywhere();
  EXPECT_TRUE(KeyQuery(*base, "KA").empty());
  EXPECT_EQ(KeyQuery(*base, "KB"), std::vector<DWORD>{1});
}

TEST_F(Maintenance, RemovalFromACompactedContainerIsWrittenAtClose) {
  AddDoc(*base, "a", "alfa beta");
  AddDoc(*base, "b", "beta gamma");
  Reopen(kWrite);
  ASSERT_TRUE(base->Compact());
  ASSERT_EQ(base->GetLayout(), 1u);
  base->RemoveFile(1);  // leaves the layout flag at 1
  Reopen(kRead);
  EXPECT_TRUE(Query(*base, "gamma").empty());
  EXPECT_EQ(Query(*base, "beta"), std::vector<DWORD>{0});
}

TEST_F(Maintenance, DocumentInsertedBeforeTheEndIsFoundAtItsIndex) {
  DocMaker maker(2);
  for (int i = 0; i < 10; ++i) AddDoc(*base, "d" + std::to_string(i), maker.Make(15), ("K" + std::to_string(i)).c_str());
  Reopen(kWrite);
  AddDoc(*base, "ins", "wstawiony dokument", "KI", 3);
  EXPECT_EQ(Query(*base, "wstawiony"), std::vector<DWORD>{3});
  EXPECT_EQ(KeyQuery(*base, "K3"), std::vector<DWORD>{4});  // moved up by one
  EXPECT_EQ(KeyQuery(*base, "KI"), std::vector<DWORD>{3});
  ExpectConsistentEverywhere();
  EXPECT_EQ(Query(*base, "wstawiony"), std::vector<DWORD>{3});
}

TEST_F(Maintenance, ChangesInterleavedWithNewDocumentsStayConsistent) {
  DocMaker maker(3);
  for (int i = 0; i < 30; ++i) AddDoc(*base, "d" + std::to_string(i), maker.Make(12));
  Reopen(kWrite);
  for (int round = 0; round < 40; ++round) {
    DWORD size = base->GetSize();
    DWORD at = maker.Next() % (size ? size : 1);
    switch (maker.Next() % 4) {
      case 0: AddDoc(*base, "n" + std::to_string(round), maker.Make(10)); break;
      case 1: AddDoc(*base, "i" + std::to_string(round), maker.Make(10), nullptr, at); break;
      case 2: AddDoc(*base, "r" + std::to_string(round), maker.Make(10), nullptr, at, true); break;
      case 3: base->RemoveFile(at); break;
    }
    if (round % 10 == 9) ExpectConsistentEverywhere();
  }
  ExpectIndexMatchesDocuments(*base, false);
}

TEST_F(Maintenance, CompactionRenumbersTheIndexLikeTheContainer) {
  DocMaker maker(4);
  for (int i = 0; i < 25; ++i) AddDoc(*base, "d" + std::to_string(i), maker.Make(12), ("K" + std::to_string(i)).c_str());
  Reopen(kWrite);
  for (DWORD i : {0u, 3u, 4u, 10u, 24u}) base->RemoveFile(i);
  AddDoc(*base, "x", "po kompakcji", "KX", 7);
  AddDoc(*base, "y", maker.Make(12), nullptr, 2, true);
  ASSERT_TRUE(base->Compact());
  EXPECT_EQ(base->GetLayout(), 1u);
  EXPECT_EQ(CDocServerProbe::PendingChanges(*base), 0u);
  // Close writes nothing more after a compaction: what is on disk must fit.
  ExpectIndexMatchesDocuments(*base);
  Reopen(kRead);
  ExpectIndexMatchesDocuments(*base);
  EXPECT_EQ(base->GetLayout(), 1u);
  // 5 removed, one inserted: 21 documents and the system files.
  DWORD documents = 0;
  for (DWORD i = 0; i < base->GetSize(); ++i) documents += base->IsSystemFile(i) ? 0 : 1;
  EXPECT_EQ(documents, 21u);
  // Slots 0, 3 and 4 were empty before K5's document: it moves from 5 to 2.
  EXPECT_EQ(KeyQuery(*base, "K5"), std::vector<DWORD>{2});
  EXPECT_EQ(KeyQuery(*base, "KX"), std::vector<DWORD>{4});  // inserted at 7, three empty slots before it
}

TEST_F(Maintenance, MemoryFlushWritesListsOutAndKeepsFrequentWords) {
  CDocServer::SetMemoryFlushInterval(5);
  DocMaker maker(5);
  for (int i = 0; i < 23; ++i) AddDoc(*base, "d" + std::to_string(i), maker.Make(25));
  // A document between the flushes (the flushes' index files lie among the
  // documents: slot 6 is the first of them).
  const DWORD d6 = base->GetItemIndex("d6");
  ASSERT_NE(d6, CFileServer::kNoItem);
  base->RemoveFile(d6);
  for (int i = 0; i < 7; ++i) AddDoc(*base, "e" + std::to_string(i), maker.Make(25));
  CDocServer::SetMemoryFlushInterval(100000);
  ExpectConsistentEverywhere();
}

// Appended documents' topics wait until the word table is used; every change
// of the container in between must move them (an insertion before them), drop
// them (their document removed) or find them merged (a replacement), exactly
// as it changes the topics already in the table.
TEST_F(Maintenance, TopicsOfAppendedDocumentsFollowTheChangesMadeWhileTheyWait) {
  DocMaker maker(11);
  for (int i = 0; i < 8; ++i) AddDoc(*base, "a" + std::to_string(i), maker.Make(15));
  Reopen(kWrite);  // the words stored so far are references into the index files now
  for (int i = 0; i < 6; ++i) AddDoc(*base, "b" + std::to_string(i), maker.Make(15));
  base->RemoveFile(base->GetItemIndex("b1"));            // a waiting document removed
  AddDoc(*base, "c0", maker.Make(15), nullptr, 3);        // inserted before all that wait
  AddDoc(*base, "c1", maker.Make(15), nullptr, 2);
  for (int i = 0; i < 4; ++i) AddDoc(*base, "d" + std::to_string(i), maker.Make(15));
  base->RemoveFile(base->GetItemIndex("d3"));            // the last waiting one removed
  for (int i = 0; i < 3; ++i) AddDoc(*base, "e" + std::to_string(i), maker.Make(15));
  AddDoc(*base, "e1", maker.Make(15), nullptr, base->GetItemIndex("e1"), true);  // a waiting one replaced
  for (int i = 0; i < 3; ++i) AddDoc(*base, "f" + std::to_string(i), maker.Make(15));
  ExpectIndexMatchesDocuments(*base, false);
  for (int i = 0; i < 5; ++i) AddDoc(*base, "g" + std::to_string(i), maker.Make(15));
  base->RemoveFile(base->GetItemIndex("g2"));
  base->RemoveFile(base->GetItemIndex("a4"));
  // Compaction reports each empty slot as deleted, items above moving down,
  // while the "g" documents wait.
  ASSERT_TRUE(base->Compact());
  ExpectIndexMatchesDocuments(*base);
  Reopen(kRead);
  ExpectIndexMatchesDocuments(*base);
}

TEST_F(Maintenance, ReadOnlyContainerIsNeverChanged) {
  AddDoc(*base, "a", "alfa");
  Reopen(kRead);
  const DWORD size = base->GetSize();
  const auto length = std::filesystem::file_size(path);
  EXPECT_EQ(AddDoc(*base, "b", "beta"), CFileServer::kNoItem);
  EXPECT_EQ(base->GetWordCount(), 1u);
  EXPECT_TRUE(Query(*base, "beta").empty());
  EXPECT_FALSE(base->Compact());
  Reopen(kRead);
  EXPECT_EQ(base->GetSize(), size);
  EXPECT_EQ(std::filesystem::file_size(path), length);
}

TEST_F(Maintenance, NothingIsRewrittenWhenNothingChanged) {
  AddDoc(*base, "a", "alfa");
  Reopen(kWrite);
  ASSERT_TRUE(base->Compact());
  auto length = std::filesystem::file_size(path);
  Reopen(kWrite);
  Reopen(kWrite);
  EXPECT_EQ(std::filesystem::file_size(path), length);
}

namespace {

// A source that fails while the container reads it.
class BrokenFile : public CMemFile {
 public:
  UINT Read(void*, UINT) override { throw CFileException(CFileException::hardIO, 5); }
};

}  // namespace

TEST_F(Maintenance, FailingToReadADocumentIsReportedAndStoresNothing) {
  AddDoc(*base, "a.htm", "ustawa");
  BrokenFile file;
  file.Write("abc", 3);
  _FILEITEM* item = MakeFileItem("x");
  // The library does not end the process: the caller learns of the failure.
  EXPECT_THROW(base->AddFile(file, item, nullptr, 2), CFileException);
  CFileServer::FreeFileItem(item);
  EXPECT_EQ(base->GetSize(), 1u);
  ExpectConsistentEverywhere();
}

TEST_F(Maintenance, ADocumentThatCannotBeIndexedIsNotStoredAndTheCallerIsTold) {
  // A source that says it is larger than the container can hold: before,
  // it was stored, "Not memory" was shown and its index returned.
  struct Huge : CMemFile {
    ULONGLONG GetLength() const override { return 0xFFFFFFFFull; }
  } huge;
  _FILEITEM* item = MakeFileItem("huge.htm");
  EXPECT_EQ(base->AddFile(huge, item, nullptr, 2), CFileServer::kNoItem);
  CPreparedDocument doc;
  EXPECT_FALSE(doc.Prepare(huge, item, nullptr, 2));
  EXPECT_NE(doc.Error().find("huge.htm: 4294967295 bytes are too large"), std::string::npos) << doc.Error();
  CFileServer::FreeFileItem(item);
  EXPECT_EQ(base->GetSize(), 0u);
}

namespace {

// Points TMPDIR, where the index is built before it is stored, at /proc for
// the scope: no file can be made there, not even by root (the tests run as
// root, so a directory without write permission would not do).
class NoScratchFiles {
 public:
  NoScratchFiles() {
    if (const char* old = std::getenv("TMPDIR")) m_old = old;
    ::setenv("TMPDIR", "/proc", 1);
  }
  ~NoScratchFiles() {
    if (m_old) ::setenv("TMPDIR", m_old->c_str(), 1);
    else ::unsetenv("TMPDIR");
  }
  NoScratchFiles(const NoScratchFiles&) = delete;
  NoScratchFiles& operator=(const NoScratchFiles&) = delete;

 private:
  std::optional<std::string> m_old;
};

}  // namespace

TEST_F(Maintenance, AnIndexThatCannotBeWrittenIsAFailureNamingTheBase) {
  AddDoc(*base, "a", "alfa wspólna", "KA");
  Reopen(kWrite);
  AddDoc(*base, "b", "beta wspólna", "KB");
  {
    NoScratchFiles noScratch;
    ASSERT_FALSE(CreateTempFile(TempDirectory())) << "a file could be made in " << TempDirectory();
    // Before, Close showed "No fs" and returned as if the index were written.
    try {
      base->Close();
      ADD_FAILURE() << "closing a base whose index could not be written reported success";
    } catch (const CXException& e) {
      EXPECT_NE(e.GetErrorMessage().find(path), std::string::npos) << e.GetErrorMessage();
      EXPECT_NE(e.GetErrorMessage().find("the index cannot be written"), std::string::npos) << e.GetErrorMessage();
    }
  }
  // The index written before the failure is still whole and answers.
  Reopen(kRead);
  EXPECT_EQ(Query(*base, "alfa"), std::vector<DWORD>{0});
  EXPECT_EQ(KeyQuery(*base, "KA"), std::vector<DWORD>{0});
}

TEST_F(Maintenance, ABaseMadeInOneSessionWritesItsIndexWithoutAScratchFile) {
  // Every word's documents are in memory then, and no stored index file is
  // read while the new ones are stored: they go straight into the base,
  // without a copy of the whole index in TMPDIR. A second session that
  // leaves words in the stored files still builds through the scratch file.
  DocMaker maker(5);
  for (int i = 0; i < 40; ++i) AddDoc(*base, "d" + std::to_string(i), maker.Make(30), ("K" + std::to_string(i)).c_str());
  {
    NoScratchFiles noScratch;
    ASSERT_FALSE(CreateTempFile(TempDirectory())) << "a file could be made in " << TempDirectory();
    EXPECT_NO_THROW(base->Close());
  }
  Reopen(kRead);
  ASSERT_GE(CDocServerProbe::SystemFilesCount(*base), 3u);  // the key and word tables and an index file
  ExpectIndexMatchesDocuments(*base);
  EXPECT_EQ(KeyQuery(*base, "K7"), std::vector<DWORD>{7});
  Reopen(kWrite);
  AddDoc(*base, "e", maker.Make(30), "KE");
  {
    NoScratchFiles noScratch;
    EXPECT_THROW(base->Close(), CXException);
  }
  Reopen(kRead);
  EXPECT_EQ(KeyQuery(*base, "K7"), std::vector<DWORD>{7});  // the index written before, whole
}

TEST_F(Maintenance, ACompactionThatCannotWriteTheIndexFailsAndChangesNothing) {
  DocMaker maker(9);
  for (int i = 0; i < 12; ++i) AddDoc(*base, "d" + std::to_string(i), maker.Make(10), ("K" + std::to_string(i)).c_str());
  Reopen(kWrite);
  for (DWORD i : {1u, 5u}) base->RemoveFile(i);
  const DWORD size = base->GetSize();
  const std::vector<DWORD> k7 = KeyQuery(*base, "K7");
  ASSERT_EQ(k7, std::vector<DWORD>{7});
  {
    NoScratchFiles noScratch;
    // Before: FALSE, told apart from "a read-only base" by nothing.
    EXPECT_THROW(base->Compact(), CXException);
  }
  // Nothing was compacted: the same slots, keys and words, and the index
  // written at close agrees with the documents.
  EXPECT_EQ(base->GetSize(), size);
  EXPECT_EQ(KeyQuery(*base, "K7"), k7);
  EXPECT_TRUE(KeyQuery(*base, "K1").empty());
  ExpectConsistentEverywhere();
  EXPECT_EQ(KeyQuery(*base, "K7"), k7);
}
