// The word table of the document index: one `WordIndex` per indexed word,
// sorted by word in unsigned byte order, each with its topics (the documents
// that contain the word). Used by CDocServer for indexing, writing and queries.
//
// A topic is 32 bits: item index in bits 0-23, occurrences in the document
// (capped at 255) in bits 24-31. A word's topics are kept in ascending order
// of item index, in one of four forms chosen by the count byte:
//   0        not in memory: the 4 bytes are the word's reference into the
//            index files (low 16 bits file number, high 16 bits slot)
//   1        one topic, held inline
//   2..254   that many topics in a plain array m_pdwTopic whose capacity is
//            the smallest power of two that is at least the count
//   255      a growable array m_paTopic holding 255 or more topics
// Allocation failures show "No m_pdwTopic", "No m_paTopic" or "No dw" (caption
// "WordIndex") and leave the word as it was.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "concorda/word_hash.h"
#include "concorda/word_slots.h"
#include "platform/windows_types.h"

namespace concorda {

constexpr DWORD kItemMask = 0x00FFFFFF;
constexpr BYTE kGrowableForm = 255;

inline DWORD TopicItem(DWORD topic) { return topic & kItemMask; }
inline DWORD MakeTopic(DWORD item, DWORD occurrences) {
  return (occurrences > 255 ? 255u : occurrences) << 24 | (item & kItemMask);
}
inline DWORD MakeReference(DWORD file, DWORD slot) { return (slot & 0xFFFF) << 16 | (file & 0xFFFF); }
inline DWORD ReferenceFile(DWORD ref) { return ref & 0xFFFF; }
inline DWORD ReferenceSlot(DWORD ref) { return ref >> 16; }

struct WordIndex {
  char* m_pWord = nullptr;  // NUL-terminated upper-case word
  BYTE m_nCount = 0;        // count byte, see above
  // Number of change records already applied to the topics held in memory
  // (meaningless while the topics are not in memory: stored topics predate
  // every pending record).
  DWORD m_dwLogPos = 0;
  union {
    DWORD m_dwRef;                   // count byte 0
    DWORD m_dwTopic;                 // count byte 1
    DWORD* m_pdwTopic;               // count byte 2..254
    std::vector<DWORD>* m_paTopic;   // count byte 255
  };
  WordIndex() : m_pdwTopic(nullptr) { m_dwRef = 0; }
};

// Topics held in memory (0 when the word is a reference).
DWORD TopicCount(const WordIndex& w);
// The topics held in memory; null when there are none.
const DWORD* TopicData(const WordIndex& w);
// True when the topics are in memory.
inline bool TopicsLoaded(const WordIndex& w) { return w.m_nCount != 0; }

// Replaces the word's topics by topics[0, count) in the form that suits the
// count; count 0 leaves the word as a reference `ref`. False (word unchanged)
// when memory runs out.
bool AssignTopics(WordIndex& w, const DWORD* topics, std::size_t count, DWORD ref = 0);
// Replaces the word's topics by `count` (>= 1) topics to be written through
// the pointer returned, in the form that suits the count (for one topic, the
// pointer is into `w` itself). Throws CMemoryException when memory runs out.
DWORD* MakeTopicRoom(WordIndex& w, std::size_t count);
// Inserts topic t at position pos of the in-memory list (a word with no topic
// in memory gets t as its only topic). False when memory runs out.
bool InsertTopic(WordIndex& w, std::size_t pos, DWORD t);
// Asks the processor for the end of the word's topic list, where a new
// document's topic goes (a hint only; for a growable list, its vector).
inline void PrefetchTopicEnd(const WordIndex& w) {
  if (w.m_nCount >= 2 && w.m_nCount < kGrowableForm) __builtin_prefetch(w.m_pdwTopic + w.m_nCount - 1);
  else if (w.m_nCount == kGrowableForm) __builtin_prefetch(w.m_paTopic);
}
// First position whose item index is not below `item`.
std::size_t TopicLowerBound(const WordIndex& w, DWORD item);
// Frees the topic storage and makes the word the reference `ref`.
void FreeTopics(WordIndex& w, DWORD ref);

// The word table: records sorted by word, unsigned byte order. The records
// themselves never move (the table orders pointers to them), so a writable
// table can also find a word through a hash index, without a binary search.
// The table owns the topic storage of its records; it owns the word strings
// when `ownsWords` (writable containers), otherwise they point into a block
// owned elsewhere.
class CWordTable {
 public:
  CWordTable() = default;
  CWordTable(const CWordTable&) = delete;
  CWordTable& operator=(const CWordTable&) = delete;
  ~CWordTable() { Clear(); }

  std::size_t Size() const { return m_a.size(); }
  WordIndex& operator[](std::size_t i) { return *m_a[i]; }
  const WordIndex& operator[](std::size_t i) const { return *m_a[i]; }

  // First position at or after `from` whose word is not below `word`.
  std::size_t LowerBound(const char* word, std::size_t from = 0) const;
  // Position of `word`, or npos.
  std::size_t Find(const char* word) const;
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  // The record of a word, or null (through the hash index of a table that owns its words).
  WordIndex* Lookup(std::string_view word) { return Lookup(HashedWord{word, WordHash(word)}); }
  WordIndex* Lookup(const HashedWord& word);
  // For looking up many words at once in an owning table: ask for the hash
  // slots of all of them first (a hint), then take the records the lookups
  // will most likely compare (null: none) and ask for their memory.
  void PrefetchSlot(DWORD hash) const { m_index.PrefetchSlot(hash); }
  const WordIndex* Probable(DWORD hash) const { return m_bOwnsWords ? m_index.Probable(hash) : nullptr; }

  // Sets whether the records own their word strings (before any is added);
  // an owning table keeps the hash index.
  void SetOwnsWords(bool owns);
  bool OwnsWords() const { return m_bOwnsWords; }
  // Inserts records at the given sorted positions (ascending, positions in
  // the table before the insertion) in one pass.
  void InsertSorted(std::vector<std::pair<std::size_t, WordIndex>>& added);
  // Makes room for n records.
  void Reserve(std::size_t n) { m_a.reserve(n); }
  void Append(const WordIndex& w) { m_a.push_back(NewRecord(w)); }
  // Removes the records whose `dead` flag is set, freeing their storage.
  void RemoveMarked(const std::vector<bool>& dead);
  // Frees everything and empties the table.
  void Clear();

 private:
  WordIndex* NewRecord(const WordIndex& w);
  void FreeRecord(WordIndex* w);

  std::vector<WordIndex*> m_a;                                // in word order
  std::vector<std::unique_ptr<WordIndex[]>> m_chunks;         // the records, 8192 to a chunk
  std::size_t m_nChunkUsed = 0;                               // records handed out of the last chunk
  std::vector<WordIndex*> m_free;                             // records of removed words
  CWordSlots<WordIndex> m_index;                              // owning tables only
  bool m_bOwnsWords = true;
};

}  // namespace concorda
