// The documents of recent wildcard terms of one index: a pattern such as
// "*E*" walks the whole word table and gathers the topics of every word it
// matches, which is the bulk of what a query costs; the result is kept so
// that the next query with the same pattern (the next page, the same search
// from another reader, the pattern repeated in one query) costs a lookup.
// Entries hold the words the pattern matched too, which the query's budget
// is charged with whether or not the entry was cached.
//
// Threads: any member from any thread (one mutex). The owner clears the cache
// whenever its word table or topics change.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/windows_types.h"

namespace concorda {

struct TermEntry {
  std::size_t nWords = 0;     // words of the word table that the pattern matched
  bool bTableScan = false;    // finding them walked the whole word table
  std::vector<DWORD> aItems;  // their documents, ascending, without duplicates
};

class CTermCache {
 public:
  // At most this many patterns, and this many item indices over all of them.
  static constexpr std::size_t kMaxEntries = 64;
  static constexpr std::size_t kMaxItems = 4u << 20;

  std::shared_ptr<const TermEntry> Find(const std::string& term);
  // Keeps the entry (the least recently used go first when full); an entry
  // larger than the whole cache is not kept.
  void Store(const std::string& term, std::shared_ptr<const TermEntry> entry);
  void Clear();
  std::size_t Size() const;

 private:
  using Order = std::list<std::string>;  // most recently used first
  struct Slot {
    std::shared_ptr<const TermEntry> entry;
    Order::iterator place;
  };

  mutable std::mutex m_mutex;
  std::unordered_map<std::string, Slot> m_a;
  Order m_order;
  std::size_t m_nItems = 0;
};

}  // namespace concorda
