// The search-result cache of the extension: the complete result list of every
// distinct query of the Search page, so that further pages of a query (and
// repeated queries) need no catalogue search. Each generation of the bases
// has its own (generation.h), shared by the requests of that generation.
//
// Entries are kept sorted by a 32-bit key (the hash of the query text) and
// found by bisection. Each entry also keeps its query text, and a lookup
// compares it: two queries whose keys collide keep separate entries instead
// of answering each other. The cache holds at most kMaxEntries + 1 entries;
// a new query arriving at a full cache first evicts half of it, the lower
// and the upper half of the key order by turns. Entries are never refreshed.
//
// Threads: every member may be called from any number of request threads.
// One mutex guards the entries and the eviction toggle; no catalogue call is
// made while it is held. Lists are immutable and shared: a list handed out by
// Find stays valid for its holder even when the cache evicts its entry.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows_types.h"
#include "portico/cache_counters.h"

namespace portico {

class CSearchCache {
 public:
  using List = std::shared_ptr<const std::vector<DWORD>>;

  // A new query evicts first when the cache holds more entries than this.
  static constexpr std::size_t kMaxEntries = 100;

  // The key of a query text: h = rotate-left(h, 5) - c - 48 over its signed
  // bytes and the terminating zero (the container's name hash).
  static DWORD Key(std::string_view query);

  // Lookups are also counted into `counters` from now on (it must outlive the cache).
  void CountInto(CCacheCounters* counters) { m_counters = counters; }
  // The cached list of the query, or null.
  List Find(const std::string& query) const;
  // Stores the list of a query that is not cached yet (evicting first when
  // the cache is full); a query already cached keeps its list.
  void Store(const std::string& query, List list);

  std::size_t Size() const;
  bool Contains(const std::string& query) const;
  // Lookups answered from the cache, and lookups that found nothing.
  std::size_t Hits() const;
  std::size_t Misses() const;

 private:
  struct Entry {
    DWORD dwKey;
    std::string strQuery;
    List list;
  };
  // The first entry of the query (key and text), or end.
  std::vector<Entry>::const_iterator Locate(DWORD key, const std::string& query) const;
  void Evict();

  mutable std::mutex m_mutex;
  std::vector<Entry> m_aEntries;  // ascending by key; equal keys adjacent
  int m_nToggle = 0;              // 0: the lower half goes next, 1: the upper half
  mutable std::size_t m_nHits = 0;
  mutable std::size_t m_nMisses = 0;
  CCacheCounters* m_counters = nullptr;
};

class CPorticoExtension;

// The complete, ascending result list of a Search query given as the Search
// page's argument string (search_query.h): from the extension's cache, or
// run over the catalogue and kept there. The Search page and the API share it.
// Null when the word pattern asks for more work than a query may cost
// (concorda::QueryLimits); nothing is kept for it.
CSearchCache::List SearchResults(CPorticoExtension& extension, std::string_view arguments);

}  // namespace portico
