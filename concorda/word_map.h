// The word map of the document being indexed: its distinct words with their
// occurrence counts, and the count of documents indexed since the last
// memory flush. There is one of each per process, shared by every
// CDocServer, so only one document at a time is indexed in a process: the
// indexing operations of CDocServer hold IndexingMutex() for a whole
// document, which keeps two threads that index at once from corrupting them.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/sync.h"
#include "platform/windows_types.h"

namespace concorda {

class CWordMap {
 public:
  // Counts one occurrence of a word. A `stable` word stays where it is until
  // Clear (the document text); any other is copied.
  void Add(const char* word, std::size_t length, bool stable);
  // The distinct words that pass the admission test, with their counts, in
  // no particular order (the test runs once per distinct word).
  std::vector<std::pair<std::string_view, DWORD>> Admitted() const;
  void Clear();

  DWORD m_dwDocuments = 0;  // documents indexed since the last memory flush

 private:
  struct Slot {
    const char* word = nullptr;  // null: free
    DWORD length = 0;
    DWORD hash = 0;
    DWORD count = 0;
  };
  void Grow();

  std::vector<Slot> m_slots;          // open addressing, a power of two in size
  std::vector<DWORD> m_used;          // the occupied slots, for Admitted and Clear
  std::deque<std::string> m_copies;   // words that were not stable
};

// The process's word map and the mutex that guards it (re-entrant).
CWordMap& ProcessWordMap();
CMutex& IndexingMutex();

}  // namespace concorda
