// Many documents stored with worker threads: the container and its positions
// file are the same byte for byte with 1, 2 and 4 workers and as stored one
// by one; a failing document stops the batch with the ones before it stored;
// two bases are indexed at once by two threads, each as if alone.
#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>

#include "concorda/document_batch.h"
#include "concorda/prepared_document.h"
#include "doc_fixture.h"

using namespace doctest;

namespace {

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Documents(int n, unsigned seed) {
  DocMaker maker(seed);
  std::vector<std::string> docs;
  for (int i = 0; i < n; ++i) docs.push_back(maker.Make(5 + i % 40) + (i % 3 ? " <A NAME=\"x\">koniec" : ""));
  return docs;
}

// Stores the documents into a new base at `path` through a batch of `jobs`
// workers; false (and the error) when the batch stopped.
bool BuildWithBatch(const std::string& path, const std::vector<std::string>& docs, unsigned jobs,
                    std::string* error = nullptr, std::size_t failAt = static_cast<std::size_t>(-1)) {
  GUID guid = TestGuid();
  CDocServer base(path.c_str(), &guid, kCreate);
  auto prepare = [&](std::size_t i, CPreparedDocument& doc, std::string& why) {
    if (i == failAt) {
      why = "d" + std::to_string(i) + ": cannot be read";
      return false;
    }
    CMemFile file(4096);
    file.Write(docs[i].data(), static_cast<UINT>(docs[i].size()));
    std::unique_ptr<_FILEITEM, void (*)(_FILEITEM*)> item(MakeFileItem(("d" + std::to_string(i)).c_str()),
                                                          &CFileServer::FreeFileItem);
    const std::string keys = "K" + std::to_string(i % 7);
    return doc.Prepare(file, item.get(), keys.c_str(), 2);
  };
  auto store = [&](std::size_t, CPreparedDocument& doc, std::string&) {
    return base.StorePrepared(doc, base.GetSize(), false) != CFileServer::kNoItem;
  };
  return concorda::RunDocumentBatch(docs.size(), jobs, prepare, store, error);
}

}  // namespace

TEST(DocumentBatch, TheBaseIsTheSameWhateverTheNumberOfWorkers) {
  TempDir dir;
  const std::vector<std::string> docs = Documents(300, 5);
  {
    GUID guid = TestGuid();
    CDocServer base(dir.File("plain.vq").c_str(), &guid, kCreate);
    for (std::size_t i = 0; i < docs.size(); ++i)
      AddDoc(base, "d" + std::to_string(i), docs[i], ("K" + std::to_string(i % 7)).c_str());
  }
  const std::string plain = Bytes(dir.File("plain.vq")), plainPositions = Bytes(dir.File("plain.vqp"));
  ASSERT_GT(plain.size(), 10000u);
  ASSERT_GT(plainPositions.size(), 1000u);
  for (unsigned jobs : {1u, 2u, 4u}) {
    const std::string path = dir.File("batch" + std::to_string(jobs) + ".vq");
    ASSERT_TRUE(BuildWithBatch(path, docs, jobs)) << jobs;
    EXPECT_TRUE(Bytes(path) == plain) << jobs << " workers";
    EXPECT_TRUE(Bytes(path + "p") == plainPositions) << jobs << " workers";
  }
  CDocServer base(dir.File("batch4.vq").c_str(), nullptr, kRead);
  ExpectIndexMatchesDocuments(base);
}

// The topics of appended documents wait and go into the word table in one
// pass when it is next used; a base whose table is used after every document
// merges them one document at a time, the way the table was kept before. The
// files must not tell the two apart, also when the memory flush writes the
// lists out between (the words then wait behind lists stored in index files).
TEST(DocumentBatch, TopicsMergedAtTheEndWriteTheBytesOfTopicsMergedDocumentByDocument) {
  TempDir dir;
  const std::vector<std::string> docs = Documents(240, 9);
  for (DWORD flushEvery : {100000u, 7u}) {
    CDocServer::SetMemoryFlushInterval(flushEvery);
    std::vector<DWORD> wordCounts;
    for (const char* name : {"waiting.vq", "one_by_one.vq"}) {
      GUID guid = TestGuid();
      CDocServer base(dir.File(name).c_str(), &guid, kCreate);
      const bool oneByOne = name[0] == 'o';
      for (std::size_t i = 0; i < docs.size(); ++i) {
        AddDoc(base, "d" + std::to_string(i), docs[i], ("K" + std::to_string(i % 7)).c_str());
        if (oneByOne) wordCounts.push_back(base.GetWordCount());
      }
    }
    CDocServer::SetMemoryFlushInterval(100000);
    // The first document's words are in the table as soon as it is asked.
    ASSERT_EQ(wordCounts.size(), docs.size());
    EXPECT_GT(wordCounts.front(), 0u);
    const std::string waiting = Bytes(dir.File("waiting.vq"));
    ASSERT_GT(waiting.size(), 10000u);
    EXPECT_TRUE(waiting == Bytes(dir.File("one_by_one.vq"))) << "flush every " << flushEvery;
    EXPECT_TRUE(Bytes(dir.File("waiting.vqp")) == Bytes(dir.File("one_by_one.vqp"))) << "flush every " << flushEvery;
    CDocServer base(dir.File("waiting.vq").c_str(), nullptr, kRead);
    ExpectIndexMatchesDocuments(base);
  }
}

