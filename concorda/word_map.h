// The word map of the document being indexed: its distinct admitted words
// with their occurrence counts, and the count of documents indexed since the
// last memory flush. There is one of each per process, shared by every
// CDocServer, so only one document at a time is indexed in a process: the
// indexing operations of CDocServer hold IndexingMutex() for a whole
// document, which keeps two threads that index at once from corrupting them.
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/sync.h"
#include "platform/windows_types.h"

namespace concorda {

class CWordMap {
 public:
  // Counts one occurrence of a word.
  void Add(const char* word, std::size_t length) { ++m_counts[std::string(word, length)]; }
  // The distinct words with their counts, in ascending unsigned byte order.
  std::vector<std::pair<const std::string*, DWORD>> Sorted() const;
  void Clear() { m_counts.clear(); }
  bool Empty() const { return m_counts.empty(); }

  DWORD m_dwDocuments = 0;  // documents indexed since the last memory flush

 private:
  std::unordered_map<std::string, DWORD> m_counts;
};

// The process's word map and the mutex that guards it (re-entrant).
CWordMap& ProcessWordMap();
CMutex& IndexingMutex();

}  // namespace concorda
