// The acts within the bounds of the Search form, kept per generation for the
// searches that ask for the same bounds. Nearly every search asks for the
// default bounds, which take every act of the collection: listing them from
// the table of acts, sorting and counting them took a fifth of a phrase
// search over 180,000 documents, and grows with the collection, while the
// word query itself does not. A few bounds are kept, the least recently used
// going first; each entry is read-only once made and stays valid for a
// search that holds it after its eviction.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "portico/result_items.h"
#include "portico/search_query.h"
#include "platform/windows_types.h"

class CSrvSrv;

namespace portico {

class CRangeCache {
 public:
  using Range = std::shared_ptr<const CPreparedRange>;

  // Bounds kept at once (each holds four bytes per act in range and a byte
  // per item number up to the highest).
  static constexpr std::size_t kMaxEntries = 4;

  // The acts of `catalogue` within the bounds, journals and mode of `fields`.
  // Made outside the lock: two requests that miss at once both make it and
  // the first stored is kept.
  Range Get(const CSrvSrv& catalogue, const SearchFields& fields);

  std::size_t Size() const;

 private:
  // What decides the range: the journals asked for, the mode, and the packed
  // bounds of each journal (the form's fields as the table sees them).
  struct Key {
    std::int32_t journals = 0;
    std::int32_t mode = 0;
    std::array<DWORD, 4> bounds{};
    bool operator==(const Key&) const = default;
  };
  static Key KeyOf(const SearchFields& fields);

  mutable std::mutex m_mutex;
  std::vector<std::pair<Key, Range>> m_entries;  // the most recently used last
};

}  // namespace portico
