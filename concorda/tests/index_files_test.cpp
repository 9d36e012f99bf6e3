// The system files: their stored forms, the size classes of the index files,
// the file cache, and damaged or missing system files.
#include <cstring>

#include "concorda/bytes.h"
#include "concorda/index_cache.h"
#include "concorda/key_table.h"
#include "doc_fixture.h"

using namespace doctest;
using namespace concorda;

namespace {

class IndexFiles : public ::testing::Test {
 protected:
  void Reopen(UINT mode) {
    base.reset();
    base = std::make_unique<CDocServer>();
    ASSERT_TRUE(base->Init(path.c_str(), nullptr, mode));
  }
  void Build(int documents, unsigned seed = 11) {
    DocMaker maker(seed);
    for (int i = 0; i < documents; ++i)
      AddDoc(*base, "d" + std::to_string(i), maker.Make(20), ("K" + std::to_string(i)).c_str());
  }
  // Rewrites a system file of the closed base behind the index's back.
  void Damage(const std::string& name, const std::vector<BYTE>& bytes) {
    base.reset();
    CFileServer raw(path.c_str(), nullptr, kWrite);
    ASSERT_TRUE(raw.IsOpen());
    PutRaw(raw, name, bytes);
    raw.Close();
    base = std::make_unique<CDocServer>();
    ASSERT_TRUE(base->Init(path.c_str(), nullptr, kRead));
  }
  std::vector<BYTE> Stored(const std::string& name) {
    base.reset();
    CFileServer raw(path.c_str(), nullptr, kRead);
    return ReadRaw(raw, name);
  }
  // Every topic names a document that really holds the word (damage may
  // lose results, never invent them).
  void ExpectNoFalseTopics() {
    auto ref = ScanDocuments(*base);
    for (DWORD i = 0; i < base->GetWordCount(); ++i) {
      const auto& docs = ref[base->GetWordAt(i)];
      for (DWORD t : base->GetWordTopics(i))
        EXPECT_TRUE(docs.count(TopicItem(t))) << base->GetWordAt(i) << " names item " << TopicItem(t);
      for (DWORD item : Query(*base, base->GetWordAt(i))) EXPECT_TRUE(docs.count(item)) << base->GetWordAt(i);
    }
  }
  // Adds `count` words with the given topic lists straight into the table.
  void Inject(const char* prefix, DWORD words, DWORD topics, DWORD firstItem = 0) {
    CWordTable& table = CDocServerProbe::Words(*base);
    std::vector<DWORD> list(topics);
    for (DWORD w = 0; w < words; ++w) {
      for (DWORD k = 0; k < topics; ++k) list[k] = MakeTopic(firstItem + w + k, 1);
      char name[32];
      std::snprintf(name, sizeof name, "%s%06u", prefix, w);
      WordIndex rec;
      rec.m_pWord = strdup(name);
      ASSERT_TRUE(AssignTopics(rec, list.data(), list.size()));
      table.Append(rec);
    }
    CDocServerProbe::MarkChanged(*base);
  }

  TempDir dir;
  std::string path = dir.File("base.vq");
  GUID guid = TestGuid();
  std::unique_ptr<CDocServer> base = std::make_unique<CDocServer>(path.c_str(), &guid, kCreate);
};

}  // namespace

TEST_F(IndexFiles, ContainerWithoutSystemFilesHasAnEmptyIndex) {
  base.reset();
  {
    CFileServer plain(path.c_str(), nullptr, kWrite);
    CMemFile doc(4096);
    doc.Write("ustawa kodeks", 13);
    doc.SeekToBegin();
    _FILEITEM* item = MakeFileItem("doc.htm");
    plain.AddFile(doc, item, 2);
    CFileServer::FreeFileItem(item);
  }
  Reopen(kRead);
  EXPECT_EQ(base->GetWordCount(), 0u);
  EXPECT_EQ(base->GetKeyCount(), 0u);
  EXPECT_TRUE(Query(*base, "ustawa").empty());
  EXPECT_TRUE(Query(*base, "**").empty());
  EXPECT_EQ(base->GetFileSize(0), 13u);  // the documents stay readable
}

TEST_F(IndexFiles, SystemFilesAreRecognisedByName) {
  AddDoc(*base, "doc.htm", "tekst");
  PutRaw(*base, kKeyTableName, {});
  PutRaw(*base, kWordTableName, {});
  PutRaw(*base, IndexFileName(17), {});
  PutRaw(*base, std::string(kIndexFilePrefix) + "xyz", {});
  PutRaw(*base, "WordIndexFile", {});
  PutRaw(*base, "HashKeyTable", {});
  EXPECT_FALSE(base->IsSystemFile(0));
  for (DWORD i = 1; i <= 4; ++i) EXPECT_TRUE(base->IsSystemFile(i)) << i;
  EXPECT_FALSE(base->IsSystemFile(5));
  EXPECT_FALSE(base->IsSystemFile(6));
  base->RemoveFile(1);
  EXPECT_FALSE(base->IsSystemFile(1));  // an empty slot is no system file
  EXPECT_FALSE(base->IsSystemFile(999));
  EXPECT_EQ(IndexFileName(0), std::string(kIndexFilePrefix) + "0");
  EXPECT_EQ(IndexFileName(12), std::string(kIndexFilePrefix) + "12");
}

