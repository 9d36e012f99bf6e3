// Ordering and intersecting the item lists of a search: the acts within the
// bounds of the form come in the order of the table of acts, often a hundred
// thousand and more of them, and sorting them took most of a search. The
// items of a catalogue are numbered densely from 0, so they are counted
// instead, in one pass; a list whose numbers are sparse, or whose items
// repeat too often to count in a byte, is sorted as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/windows_types.h"

namespace portico {

// Sorts `items` ascending; each item stays as often as it was.
void SortItems(std::vector<DWORD>& items);

// The acts within the bounds of a search, made ready once for the hits of
// any number of queries (range_cache.h keeps them): sorted, and counted when
// their numbers allow, so that intersecting them with a query's hits costs
// in proportion to the hits, not to the acts in range (every act of the
// collection under the form's default bounds). Read-only once made.
class CPreparedRange {
 public:
  // `items` in any order, each as often as the range holds it.
  explicit CPreparedRange(std::vector<DWORD> items);

  // The range, ascending.
  const std::vector<DWORD>& Sorted() const { return m_sorted; }
  // The items that the range and `hits` both hold, ascending, each as often
  // as in the list where it is rarer (what std::set_intersection gives for
  // the two lists sorted). `hits` may come in any order; it is sorted on the way.
  std::vector<DWORD> Intersect(std::vector<DWORD>& hits) const;

 private:
  std::vector<DWORD> m_sorted;
  // Per item number up to the highest in range: how often the range holds
  // it. Empty when the numbers are sparse, the range short, or an item comes
  // 255 times or more: the sorted lists are intersected then.
  std::vector<std::uint8_t> m_counts;
};

// The items that both lists hold, as CPreparedRange::Intersect, for a range
// used once.
std::vector<DWORD> ItemsInBoth(const std::vector<DWORD>& range, std::vector<DWORD>& hits);

}  // namespace portico
