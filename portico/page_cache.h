// The rendered-page cache of the extension: the bytes of the Topic pages of
// large catalogue documents, so that a document read again is neither
// inflated nor searched for its ruling locations a second time. Each
// generation of the bases has its own (generation.h), and a generation's
// bases never change, so a page stays right as long as the cache lives; what
// the operator may change meanwhile (the publisher footer) is not part of an
// entry and is written afresh on every request.
//
// An entry holds the page in two parts, the bytes before and behind the
// place of the footer. Pages smaller than kMinPage are not kept (they are
// cheap to make, and a hostile client asking for every index would fill the
// cache with not-found pages); neither is a page larger than an eighth of
// the budget. The least recently used entries go first when the budget is
// exceeded. Budget: kDefaultBudget, or VAMU_PAGE_CACHE_MB megabytes from the
// server's environment (0 switches the cache off).
//
// Threads: every member may be called from any number of request threads;
// one mutex guards the entries, and entries are immutable and shared, so a
// page being written stays valid when the cache drops it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "portico/cache_counters.h"

namespace portico {

class CPageCache {
 public:
  struct Page {
    std::string head;          // up to the place of the footer
    std::string tail;          // behind it
    bool bFooter = false;      // the footer belongs between the two
  };
  using Entry = std::shared_ptr<const Page>;

  static constexpr std::size_t kDefaultBudget = 64u << 20;
  static constexpr std::size_t kMinPage = 64u << 10;

  CPageCache();
  explicit CPageCache(std::size_t budget) : m_budget(budget) {}

  // Lookups are counted into `counters` from now on (it must outlive the cache).
  void CountInto(CCacheCounters* counters) { m_counters = counters; }
  // The page of a catalogue index, or null.
  Entry Find(std::int32_t index);
  // Keeps a page unless it is too small or too large for the cache; a page
  // already kept stays as it is.
  void Store(std::int32_t index, Page page);

  std::size_t Bytes() const;
  std::size_t Budget() const { return m_budget; }
  bool Contains(std::int32_t index) const;

 private:
  using Order = std::list<std::int32_t>;  // most recently used first
  struct Slot {
    Entry page;
    Order::iterator position;
  };
  static std::size_t SizeOf(const Page& page) { return page.head.size() + page.tail.size(); }

  const std::size_t m_budget;
  mutable std::mutex m_mutex;
  std::unordered_map<std::int32_t, Slot> m_slots;
  Order m_order;
  std::size_t m_bytes = 0;
  CCacheCounters* m_counters = nullptr;
};

}  // namespace portico
