// Lookups of a cache that found what they sought and that did not, counted
// for the extension's report across the caches of every generation of the
// bases (each generation has caches of its own; the counts go on).
#pragma once

#include <atomic>
#include <cstdint>

namespace portico {

struct CCacheCounters {
  std::atomic<std::uint64_t> hits{0};
  std::atomic<std::uint64_t> misses{0};
  void Count(bool hit) { (hit ? hits : misses).fetch_add(1, std::memory_order_relaxed); }
};

// The lookups of every cache of a generation that the report shows.
struct CLookupCounters {
  CCacheCounters pages;        // document pages (Topic)
  CCacheCounters readerPages;  // pages without frames of whole acts
  CCacheCounters searches;     // result lists of the Search page
};

}  // namespace portico
