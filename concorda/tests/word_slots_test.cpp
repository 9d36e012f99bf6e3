// The hash index of the writer's word tables: words added and removed at
// random, under hashes chosen to collide (equal hashes of different words,
// runs that wrap round the end of the slots), are found exactly as a plain
// map of the same words finds them; the word table finds its words by it
// after removals.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "concorda/word_index.h"
#include "concorda/word_slots.h"

using namespace concorda;

namespace {

struct Rec {
  std::string word;
  DWORD hash;
};

bool Same(const Rec& r, std::string_view text) { return r.word == text; }

}  // namespace

TEST(WordSlots, FindsWhatAMapFindsThroughCollisionsRemovalsAndGrowth) {
  std::mt19937 rng(20261209);
  // Hashes from a small set whose low bits crowd the last and first slots
  // of a 1,024-slot table (runs wrap round its end) and repeat across
  // words, so probing, the hash check and the backward shift all work.
  const DWORD homes[] = {1021, 1022, 1023, 0, 1, 2, 500};
  auto hashOf = [&](int n) { return homes[n % 7] + (n % 3 == 0 ? 0u : static_cast<DWORD>(n % 5) << 10); };
  CWordSlots<Rec> slots;
  std::map<std::string, std::unique_ptr<Rec>> model;
  for (int step = 0; step < 20000; ++step) {
    const int n = static_cast<int>(rng() % 900);
    const std::string word = "W" + std::to_string(n);
    const DWORD hash = hashOf(n);
    auto it = model.find(word);
    if (it == model.end()) {
      auto rec = std::make_unique<Rec>(Rec{word, hash});
      slots.Insert(hash, rec.get());
      model.emplace(word, std::move(rec));
    } else if (rng() % 3 != 0) {
      slots.Erase(hash, it->second.get());
      model.erase(it);
    }
    if (step % 997 == 0 || step == 19999) {
      ASSERT_EQ(slots.Size(), model.size()) << step;
      for (int k = 0; k < 900; ++k) {
        const std::string w = "W" + std::to_string(k);
        const Rec* found = slots.Find(HashedWord{w, hashOf(k)}, Same);
        auto m = model.find(w);
        ASSERT_EQ(found, m == model.end() ? nullptr : m->second.get()) << "step " << step << " word " << w;
        // The probable record is one stored under that hash, when any is.
        const Rec* probable = slots.Probable(hashOf(k));
        if (found) {
          ASSERT_TRUE(probable && probable->hash == hashOf(k)) << w;
        }
      }
    }
  }
  // Erasing what is not there changes nothing.
  Rec stranger{"NONE", 1022};
  const std::size_t before = slots.Size();
  slots.Erase(stranger.hash, &stranger);
  EXPECT_EQ(slots.Size(), before);
  slots.Clear();
  EXPECT_EQ(slots.Find(HashedWord{"W1", hashOf(1)}, Same), nullptr);
  EXPECT_EQ(slots.Probable(hashOf(1)), nullptr);
}

TEST(WordSlots, TheWordTableFindsItsWordsAfterRemovals) {
  CWordTable table;
  std::vector<std::pair<std::size_t, WordIndex>> add;
  std::set<std::string> words;
  for (int i = 0; i < 3000; ++i) words.insert("S\xB3OWO" + std::to_string(i * 7919 % 100000));
  for (const std::string& w : words) {
    WordIndex r;
    r.m_pWord = strdup(w.c_str());
    add.emplace_back(table.Size() + add.size(), r);
  }
  table.InsertSorted(add);
  std::vector<bool> dead(table.Size());
  std::set<std::string> kept;
  for (std::size_t i = 0; i < table.Size(); ++i) {
    dead[i] = i % 3 == 1;
    if (!dead[i]) kept.insert(table[i].m_pWord);
  }
  table.RemoveMarked(dead);
  for (const std::string& w : words) {
    const WordIndex* r = table.Lookup(w);
    if (kept.count(w)) {
      ASSERT_NE(r, nullptr) << w;
      EXPECT_STREQ(r->m_pWord, w.c_str());
    } else {
      EXPECT_EQ(r, nullptr) << w;
    }
  }
  // A word that is a prefix of a stored one, or has one as its prefix, is another word.
  EXPECT_EQ(table.Lookup(std::string("S\xB3OWO1") + "23456789"), nullptr);
  EXPECT_EQ(table.Lookup("S\xB3OW"), nullptr);
}