TEST_F(IndexFiles, WrittenFilesHaveTheStoredForms) {
  Build(20);
  base.reset();
  CFileServer raw(path.c_str(), nullptr, kRead);
  DWORD words = raw.GetItemIndex(kWordTableName);
  ASSERT_NE(words, CFileServer::kNoItem);
  CFileServer::ItemInfo info;
  ASSERT_TRUE(raw.GetItemInfo(words, info));
  EXPECT_EQ(info.method, 2u);
  _FILEITEM* item = raw.GetItem(words);
  EXPECT_EQ(item->wSize, kSystemItemSize);
  CFileServer::FreeFileItem(item);

  std::vector<BYTE> table = ReadRaw(raw, kWordTableName);
  ASSERT_GE(table.size(), 8u);
  const DWORD n = GetDword(table.data()), s = GetDword(table.data() + 4);
  EXPECT_EQ(table.size(), 8 + 4 * std::size_t(n) + s);
  ParsedWordTable parsed = ParseWordTableFile(table.data(), table.size());
  EXPECT_TRUE(parsed.whole);
  ASSERT_EQ(parsed.words.size(), n);
  // Each reference leads to a block whose topics are the word's documents.
  auto ref = [&] {
    CDocServer reader(path.c_str(), nullptr, kRead);
    return ScanDocuments(reader);
  };
  raw.Close();
  auto docs = ref();
  CFileServer again(path.c_str(), nullptr, kRead);
  for (const auto& [offset, reference] : parsed.words) {
    std::string word = reinterpret_cast<const char*>(parsed.area.data() + offset);
    std::vector<BYTE> file = ReadRaw(again, IndexFileName(ReferenceFile(reference)));
    DWORD count = 0;
    const BYTE* topics = nullptr;
    ASSERT_TRUE(ReadIndexSlot(file.data(), file.size(), ReferenceSlot(reference), count, topics)) << word;
    ASSERT_EQ(count, docs[word].size()) << word;
    std::size_t k = 0;
    for (const auto& [doc, occurrences] : docs[word]) EXPECT_EQ(GetDword(topics + 4 * k++), MakeTopic(doc, occurrences));
  }
  CKeyTable keys;
  std::vector<BYTE> keyFile = ReadRaw(again, kKeyTableName);
  EXPECT_TRUE(keys.Parse(keyFile.data(), keyFile.size()));
  EXPECT_EQ(keys.Size(), 20u);
}

TEST_F(IndexFiles, SingleTopicWordsStayStoredUntilNeeded) {
  AddDoc(*base, "a", "jedyne słowo");
  Reopen(kRead);
  WordIndex& w = CDocServerProbe::Words(*base)[0];
  EXPECT_EQ(w.m_nCount, 0);
  // A query takes the word's documents from the positions file: it needs
  // no topics, and they stay stored.
  EXPECT_EQ(Query(*base, "jedyne"), std::vector<DWORD>{0});
  EXPECT_EQ(w.m_nCount, 0);
  EXPECT_EQ(base->GetWordTopics(0), std::vector<DWORD>{MakeTopic(0, 1)});
  EXPECT_EQ(w.m_nCount, 1);
  // Without the positions file, the query loads them from the index file.
  base.reset();
  ASSERT_TRUE(DeleteFileAt(path + "p"));
  Reopen(kRead);
  WordIndex& again = CDocServerProbe::Words(*base)[0];
  EXPECT_EQ(again.m_nCount, 0);
  EXPECT_EQ(Query(*base, "jedyne"), std::vector<DWORD>{0});
  EXPECT_EQ(again.m_nCount, 1);
}

TEST_F(IndexFiles, OneIndexFilePerNonEmptySizeClass) {
  // Words with 1, 2-3 and 8-15 topics: three classes.
  for (int i = 0; i < 10; ++i) {
    std::string text = "wszędzie";
    if (i < 3) text += " rzadko";
    if (i == 0) text += " raz";
    AddDoc(*base, "d" + std::to_string(i), text);
  }
  EXPECT_EQ(CDocServerProbe::SystemFilesCount(*base), 5u);
  Reopen(kRead);
  for (DWORD n = 0; n < 3; ++n) EXPECT_NE(base->GetItemIndex(IndexFileName(n).c_str()), CFileServer::kNoItem);
  EXPECT_EQ(base->GetItemIndex(IndexFileName(3).c_str()), CFileServer::kNoItem);
}