TEST(DocumentBatch, AFailingDocumentStopsTheBatchAfterTheOnesBeforeIt) {
  TempDir dir;
  const std::vector<std::string> docs = Documents(120, 9);
  for (unsigned jobs : {1u, 3u}) {
    const std::string path = dir.File("f" + std::to_string(jobs) + ".vq");
    std::string error;
    EXPECT_FALSE(BuildWithBatch(path, docs, jobs, &error, 57));
    EXPECT_EQ(error, "d57: cannot be read");
    CDocServer base(path.c_str(), nullptr, kRead);
    EXPECT_EQ(base.GetItemIndex("d56"), 56u);
    EXPECT_EQ(base.GetItemIndex("d57"), CFileServer::kNoItem);
    EXPECT_EQ(base.GetItemIndex("d58"), CFileServer::kNoItem);
    ExpectIndexMatchesDocuments(base);
  }
}

TEST(DocumentBatch, TwoBasesAreIndexedAtOnceByTwoThreads) {
  // Each index object has its own word map: two threads indexing two bases
  // neither wait for each other nor mix their words.
  TempDir dir;
  const std::vector<std::string> a = Documents(400, 1), b = Documents(400, 2);
  auto build = [&](const std::string& path, const std::vector<std::string>& docs) {
    GUID guid = TestGuid();
    CDocServer base(path.c_str(), &guid, kCreate);
    for (std::size_t i = 0; i < docs.size(); ++i) AddDoc(base, "d" + std::to_string(i), docs[i]);
  };
  build(dir.File("a-alone.vq"), a);
  build(dir.File("b-alone.vq"), b);
  std::thread first([&] { build(dir.File("a.vq"), a); });
  std::thread second([&] { build(dir.File("b.vq"), b); });
  first.join();
  second.join();
  EXPECT_TRUE(Bytes(dir.File("a.vq")) == Bytes(dir.File("a-alone.vq")));
  EXPECT_TRUE(Bytes(dir.File("b.vq")) == Bytes(dir.File("b-alone.vq")));
  for (const char* name : {"a.vq", "b.vq"}) {
    CDocServer base(dir.File(name).c_str(), nullptr, kRead);
    ExpectIndexMatchesDocuments(base);
  }
}

TEST(DocumentBatch, IndexingOneBaseDoesNotWaitForAnother) {
  // While a document of base A is being read, base B stores and indexes a
  // document. With one lock for all indexing of the process, B would wait
  // for A, which waits for B: A's wait would run out.
  TempDir dir;
  GUID guid = TestGuid();
  CDocServer a(dir.File("a.vq").c_str(), &guid, kCreate), b(dir.File("b.vq").c_str(), &guid, kCreate);
  std::promise<void> bIndexed;
  std::future<void> bDone = bIndexed.get_future();
  struct WaitingSource : CMemFile {
    std::future<void>* other = nullptr;
    bool waited = false, ranOut = false;
    UINT Read(void* buffer, UINT count) override {
      if (!waited) {
        waited = true;
        ranOut = other->wait_for(std::chrono::seconds(20)) != std::future_status::ready;
      }
      return CMemFile::Read(buffer, count);
    }
  } source;
  source.other = &bDone;
  source.Write("kodeks pracy", 12);
  std::thread first([&] {
    _FILEITEM* item = MakeFileItem("a1");
    a.AddFile(source, item, nullptr, 2);
    CFileServer::FreeFileItem(item);
  });
  std::thread second([&] {
    AddDoc(b, "b1", "ustawa o sądach");
    bIndexed.set_value();
  });
  first.join();
  second.join();
  EXPECT_TRUE(source.waited);
  EXPECT_FALSE(source.ranOut) << "base B waited for base A";
  EXPECT_EQ(Query(a, "kodeks"), std::vector<DWORD>{0});
  EXPECT_EQ(Query(b, "sądach"), std::vector<DWORD>{0});
}
