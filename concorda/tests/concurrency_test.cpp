// Many request threads query one read-only index at once: the lazy topic
// loading, the file cache and the lazy suffix index must give every thread
// the answers one thread alone gets.
#include <atomic>
#include <thread>

#include "doc_fixture.h"

using namespace doctest;

TEST(Concurrency, ParallelQueriesEqualSingleThreadedOnes) {
  TempDir dir;
  std::string path = dir.File("c.vq");
  GUID guid = TestGuid();
  {
    // Some thousands of words, so that many lists are loaded at the same time.
    static const char* const kSyllables[] = {"ka", "zo", "ły", "wa", "mi", "ustą", "pra", "ko", "dek", "sów",
                                             "rze", "ni", "ta", "ście", "bo"};
    CDocServer writer(path.c_str(), &guid, kCreate);
    DocMaker maker(77);
    for (int i = 0; i < 400; ++i) {
      std::string text = maker.Make(5 + i % 40);
      for (int w = 0; w < 60; ++w)
        text += std::string(" ") + kSyllables[maker.Next() % 15] + kSyllables[maker.Next() % 15] +
                kSyllables[maker.Next() % 15];
      AddDoc(writer, "d" + std::to_string(i), text, ("K" + std::to_string(i % 50)).c_str());
    }
  }
  const std::vector<std::string> queries = {
      "**", "*A", "ustawa", "kodeks I pracy", "kodeks NIE karny", "*WA", "*ÓW", "*AD", "US*", "k?deks", "**",
      "(sąd trybunał) I 1997", "\"kodeks pracy\"", "\"sąd\" wyrok", "*TAW*", "orzeczenie NIE (1997 2004)",
      "złoty", "*ŁY", "2004 7", "NIE ustawa minister", "rozporządzenie", "*CJA", "KAZO*", "*SÓWBO", "?AŁY*",
      "kaławami I zozoły", "*WA NIE *ŚCIE", "(mi* ni*) I *ta"};
  std::vector<std::vector<DWORD>> expected;
  std::vector<std::vector<DWORD>> expectedKeys;
  {
    CDocServer reference(path.c_str(), nullptr, kRead);
    for (const auto& q : queries) expected.push_back(Query(reference, q.c_str()));
    for (int k = 0; k < 50; ++k) expectedKeys.push_back(KeyQuery(reference, ("K" + std::to_string(k)).c_str()));
  }
  ASSERT_FALSE(expected[0].empty());
  ASSERT_FALSE(expected[1].empty());  // a suffix query with results

  // Cold objects (nothing loaded, no suffix index yet), every thread starting
  // at the same moment on the same queries, so that they load the same lists
  // and build the same suffix index together.
  constexpr int kThreads = 8;
  std::atomic<int> mismatches{0};
  for (int round = 0; round < 6; ++round) {
    CDocServer shared(path.c_str(), nullptr, kRead);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        ++ready;
        while (ready < kThreads) std::this_thread::yield();
        for (std::size_t k = 0; k < queries.size(); ++k) {
          std::size_t q = (k + (t % 2) * round) % queries.size();
          if (Query(shared, queries[q].c_str()) != expected[q]) ++mismatches;
          int key = static_cast<int>((k + t) % 50);
          if (KeyQuery(shared, ("K" + std::to_string(key)).c_str()) != expectedKeys[key]) ++mismatches;
        }
      });
    }
    for (auto& th : threads) th.join();
  }
  EXPECT_EQ(mismatches.load(), 0);
}

// The word map is one per process: two threads that index into two bases at
// once take turns per document, and each base gets exactly its own words.
TEST(Concurrency, TwoThreadsIndexingAtOnceKeepTheirBasesApart) {
  TempDir dir;
  GUID guid = TestGuid();
  std::string paths[2] = {dir.File("a.vq"), dir.File("b.vq")};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      CDocServer base(paths[t].c_str(), &guid, kCreate);
      DocMaker maker(100 + t);
      for (int i = 0; i < 150; ++i)
        AddDoc(base, "d" + std::to_string(i), maker.Make(30) + (t ? " tylkobe" : " tylkoa"), t ? "B" : "A");
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 2; ++t) {
    CDocServer base(paths[t].c_str(), nullptr, kRead);
    ExpectIndexMatchesDocuments(base);
    EXPECT_EQ(Query(base, t ? "tylkoa" : "tylkobe").size(), 0u);
    EXPECT_EQ(KeyQuery(base, t ? "B" : "A").size(), 150u);
  }
}