TEST_F(IndexFiles, LongListsShareAFileUntilTheRunningTotalIsReached) {
  Inject("DUZE", 5, 100000);
  // Each adds 32768: the fourth brings the total to 131072 and ends the file.
  EXPECT_EQ(CDocServerProbe::SystemFilesCount(*base), 4u);
  Reopen(kRead);
  EXPECT_NE(base->GetItemIndex(IndexFileName(1).c_str()), CFileServer::kNoItem);
  EXPECT_EQ(base->GetItemIndex(IndexFileName(2).c_str()), CFileServer::kNoItem);
  for (DWORD i = 0; i < 5; ++i) {
    std::vector<DWORD> topics = base->GetWordTopics(i);
    ASSERT_EQ(topics.size(), 100000u);
    EXPECT_EQ(TopicItem(topics.back()), i + 99999);
  }
}

TEST_F(IndexFiles, ManySingleTopicWordsKeepTheirOwnSlots) {
  // More words than a 16-bit slot number can name in one file.
  Inject("W", 70000, 1);
  Reopen(kRead);
  ASSERT_EQ(base->GetWordCount(), 70000u);
  for (DWORD i : {0u, 1u, 65535u, 65536u, 65537u, 69999u})
    EXPECT_EQ(base->GetWordTopics(i), std::vector<DWORD>{MakeTopic(i, 1)}) << i;
}

TEST_F(IndexFiles, IndexFilesBeyondTheNewCountAreRemoved) {
  AddDoc(*base, "a", "alfa beta");
  AddDoc(*base, "b", "alfa");
  Reopen(kWrite);  // two size classes: two index files
  _FILEITEM* second = base->GetItem(IndexFileName(1).c_str());
  ASSERT_NE(second, nullptr);
  CFileServer::FreeFileItem(second);
  AddDoc(*base, "b", "gamma", nullptr, 1, true);  // now every list has one topic
  Reopen(kWrite);  // (a list is classed by its stored length: ALFA moves at the next write)
  AddDoc(*base, "c", "delta");
  Reopen(kRead);
  EXPECT_EQ(base->GetItem(IndexFileName(1).c_str()), nullptr);
  ExpectIndexMatchesDocuments(*base);
}

TEST_F(IndexFiles, CacheHoldsAtMost1001FilesAndKeepsTheUsedOnes) {
  CIndexFileCache cache;
  int reads = 0;
  auto reader = [&](DWORD n, CMemFile& out) {
    ++reads;
    out.Write(&n, 4);
    return n != 5000;  // one file that cannot be read
  };
  for (int k = 0; k < 5; ++k) cache.Get(0, reader);  // file 0 is used often
  for (WORD n = 1; n <= 1200; ++n) {
    const CMemFile* f = cache.Get(n, reader);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(GetDword(f->GetBuffer()), n);
    ASSERT_LE(cache.Size(), CIndexFileCache::kMaxFiles);
  }
  EXPECT_EQ(cache.Size(), CIndexFileCache::kMaxFiles);
  int before = reads;
  cache.Get(0, reader);
  EXPECT_EQ(reads, before);  // still cached
  EXPECT_EQ(cache.Get(5000, reader), nullptr);
  cache.Clear();
  EXPECT_EQ(cache.Size(), 0u);
}

TEST_F(IndexFiles, TruncatedWordTableKeepsTheWordsBeforeTheCut) {
  Build(15);
  std::vector<BYTE> table = Stored(kWordTableName);
  ASSERT_GT(table.size(), 40u);
  table.resize(table.size() - 30);
  Damage(kWordTableName, table);
  EXPECT_GT(base->GetWordCount(), 0u);
  ExpectNoFalseTopics();
}

TEST_F(IndexFiles, HostileCountsInTheWordTableAreHarmless) {
  Build(5);
  const std::vector<BYTE> original = Stored(kWordTableName);
  std::vector<BYTE> table = original;
  SetDword(table.data(), 0xFFFFFFFF);      // N
  SetDword(table.data() + 4, 0x7FFFFFF0);  // S
  Damage(kWordTableName, table);
  EXPECT_EQ(base->GetWordCount(), 0u);
  // A smaller N would pair the words with the wrong references: nothing is taken.
  table = original;
  SetDword(table.data(), GetDword(table.data()) - 1);
  Damage(kWordTableName, table);
  EXPECT_EQ(base->GetWordCount(), 0u);
  Damage(kWordTableName, {1, 0, 0, 0});
  EXPECT_EQ(base->GetWordCount(), 0u);
  Damage(kWordTableName, {2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'A', 'B', 'C'});
  EXPECT_EQ(base->GetWordCount(), 0u);
  Damage(kWordTableName, original);
  ExpectIndexMatchesDocuments(*base);
}

