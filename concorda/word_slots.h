// CWordSlots: the hash index of the writing thread's word tables (the word
// table of the index, the positions of a session), from a word to the
// record that holds it.
//
// An open-addressing table of (hash, record) pairs, probed linearly. The
// records keep their words themselves; the table holds no text, only the
// 32-bit hash the threads that cut the documents computed (word_hash.h), so
// a word is compared only where the hashes agree. Unlike a table of linked
// nodes, where a lookup is a chain of dependent memory reads (bucket, node,
// key, record), the slot of a word is known from its hash alone: the writer
// asks for the slots of all of a document's words at once (PrefetchSlot),
// then for their records (Probable), and their cache misses overlap.
//
// At most half of the slots are used; removal shifts the slots after it back
// (no tombstones), so a table that has words added and removed for years
// stays as fast as a new one.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "concorda/word_hash.h"
#include "platform/windows_types.h"

namespace concorda {

template <class Record>
class CWordSlots {
 public:
  // Asks the processor for the slot where a search for `hash` starts (a hint only).
  void PrefetchSlot(DWORD hash) const {
    if (!m_slots.empty()) __builtin_prefetch(&m_slots[hash & m_mask]);
  }

  // The first record stored under `hash`, whatever its word: the record a
  // lookup will most likely compare, to ask for its memory early. Null when
  // no record has that hash.
  Record* Probable(DWORD hash) const {
    if (m_slots.empty()) return nullptr;
    for (std::size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
      const Slot& s = m_slots[i];
      if (!s.record) return nullptr;
      if (s.hash == hash) return s.record;
    }
  }

  // The record of `word`, or null; `same(record, text)` tells whether a
  // record holds the word `text`.
  template <class Same>
  Record* Find(const HashedWord& word, Same same) const {
    if (m_slots.empty()) return nullptr;
    for (std::size_t i = word.hash & m_mask;; i = (i + 1) & m_mask) {
      const Slot& s = m_slots[i];
      if (!s.record) return nullptr;
      if (s.hash == word.hash && same(*s.record, word.text)) return s.record;
    }
  }

  // Adds a record whose word the table does not hold yet.
  void Insert(DWORD hash, Record* record) {
    if (2 * (m_nUsed + 1) > m_slots.size()) Grow();
    Place(hash, record);
    ++m_nUsed;
  }

  // Removes `record`, stored under `hash`; nothing when it is not there.
  void Erase(DWORD hash, const Record* record) {
    if (m_slots.empty()) return;
    std::size_t i = hash & m_mask;
    while (m_slots[i].record != record) {
      if (!m_slots[i].record) return;
      i = (i + 1) & m_mask;
    }
    // Backward shift: a later slot of the run moves into the gap unless its
    // home lies cyclically in (gap, slot], where it would not be found.
    for (std::size_t j = (i + 1) & m_mask; m_slots[j].record; j = (j + 1) & m_mask) {
      const std::size_t home = m_slots[j].hash & m_mask;
      const bool reachable = i <= j ? (i < home && home <= j) : (i < home || home <= j);
      if (reachable) continue;
      m_slots[i] = m_slots[j];
      i = j;
    }
    m_slots[i] = Slot{};
    --m_nUsed;
  }

  std::size_t Size() const { return m_nUsed; }

  void Clear() {
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_mask = 0;
    m_nUsed = 0;
  }

 private:
  struct Slot {
    DWORD hash = 0;
    Record* record = nullptr;  // null: free
  };

  void Place(DWORD hash, Record* record) {
    std::size_t i = hash & m_mask;
    while (m_slots[i].record) i = (i + 1) & m_mask;
    m_slots[i] = Slot{hash, record};
  }

  void Grow() {
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(old.empty() ? 1024 : 2 * old.size(), Slot{});
    m_mask = m_slots.size() - 1;
    for (const Slot& s : old)
      if (s.record) Place(s.hash, s.record);
  }

  std::vector<Slot> m_slots;  // a power of two of them
  std::size_t m_mask = 0;
  std::size_t m_nUsed = 0;
};

}  // namespace concorda