TEST_F(IndexFiles, DamagedIndexFileAnswersNothingForItsWords) {
  Build(15);
  std::vector<BYTE> file = Stored(IndexFileName(0));
  ASSERT_GT(file.size(), 16u);
  SetDword(file.data() + 4, 0xFFFFFFF0);  // the second slot's block lies far outside
  Damage(IndexFileName(0), file);
  ExpectNoFalseTopics();
  // A block whose count runs past the end of the file.
  std::vector<BYTE> greedy = Stored(IndexFileName(0));
  SetDword(greedy.data() + GetDword(greedy.data()), 0x40000000);
  Damage(IndexFileName(0), greedy);
  ExpectNoFalseTopics();
  Damage(IndexFileName(0), {0xFF, 0xFF, 0xFF});
  ExpectNoFalseTopics();
  EXPECT_TRUE(Query(*base, "**").size() <= 15u);
}

TEST_F(IndexFiles, MissingIndexFileLeavesTheOtherWordsAnswering) {
  Build(300);  // long and short lists in several files
  base.reset();
  {
    CFileServer raw(path.c_str(), nullptr, kWrite);
    raw.RemoveFile(raw.GetItemIndex(IndexFileName(0).c_str()));
  }
  Reopen(kRead);
  ExpectNoFalseTopics();
  auto ref = ScanDocuments(*base);
  int answering = 0;
  for (DWORD i = 0; i < base->GetWordCount(); ++i)
    if (base->GetWordTopics(i).size() == ref[base->GetWordAt(i)].size()) ++answering;
  EXPECT_GT(answering, 0);
}

TEST_F(IndexFiles, WordsWithUnreadableTopicsDoNotPointAtAnotherWordsSlot) {
  Build(300);
  base.reset();
  {
    CFileServer raw(path.c_str(), nullptr, kWrite);
    raw.RemoveFile(raw.GetItemIndex(IndexFileName(0).c_str()));
  }
  Reopen(kWrite);
  AddDoc(*base, "nowy", "ustawa nowe słowo");  // the index is rewritten at close
  Reopen(kRead);
  ExpectNoFalseTopics();
  EXPECT_EQ(Query(*base, "nowe"), std::vector<DWORD>{base->GetItemIndex("nowy")});
  // The new document is found by a word whose old list was unreadable, too.
  std::vector<DWORD> ustawa = Query(*base, "ustawa");
  EXPECT_EQ(std::count(ustawa.begin(), ustawa.end(), base->GetItemIndex("nowy")), 1);
}

TEST_F(IndexFiles, DamagedKeyTableKeepsTheWholeKeys) {
  Build(10);
  std::vector<BYTE> keys = Stored(kKeyTableName);
  keys.resize(keys.size() - 6);  // the last lists are cut
  Damage(kKeyTableName, keys);
  EXPECT_GT(base->GetKeyCount(), 0u);
  EXPECT_LT(base->GetKeyCount(), 10u);
  for (int i = 0; i < 10; ++i) {
    std::vector<DWORD> found = KeyQuery(*base, ("K" + std::to_string(i)).c_str());
    EXPECT_TRUE(found.empty() || found == std::vector<DWORD>{DWORD(i)}) << i;
  }
  Damage(kKeyTableName, {0xFF, 0xFF, 0xFF, 0x0F, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_TRUE(KeyQuery(*base, "K1").empty());
}

TEST_F(IndexFiles, RandomGarbageInEverySystemFileNeverCrashes) {
  Build(30);
  DocMaker noise(99);
  for (int round = 0; round < 6; ++round) {
    for (const std::string& name : {std::string(kKeyTableName), std::string(kWordTableName), IndexFileName(0)}) {
      std::vector<BYTE> bytes = Stored(name);
      for (std::size_t k = 0; k < bytes.size() / 8 + 1 && !bytes.empty(); ++k)
        bytes[noise.Next() % bytes.size()] = static_cast<BYTE>(noise.Next());
      if (round % 2) bytes.resize(bytes.size() / 2);
      Damage(name, bytes);
    }
    // Flipped bytes may change answers; what comes back is still a proper result.
    for (const char* q : {"ustawa", "**", "*WA", "US*", "kodeks I pracy", "\"kodeks pracy\""}) {
      std::vector<DWORD> found = Query(*base, q);
      EXPECT_TRUE(std::is_sorted(found.begin(), found.end()) &&
                  std::adjacent_find(found.begin(), found.end()) == found.end());
    }
    KeyQuery(*base, "K1;K2");
    for (DWORD i = 0; i < base->GetWordCount(); ++i) base->GetWordTopics(i);
  }
}
